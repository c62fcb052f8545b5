// Internal to the stand-in host: what the files implementing the host interface share. Every
// API object is a small wrapper made fresh for each call over the session's user-interface state
// or the open document, so the reference count of the wrappers alive is exactly what the add-in
// holds. The implementations sit by area of the interface:
//   ApiApplication.cpp  application, user interface, commands and events, dialogs, viewport,
//                       camera and preferences (CoreAll.h)
//   ApiDocuments.cpp    documents, products, designs, components and occurrences (CoreAll.h,
//                       FusionAll.h)
//   ApiBodies.cpp       bodies, faces and their display meshes (FusionAll.h)
//   ApiAppearances.cpp  appearances, their properties, colours and textures (CoreAll.h)
//   Session.cpp         the session that tests and fusion-host drive, and the audit
#pragma once

#include <array>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FusionAll.h"
#include "Model.hpp"
#include "Session.hpp"

namespace host {

namespace core = adsk::core;
namespace fusion = adsk::fusion;
using core::Ptr;

struct DefinitionModel {
    std::string id, name, tooltip, resourceFolder;
    std::vector<core::CommandCreatedEventHandler*> createdHandlers;
};
using DefinitionRef = std::shared_ptr<DefinitionModel>;

struct ControlModel {
    std::string id;
    DefinitionRef definition;
    bool visible = true;
};

struct ControlsModel {
    std::vector<std::shared_ptr<ControlModel>> items;
};
using ControlsRef = std::shared_ptr<ControlsModel>;

struct ToolbarModel {
    std::string id;
    ControlsRef controls = std::make_shared<ControlsModel>();
};

struct PanelModel {
    std::string id;
    ControlsRef controls = std::make_shared<ControlsModel>();
};

struct WorkspaceModel {
    std::string id;
    std::vector<std::shared_ptr<PanelModel>> panels;
};

// One click's command: its execute handlers live as long as the command.
struct CommandModel {
    DefinitionRef definition;
    std::vector<core::CommandEventHandler*> executeHandlers;
};
using CommandRef = std::shared_ptr<CommandModel>;

struct SessionState {
    std::vector<DefinitionRef> definitions;
    std::vector<std::shared_ptr<ToolbarModel>> toolbars;
    std::vector<std::shared_ptr<WorkspaceModel>> workspaces;
    DocumentRef document;
    std::deque<std::optional<std::string>> answers;
    int unanswered = 0;
    std::vector<std::string> messages;
    std::vector<Session::DialogRecord> dialogs;
    std::function<void(const std::string&)> narrator;
    long meshArraysBeforeFault = 0;  // 0: no fault planned

    std::vector<std::string> errors;

    void say(const std::string& text) const {
        if (narrator) narrator(text);
    }
    void report(const std::string& text) {
        errors.push_back(text);
        say("error: " + text);
    }
};
using StateRef = std::shared_ptr<SessionState>;

// The session that Application::get() presents (Session.cpp).
StateRef& installed();

inline char* text(const std::string& s) {
    return core::detail::allocateText(s);
}

template <class T>
T* array(const std::optional<std::vector<T>>& values, std::size_t& count) {
    count = 0;
    if (!values) return nullptr;
    return core::detail::allocateArray(*values, count);
}

// Gives every implementation the object type of the interface it implements.
template <class I>
class Impl : public I {
  public:
    const char* objectType() const override { return I::classType(); }
};

template <class T, class... Args>
Ptr<T> make(Args&&... args) {
    return Ptr<T>(new T(std::forward<Args>(args)...));
}

// ---- geometry values ----------------------------------------------------------------------

class Vector3DImpl : public Impl<core::Vector3D> {
  public:
    Vector3DImpl(double x, double y, double z) : v_{x, y, z} {}
    double x() const override { return v_[0]; }
    double y() const override { return v_[1]; }
    double z() const override { return v_[2]; }
    bool normalize() override {
        double length = std::sqrt(v_[0] * v_[0] + v_[1] * v_[1] + v_[2] * v_[2]);
        if (!(length > 0.0) || !std::isfinite(length)) return false;
        for (double& c : v_) c /= length;
        return true;
    }

  private:
    double v_[3];
};

class Point3DImpl : public Impl<core::Point3D> {
  public:
    explicit Point3DImpl(const std::array<double, 3>& p) : p_(p) {}
    double x() const override { return p_[0]; }
    double y() const override { return p_[1]; }
    double z() const override { return p_[2]; }
    Ptr<core::Vector3D> vectorTo(const Ptr<core::Point3D>& other) const override {
        if (!other) return nullptr;
        return make<Vector3DImpl>(other->x() - p_[0], other->y() - p_[1], other->z() - p_[2]);
    }

  private:
    std::array<double, 3> p_;
};

class Matrix3DImpl : public Impl<core::Matrix3D> {
  public:
    explicit Matrix3DImpl(const Cells& cells) : cells_(cells) {}
    double getCell(int row, int column) const override {
        if (row < 0 || row > 3 || column < 0 || column > 3) return 0.0;
        return cells_[4 * row + column];
    }

  private:
    Cells cells_;
};

// ---- made in one area's file, used by another's ------------------------------------------------

// ApiApplication.cpp
Ptr<core::Application> provideApplication();
Ptr<core::CommandCreatedEventArgs> commandCreatedArgs(StateRef s, CommandRef c);
Ptr<core::CommandEventArgs> commandArgs(StateRef s, CommandRef c);
// ApiDocuments.cpp
Ptr<core::Document> documentOf(DocumentRef d);
// ApiBodies.cpp
Ptr<fusion::BRepBodies> bodiesOf(DocumentRef d, ComponentRef c);
// ApiAppearances.cpp: null for no appearance.
Ptr<core::Appearance> appearanceOf(const DocumentRef& d, const AppearanceRef& a);

}  // namespace host
