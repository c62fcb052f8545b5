// The stand-in host's implementation of the host interface: every API object is a small wrapper
// made fresh for each call over the session's user-interface state or the open document, so the
// reference count of the wrappers alive is exactly what the add-in holds.
#include "Session.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

#include "FusionAll.h"
#include "HostPlatform.hpp"

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

namespace {

// The session that Application::get() presents.
StateRef& installed() {
    static StateRef* state = new StateRef();  // outlives the add-in's static references
    return *state;
}

char* text(const std::string& s) {
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

// ---- commands and events --------------------------------------------------------------------

class CommandDefinitionImpl : public Impl<core::ButtonDefinition> {
  public:
    CommandDefinitionImpl(StateRef s, DefinitionRef d) : s_(std::move(s)), d_(std::move(d)) {}
    char* id_raw() const override { return text(d_->id); }
    char* name_raw() const override { return text(d_->name); }
    char* tooltip_raw() const override { return text(d_->tooltip); }
    char* resourceFolder_raw() const override { return text(d_->resourceFolder); }
    Ptr<core::CommandCreatedEvent> commandCreated() const override;

  private:
    StateRef s_;
    DefinitionRef d_;
};

class CommandCreatedEventImpl : public Impl<core::CommandCreatedEvent> {
  public:
    CommandCreatedEventImpl(StateRef s, DefinitionRef d) : s_(std::move(s)), d_(std::move(d)) {}
    char* name_raw() const override { return text("commandCreated"); }
    Ptr<core::Base> sender() const override { return make<CommandDefinitionImpl>(s_, d_); }
    // A handler added twice is notified twice, so an add-in that adds its handler again shows
    // up in the handler count instead of being silently forgiven.
    bool add(core::CommandCreatedEventHandler* handler) override {
        if (!handler) return false;
        auto& hs = d_->createdHandlers;
        hs.push_back(handler);
        s_->say("handler added to the command-created event of " + d_->id + " (" +
                std::to_string(hs.size()) + " now)");
        return true;
    }
    bool remove(core::CommandCreatedEventHandler* handler) override {
        auto& hs = d_->createdHandlers;
        auto found = std::find(hs.begin(), hs.end(), handler);
        if (found == hs.end()) return false;
        hs.erase(found);
        return true;
    }

  private:
    StateRef s_;
    DefinitionRef d_;
};

Ptr<core::CommandCreatedEvent> CommandDefinitionImpl::commandCreated() const {
    return make<CommandCreatedEventImpl>(s_, d_);
}

class CommandImpl;

class CommandEventImpl : public Impl<core::CommandEvent> {
  public:
    CommandEventImpl(StateRef s, CommandRef c) : s_(std::move(s)), c_(std::move(c)) {}
    char* name_raw() const override { return text("execute"); }
    Ptr<core::Base> sender() const override;
    bool add(core::CommandEventHandler* handler) override {
        if (!handler) return false;
        c_->executeHandlers.push_back(handler);
        return true;
    }
    bool remove(core::CommandEventHandler* handler) override {
        auto& hs = c_->executeHandlers;
        auto found = std::find(hs.begin(), hs.end(), handler);
        if (found == hs.end()) return false;
        hs.erase(found);
        return true;
    }

  private:
    StateRef s_;
    CommandRef c_;
};

class CommandImpl : public Impl<core::Command> {
  public:
    CommandImpl(StateRef s, CommandRef c) : s_(std::move(s)), c_(std::move(c)) {}
    Ptr<core::CommandEvent> execute() const override { return make<CommandEventImpl>(s_, c_); }
    Ptr<core::CommandDefinition> parentCommandDefinition() const override {
        return make<CommandDefinitionImpl>(s_, c_->definition);
    }

  private:
    StateRef s_;
    CommandRef c_;
};

Ptr<core::Base> CommandEventImpl::sender() const {
    return make<CommandImpl>(s_, c_);
}

class CommandCreatedEventArgsImpl : public Impl<core::CommandCreatedEventArgs> {
  public:
    CommandCreatedEventArgsImpl(StateRef s, CommandRef c) : s_(std::move(s)), c_(std::move(c)) {}
    Ptr<core::Event> firingEvent() const override {
        return make<CommandCreatedEventImpl>(s_, c_->definition);
    }
    Ptr<core::Command> command() const override { return make<CommandImpl>(s_, c_); }

  private:
    StateRef s_;
    CommandRef c_;
};

class CommandEventArgsImpl : public Impl<core::CommandEventArgs> {
  public:
    CommandEventArgsImpl(StateRef s, CommandRef c) : s_(std::move(s)), c_(std::move(c)) {}
    Ptr<core::Event> firingEvent() const override { return make<CommandEventImpl>(s_, c_); }

  private:
    StateRef s_;
    CommandRef c_;
};

// Like the real host, a relative resource folder lies beside the add-in library that names it
// (found from an address of its code); the main program stands for code linked into it.
std::string resolveResourceFolder(const std::string& folder, const void* caller) {
    namespace fs = std::filesystem;
    const fs::path path = platform::pathFromUtf8(folder);
    if (path.is_absolute()) return folder;
    return platform::utf8FromPath(
        (platform::moduleOf(caller).parent_path() / path).lexically_normal());
}

class CommandDefinitionsImpl : public Impl<core::CommandDefinitions> {
  public:
    explicit CommandDefinitionsImpl(StateRef s) : s_(std::move(s)) {}
    std::size_t count() const override { return s_->definitions.size(); }
    Ptr<core::CommandDefinition> item(std::size_t index) const override {
        if (index >= s_->definitions.size()) return nullptr;
        return make<CommandDefinitionImpl>(s_, s_->definitions[index]);
    }
    Ptr<core::CommandDefinition> itemById(const std::string& id) const override {
        for (const auto& d : s_->definitions)
            if (d->id == id) return make<CommandDefinitionImpl>(s_, d);
        return nullptr;
    }
    Ptr<core::ButtonDefinition> addButtonDefinition(const std::string& id, const std::string& name,
                                                    const std::string& tooltip,
                                                    const std::string& resourceFolder) override {
        if (id.empty() || itemById(id)) return nullptr;
        // The add-in calling is the one whose icons these are.
        const std::string folder =
            resolveResourceFolder(resourceFolder, __builtin_return_address(0));
        std::error_code ec;
        if (!std::filesystem::is_directory(platform::pathFromUtf8(folder), ec)) {
            s_->report("button definition " + id + ": resource folder \"" + resourceFolder +
                       "\" not found (" + folder + ")");
            return nullptr;
        }
        auto d = std::make_shared<DefinitionModel>(
            DefinitionModel{id, name, tooltip, resourceFolder, {}});
        s_->definitions.push_back(d);
        s_->say("button definition " + id + " \"" + name + "\" added (resources " + folder + ")");
        return make<CommandDefinitionImpl>(s_, d);
    }

  private:
    StateRef s_;
};

// ---- toolbars, panels, workspaces -----------------------------------------------------------

class CommandControlImpl : public Impl<core::CommandControl> {
  public:
    CommandControlImpl(StateRef s, std::shared_ptr<ControlModel> c)
        : s_(std::move(s)), c_(std::move(c)) {}
    char* id_raw() const override { return text(c_->id); }
    bool isVisible() const override { return c_->visible; }
    bool setVisible(bool visible) override {
        c_->visible = visible;
        return true;
    }
    Ptr<core::CommandDefinition> commandDefinition() const override {
        if (!c_->definition) return nullptr;
        return make<CommandDefinitionImpl>(s_, c_->definition);
    }

  private:
    StateRef s_;
    std::shared_ptr<ControlModel> c_;
};

class ToolbarControlsImpl : public Impl<core::ToolbarControls> {
  public:
    ToolbarControlsImpl(StateRef s, ControlsRef c, std::string place)
        : s_(std::move(s)), c_(std::move(c)), place_(std::move(place)) {}
    std::size_t count() const override { return c_->items.size(); }
    Ptr<core::ToolbarControl> item(std::size_t index) const override {
        if (index >= c_->items.size()) return nullptr;
        return make<CommandControlImpl>(s_, c_->items[index]);
    }
    Ptr<core::ToolbarControl> itemById(const std::string& id) const override {
        for (const auto& c : c_->items)
            if (c->id == id) return make<CommandControlImpl>(s_, c);
        return nullptr;
    }
    Ptr<core::CommandControl> addCommand(const Ptr<core::CommandDefinition>& definition,
                                         const std::string& positionId, bool isBefore) override {
        if (!definition) return nullptr;
        std::string id = definition->id();
        if (itemById(id)) return nullptr;
        DefinitionRef model;
        for (const auto& d : s_->definitions)
            if (d->id == id) model = d;
        if (!model) return nullptr;
        auto control = std::make_shared<ControlModel>(ControlModel{id, model, true});
        auto& items = c_->items;
        auto at = std::find_if(items.begin(), items.end(), [&](const auto& c) {
            return !positionId.empty() && c->id == positionId;
        });
        if (at != items.end() && !isBefore) ++at;
        items.insert(at, control);
        s_->say("control " + id + " added to " + place_);
        return make<CommandControlImpl>(s_, control);
    }

  private:
    StateRef s_;
    ControlsRef c_;
    std::string place_;
};

class ToolbarImpl : public Impl<core::Toolbar> {
  public:
    ToolbarImpl(StateRef s, std::shared_ptr<ToolbarModel> t) : s_(std::move(s)), t_(std::move(t)) {}
    char* id_raw() const override { return text(t_->id); }
    Ptr<core::ToolbarControls> controls() const override {
        return make<ToolbarControlsImpl>(s_, t_->controls, "toolbar " + t_->id);
    }

  private:
    StateRef s_;
    std::shared_ptr<ToolbarModel> t_;
};

class ToolbarsImpl : public Impl<core::Toolbars> {
  public:
    explicit ToolbarsImpl(StateRef s) : s_(std::move(s)) {}
    std::size_t count() const override { return s_->toolbars.size(); }
    Ptr<core::Toolbar> item(std::size_t index) const override {
        if (index >= s_->toolbars.size()) return nullptr;
        return make<ToolbarImpl>(s_, s_->toolbars[index]);
    }
    Ptr<core::Toolbar> itemById(const std::string& id) const override {
        for (const auto& t : s_->toolbars)
            if (t->id == id) return make<ToolbarImpl>(s_, t);
        return nullptr;
    }

  private:
    StateRef s_;
};

class ToolbarPanelImpl : public Impl<core::ToolbarPanel> {
  public:
    ToolbarPanelImpl(StateRef s, std::shared_ptr<PanelModel> p, std::string workspace)
        : s_(std::move(s)), p_(std::move(p)), workspace_(std::move(workspace)) {}
    char* id_raw() const override { return text(p_->id); }
    Ptr<core::ToolbarControls> controls() const override {
        return make<ToolbarControlsImpl>(s_, p_->controls,
                                         "workspace " + workspace_ + " panel " + p_->id);
    }

  private:
    StateRef s_;
    std::shared_ptr<PanelModel> p_;
    std::string workspace_;
};

class ToolbarPanelsImpl : public Impl<core::ToolbarPanels> {
  public:
    ToolbarPanelsImpl(StateRef s, std::shared_ptr<WorkspaceModel> w)
        : s_(std::move(s)), w_(std::move(w)) {}
    std::size_t count() const override { return w_->panels.size(); }
    Ptr<core::ToolbarPanel> item(std::size_t index) const override {
        if (index >= w_->panels.size()) return nullptr;
        return make<ToolbarPanelImpl>(s_, w_->panels[index], w_->id);
    }
    Ptr<core::ToolbarPanel> itemById(const std::string& id) const override {
        for (const auto& p : w_->panels)
            if (p->id == id) return make<ToolbarPanelImpl>(s_, p, w_->id);
        return nullptr;
    }

  private:
    StateRef s_;
    std::shared_ptr<WorkspaceModel> w_;
};

class WorkspaceImpl : public Impl<core::Workspace> {
  public:
    WorkspaceImpl(StateRef s, std::shared_ptr<WorkspaceModel> w)
        : s_(std::move(s)), w_(std::move(w)) {}
    char* id_raw() const override { return text(w_->id); }
    Ptr<core::ToolbarPanels> toolbarPanels() const override {
        return make<ToolbarPanelsImpl>(s_, w_);
    }

  private:
    StateRef s_;
    std::shared_ptr<WorkspaceModel> w_;
};

class WorkspacesImpl : public Impl<core::Workspaces> {
  public:
    explicit WorkspacesImpl(StateRef s) : s_(std::move(s)) {}
    std::size_t count() const override { return s_->workspaces.size(); }
    Ptr<core::Workspace> item(std::size_t index) const override {
        if (index >= s_->workspaces.size()) return nullptr;
        return make<WorkspaceImpl>(s_, s_->workspaces[index]);
    }
    Ptr<core::Workspace> itemById(const std::string& id) const override {
        for (const auto& w : s_->workspaces)
            if (w->id == id) return make<WorkspaceImpl>(s_, w);
        return nullptr;
    }

  private:
    StateRef s_;
};

// ---- dialogs and user interface -------------------------------------------------------------

class FileDialogImpl : public Impl<core::FileDialog> {
  public:
    explicit FileDialogImpl(StateRef s) : s_(std::move(s)) {}
    bool setFilter(const std::string& filter) override {
        r_.filter = filter;
        return true;
    }
    bool setFilterIndex(int index) override {
        r_.filterIndex = index;
        return true;
    }
    bool setInitialDirectory(const std::string& directory) override {
        r_.initialDirectory = directory;
        return true;
    }
    bool setInitialFilename(const std::string& filename) override {
        r_.initialFilename = filename;
        return true;
    }
    core::DialogResults showSave() override {
        chosen_.reset();
        std::string shown = "save dialog (filter \"" + r_.filter + "\", folder \"" +
                            r_.initialDirectory + "\", name \"" + r_.initialFilename + "\")";
        if (s_->answers.empty()) {
            ++s_->unanswered;
            s_->say(shown + " has no answer: cancelled");
        } else {
            chosen_ = s_->answers.front();
            s_->answers.pop_front();
            s_->say(shown + (chosen_ ? " answered with \"" + *chosen_ + "\"" : " cancelled"));
        }
        r_.answer = chosen_;
        s_->dialogs.push_back(r_);
        return chosen_ ? core::DialogOK : core::DialogCancel;
    }
    char* filename_raw() const override { return text(chosen_.value_or("")); }

  private:
    StateRef s_;
    Session::DialogRecord r_;
    std::optional<std::string> chosen_;
};

class UserInterfaceImpl : public Impl<core::UserInterface> {
  public:
    explicit UserInterfaceImpl(StateRef s) : s_(std::move(s)) {}
    Ptr<core::CommandDefinitions> commandDefinitions() const override {
        return make<CommandDefinitionsImpl>(s_);
    }
    Ptr<core::Toolbars> toolbars() const override { return make<ToolbarsImpl>(s_); }
    Ptr<core::Workspaces> workspaces() const override { return make<WorkspacesImpl>(s_); }
    Ptr<core::FileDialog> createFileDialog() override { return make<FileDialogImpl>(s_); }
    core::DialogResults messageBox(const std::string& message, const std::string& title,
                                   core::MessageBoxButtonTypes buttons,
                                   core::MessageBoxIconTypes) override {
        s_->messages.push_back(title + ": " + message);
        s_->say("message box shown");
        return buttons == core::YesNoButtonType || buttons == core::YesNoCancelButtonType
                   ? core::DialogYes
                   : core::DialogOK;
    }

  private:
    StateRef s_;
};

// ---- appearances ------------------------------------------------------------------------------

class PropertiesImpl;

class ColorImpl : public Impl<core::Color> {
  public:
    explicit ColorImpl(const std::array<short, 4>& rgba) : rgba_(rgba) {}
    bool getColor(short& red, short& green, short& blue, short& opacity) const override {
        red = rgba_[0];
        green = rgba_[1];
        blue = rgba_[2];
        opacity = rgba_[3];
        return true;
    }

  private:
    std::array<short, 4> rgba_;
};

class AppearanceTextureImpl : public Impl<core::AppearanceTexture> {
  public:
    AppearanceTextureImpl(DocumentRef d, std::shared_ptr<TextureModel> t)
        : d_(std::move(d)), t_(std::move(t)) {}
    Ptr<core::Properties> properties() const override;

  private:
    DocumentRef d_;
    std::shared_ptr<TextureModel> t_;
};

class ColorPropertyImpl : public Impl<core::ColorProperty> {
  public:
    ColorPropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    Ptr<core::Color> value() const override {
        if (!p_->hasColor) return nullptr;
        return make<ColorImpl>(p_->rgba);
    }
    bool hasConnectedTexture() const override { return p_->texture != nullptr; }
    Ptr<core::AppearanceTexture> connectedTexture() const override {
        if (!p_->texture) return nullptr;
        return make<AppearanceTextureImpl>(d_, p_->texture);
    }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class FilenamePropertyImpl : public Impl<core::FilenameProperty> {
  public:
    FilenamePropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    char* value_raw() const override { return text(p_->file); }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class FloatPropertyImpl : public Impl<core::FloatProperty> {
  public:
    FloatPropertyImpl(DocumentRef d, const PropertyModel* p) : d_(std::move(d)), p_(p) {}
    char* id_raw() const override { return text(p_->id); }
    char* name_raw() const override { return text(p_->name); }
    double value() const override { return p_->number; }

  private:
    DocumentRef d_;
    const PropertyModel* p_;
};

class PropertiesImpl : public Impl<core::Properties> {
  public:
    // owner keeps the property list alive.
    PropertiesImpl(DocumentRef d, std::shared_ptr<const void> owner,
                   const std::vector<PropertyModel>* list)
        : d_(std::move(d)), owner_(std::move(owner)), list_(list) {}
    std::size_t count() const override { return list_->size(); }
    Ptr<core::Property> item(std::size_t index) const override {
        if (index >= list_->size()) return nullptr;
        const PropertyModel* p = &(*list_)[index];
        switch (p->kind) {
            case PropertyModel::Kind::Color:
                return make<ColorPropertyImpl>(d_, p);
            case PropertyModel::Kind::Filename:
                return make<FilenamePropertyImpl>(d_, p);
            case PropertyModel::Kind::Float:
                return make<FloatPropertyImpl>(d_, p);
        }
        return nullptr;
    }
    Ptr<core::Property> itemById(const std::string& id) const override {
        for (std::size_t i = 0; i < list_->size(); ++i)
            if ((*list_)[i].id == id) return item(i);
        return nullptr;
    }

  private:
    DocumentRef d_;
    std::shared_ptr<const void> owner_;
    const std::vector<PropertyModel>* list_;
};

Ptr<core::Properties> AppearanceTextureImpl::properties() const {
    return make<PropertiesImpl>(d_, t_, &t_->properties);
}

class AppearanceImpl : public Impl<core::Appearance> {
  public:
    AppearanceImpl(DocumentRef d, AppearanceRef a) : d_(std::move(d)), a_(std::move(a)) {}
    char* name_raw() const override { return text(a_->name); }
    char* id_raw() const override { return text(a_->id); }
    Ptr<core::Properties> appearanceProperties() const override {
        return make<PropertiesImpl>(d_, a_, &a_->properties);
    }

  private:
    DocumentRef d_;
    AppearanceRef a_;
};

Ptr<core::Appearance> appearanceOf(const DocumentRef& d, const AppearanceRef& a) {
    if (!a) return nullptr;
    return make<AppearanceImpl>(d, a);
}

// ---- design -----------------------------------------------------------------------------------

class TriangleMeshImpl : public Impl<fusion::TriangleMesh> {
  public:
    TriangleMeshImpl(DocumentRef d, MeshRef m) : d_(std::move(d)), m_(std::move(m)) {}
    float* nodeCoordinatesAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->coordinates, count);
    }
    float* normalVectorsAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->normals, count);
    }
    float* textureCoordinatesAsFloat_raw(std::size_t& count) const override {
        return meshArray(m_->uvs, count);
    }
    int* nodeIndices_raw(std::size_t& count) const override {
        return meshArray(m_->indices, count);
    }

  private:
    // A mesh array as array() hands it out, unless it is the one a test planned to fail.
    template <class T>
    static T* meshArray(const std::optional<std::vector<T>>& values, std::size_t& count) {
        const StateRef& state = installed();
        if (state && state->meshArraysBeforeFault > 0 && --state->meshArraysBeforeFault == 0)
            throw std::runtime_error("host: mesh array refused as planned");
        return array(values, count);
    }

    DocumentRef d_;
    MeshRef m_;
};

class TriangleMeshListImpl : public Impl<fusion::TriangleMeshList> {
  public:
    TriangleMeshListImpl(DocumentRef d, const FaceModel* f) : d_(std::move(d)), f_(f) {}
    std::size_t count() const override { return f_->meshes.size(); }
    Ptr<fusion::TriangleMesh> item(std::size_t index) const override {
        if (index >= f_->meshes.size() || !f_->meshes[index]) return nullptr;
        return make<TriangleMeshImpl>(d_, f_->meshes[index]);
    }

  private:
    DocumentRef d_;
    const FaceModel* f_;
};

class BRepFaceImpl : public Impl<fusion::BRepFace> {
  public:
    BRepFaceImpl(DocumentRef d, const FaceModel* f) : d_(std::move(d)), f_(f) {}
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, f_->appearance); }
    Ptr<fusion::TriangleMeshList> displayMeshes() const override {
        return make<TriangleMeshListImpl>(d_, f_);
    }

  private:
    DocumentRef d_;
    const FaceModel* f_;
};

class BRepFacesImpl : public Impl<fusion::BRepFaces> {
  public:
    BRepFacesImpl(DocumentRef d, const BodyModel* b) : d_(std::move(d)), b_(b) {}
    std::size_t count() const override { return b_->faces.size(); }
    Ptr<fusion::BRepFace> item(std::size_t index) const override {
        if (index >= b_->faces.size()) return nullptr;
        return make<BRepFaceImpl>(d_, &b_->faces[index]);
    }

  private:
    DocumentRef d_;
    const BodyModel* b_;
};

class BRepBodyImpl : public Impl<fusion::BRepBody> {
  public:
    BRepBodyImpl(DocumentRef d, const BodyModel* b) : d_(std::move(d)), b_(b) {}
    char* name_raw() const override { return text(b_->name); }
    bool isVisible() const override { return b_->visible; }
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, b_->appearance); }
    Ptr<fusion::BRepFaces> faces() const override { return make<BRepFacesImpl>(d_, b_); }

  private:
    DocumentRef d_;
    const BodyModel* b_;
};

class BRepBodiesImpl : public Impl<fusion::BRepBodies> {
  public:
    BRepBodiesImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    std::size_t count() const override { return c_->bodies.size(); }
    Ptr<fusion::BRepBody> item(std::size_t index) const override {
        if (index >= c_->bodies.size()) return nullptr;
        return make<BRepBodyImpl>(d_, &c_->bodies[index]);
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

class PhysicalPropertiesImpl : public Impl<fusion::PhysicalProperties> {
  public:
    explicit PhysicalPropertiesImpl(Measures m) : m_(m) {}
    double area() const override { return m_.area; }
    double volume() const override { return m_.volume; }

  private:
    Measures m_;
};

class ComponentImpl;

class OccurrenceImpl : public Impl<fusion::Occurrence> {
  public:
    OccurrenceImpl(DocumentRef d, ComponentRef owner, const OccurrenceModel* o)
        : d_(std::move(d)), owner_(std::move(owner)), o_(o) {}
    Ptr<fusion::Component> component() const override;
    bool isVisible() const override { return o_->visible; }
    Ptr<core::Appearance> appearance() const override { return appearanceOf(d_, o_->appearance); }
    Ptr<core::Matrix3D> transform() const override { return make<Matrix3DImpl>(o_->cells); }

  private:
    DocumentRef d_;
    ComponentRef owner_;
    const OccurrenceModel* o_;
};

class OccurrencesImpl : public Impl<fusion::Occurrences> {
  public:
    OccurrencesImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    std::size_t count() const override { return c_->occurrences.size(); }
    Ptr<fusion::Occurrence> item(std::size_t index) const override {
        if (index >= c_->occurrences.size()) return nullptr;
        return make<OccurrenceImpl>(d_, c_, &c_->occurrences[index]);
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

class ComponentImpl : public Impl<fusion::Component> {
  public:
    ComponentImpl(DocumentRef d, ComponentRef c) : d_(std::move(d)), c_(std::move(c)) {}
    char* name_raw() const override { return text(c_->name); }
    Ptr<fusion::Occurrences> occurrences() const override { return make<OccurrencesImpl>(d_, c_); }
    Ptr<fusion::BRepBodies> bRepBodies() const override { return make<BRepBodiesImpl>(d_, c_); }
    Ptr<fusion::PhysicalProperties> physicalProperties() const override {
        return make<PhysicalPropertiesImpl>(measure(*c_));
    }

  private:
    DocumentRef d_;
    ComponentRef c_;
};

Ptr<fusion::Component> OccurrenceImpl::component() const {
    if (!o_->component) return nullptr;
    return make<ComponentImpl>(d_, o_->component);
}

class UnitsManagerImpl : public Impl<core::UnitsManager> {
  public:
    explicit UnitsManagerImpl(std::string unit) : unit_(std::move(unit)) {}
    char* defaultLengthUnits_raw() const override { return text(unit_); }

  private:
    std::string unit_;
};

class DesignImpl : public Impl<fusion::Design> {
  public:
    DesignImpl(DocumentRef d, const ProductModel* p) : d_(std::move(d)), p_(p) {}
    Ptr<fusion::Component> rootComponent() const override {
        if (!p_->root) return nullptr;
        return make<ComponentImpl>(d_, p_->root);
    }
    Ptr<core::UnitsManager> unitsManager() const override {
        return make<UnitsManagerImpl>(p_->unit);
    }

  private:
    DocumentRef d_;
    const ProductModel* p_;
};

// A product of another kind (e.g. manufacturing data): only its class.
class OtherProductImpl : public Impl<core::Product> {};

class ProductsImpl : public Impl<core::Products> {
  public:
    explicit ProductsImpl(DocumentRef d) : d_(std::move(d)) {}
    std::size_t count() const override { return d_->products.size(); }
    Ptr<core::Product> item(std::size_t index) const override {
        if (index >= d_->products.size()) return nullptr;
        const ProductModel& p = d_->products[index];
        if (!p.isDesign) return make<OtherProductImpl>();
        return make<DesignImpl>(d_, &p);
    }

  private:
    DocumentRef d_;
};

class DocumentImpl : public Impl<core::Document> {
  public:
    explicit DocumentImpl(DocumentRef d) : d_(std::move(d)) {}
    char* name_raw() const override { return text(d_->name); }
    Ptr<core::Products> products() const override { return make<ProductsImpl>(d_); }

  private:
    DocumentRef d_;
};

// ---- viewport, preferences, application -----------------------------------------------------

class CameraImpl : public Impl<core::Camera> {
  public:
    explicit CameraImpl(const CameraModel& c) : c_(c) {}
    core::CameraTypes cameraType() const override {
        return static_cast<core::CameraTypes>(c_.type);
    }
    Ptr<core::Point3D> eye() const override { return make<Point3DImpl>(c_.eye); }
    Ptr<core::Point3D> target() const override { return make<Point3DImpl>(c_.target); }
    Ptr<core::Vector3D> upVector() const override {
        return make<Vector3DImpl>(c_.up[0], c_.up[1], c_.up[2]);
    }
    double perspectiveAngle() const override { return c_.angleRadians; }

  private:
    CameraModel c_;
};

class ViewportImpl : public Impl<core::Viewport> {
  public:
    explicit ViewportImpl(StateRef s) : s_(std::move(s)) {}
    Ptr<core::Camera> camera() const override {
        return make<CameraImpl>(s_->document ? s_->document->camera : CameraModel());
    }

  private:
    StateRef s_;
};

class GeneralPreferencesImpl : public Impl<core::GeneralPreferences> {
  public:
    explicit GeneralPreferencesImpl(StateRef s) : s_(std::move(s)) {}
    core::DefaultModelingOrientations defaultModelingOrientation() const override {
        int axis = s_->document ? s_->document->upAxis : 0;
        return static_cast<core::DefaultModelingOrientations>(axis);
    }

  private:
    StateRef s_;
};

class PreferencesImpl : public Impl<core::Preferences> {
  public:
    explicit PreferencesImpl(StateRef s) : s_(std::move(s)) {}
    Ptr<core::GeneralPreferences> generalPreferences() const override {
        return make<GeneralPreferencesImpl>(s_);
    }

  private:
    StateRef s_;
};

class ApplicationImpl : public Impl<core::Application> {
  public:
    explicit ApplicationImpl(StateRef s) : s_(std::move(s)) {}
    Ptr<core::UserInterface> userInterface() const override { return make<UserInterfaceImpl>(s_); }
    Ptr<core::Document> activeDocument() const override {
        if (!s_->document) return nullptr;
        return make<DocumentImpl>(s_->document);
    }
    Ptr<core::Viewport> activeViewport() const override { return make<ViewportImpl>(s_); }
    Ptr<core::Preferences> preferences() const override { return make<PreferencesImpl>(s_); }

  private:
    StateRef s_;
};

Ptr<core::Application> provideApplication() {
    const StateRef& state = installed();
    if (!state) return nullptr;
    return make<ApplicationImpl>(state);
}

std::string describeException() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::string what = e.what();
        int status = 0;
        char* type = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
        std::string name = status == 0 && type ? type : typeid(e).name();
        std::free(type);
        return "exception " + name + (what.empty() ? "" : ": " + what);
    } catch (...) {
        return "exception of unknown type";
    }
}

}  // namespace

// ---- Layout and Session -----------------------------------------------------------------------

Layout Layout::standard() {
    Layout layout;
    layout.toolbars = {"QAT", "NavToolbar"};
    layout.workspaces = {
        {"FusionSolidEnvironment", {"SolidCreatePanel", "SolidModifyPanel", "InspectPanel"}},
        {"FusionRenderEnvironment", {"SetupPanel", "RenderPanel", "InCanvasRenderPanel"}},
        {"FusionDocumentationEnvironment", {"DrawingViewsPanel"}},
    };
    return layout;
}

Session::Session(Layout layout) : state_(std::make_shared<SessionState>()) {
    for (const auto& id : layout.toolbars) {
        auto t = std::make_shared<ToolbarModel>();
        t->id = id;
        state_->toolbars.push_back(t);
    }
    for (const auto& w : layout.workspaces) {
        auto model = std::make_shared<WorkspaceModel>();
        model->id = w.id;
        for (const auto& p : w.panels) {
            auto panel = std::make_shared<PanelModel>();
            panel->id = p;
            model->panels.push_back(panel);
        }
        state_->workspaces.push_back(model);
    }
}

Session::~Session() {
    uninstall();
}

void Session::install() {
    installed() = state_;
    core::detail::setApplicationProvider(&provideApplication);
}

void Session::uninstall() {
    if (installed() != state_) return;
    installed().reset();
    core::detail::setApplicationProvider(nullptr);
}

void Session::openDocument(DocumentRef document) {
    state_->document = std::move(document);
    if (state_->document) state_->say("document \"" + state_->document->name + "\" is active");
}

DocumentRef Session::document() const {
    return state_->document;
}

void Session::answerSaveDialog(std::optional<std::string> filename) {
    state_->answers.push_back(std::move(filename));
}

void Session::clearDialogAnswers() {
    state_->answers.clear();
}

int Session::unansweredDialogs() const {
    return state_->unanswered;
}

ClickReport Session::click(const std::string& controlId) {
    ClickReport report;
    std::shared_ptr<ControlModel> control;
    for (const auto& t : state_->toolbars)
        for (const auto& c : t->controls->items)
            if (!control && c->id == controlId) control = c;
    for (const auto& w : state_->workspaces)
        for (const auto& p : w->panels)
            for (const auto& c : p->controls->items)
                if (!control && c->id == controlId) control = c;
    if (!control || !control->visible || !control->definition) return report;
    report.found = true;

    auto command = std::make_shared<CommandModel>();
    command->definition = control->definition;
    state_->say("click on " + controlId + ": command-created event");
    // Copies: a handler may add or remove handlers while being notified.
    auto created = control->definition->createdHandlers;
    {
        Ptr<core::CommandCreatedEventArgs> args =
            make<CommandCreatedEventArgsImpl>(state_, command);
        for (auto* handler : created) {
            ++report.createdHandlers;
            try {
                handler->notify(args);
            } catch (...) {
                report.exceptions.push_back(describeException() + " (command-created of " +
                                            controlId + ")");
            }
        }
    }
    auto execute = command->executeHandlers;
    state_->say("click on " + controlId + ": execute event, " + std::to_string(execute.size()) +
                " handler(s)");
    {
        Ptr<core::CommandEventArgs> args = make<CommandEventArgsImpl>(state_, command);
        for (auto* handler : execute) {
            ++report.executeHandlers;
            try {
                handler->notify(args);
            } catch (...) {
                report.exceptions.push_back(describeException() + " (execute of " + controlId +
                                            ")");
            }
        }
    }
    return report;
}

const std::vector<std::string>& Session::messageBoxes() const {
    return state_->messages;
}

const std::vector<std::string>& Session::errors() const {
    return state_->errors;
}

const std::vector<Session::DialogRecord>& Session::saveDialogs() const {
    return state_->dialogs;
}

std::vector<Session::ControlInfo> Session::controls() const {
    std::vector<ControlInfo> out;
    for (const auto& t : state_->toolbars)
        for (const auto& c : t->controls->items)
            out.push_back({"toolbar " + t->id, c->id, c->visible});
    for (const auto& w : state_->workspaces)
        for (const auto& p : w->panels)
            for (const auto& c : p->controls->items)
                out.push_back({"workspace " + w->id + " panel " + p->id, c->id, c->visible});
    return out;
}

std::vector<Session::DefinitionInfo> Session::definitions() const {
    std::vector<DefinitionInfo> out;
    for (const auto& d : state_->definitions)
        out.push_back({d->id, d->name, d->tooltip, d->resourceFolder,
                       static_cast<int>(d->createdHandlers.size())});
    return out;
}

long Session::failMeshArray(long n) {
    return std::exchange(state_->meshArraysBeforeFault, n);
}

void Session::setNarrator(std::function<void(const std::string&)> narrator) {
    state_->narrator = std::move(narrator);
}

Audit Audit::now() {
    return {core::detail::heldReferences(), core::detail::heldArrays(),
            core::detail::arrayFaults()};
}

std::string Audit::text() const {
    std::ostringstream out;
    out << "references:";
    if (references.empty()) out << " none";
    const char* sep = " ";
    for (const auto& [type, n] : references) {
        out << sep << type << " " << n;
        sep = ", ";
    }
    out << "; arrays:";
    if (arrays.empty()) out << " none";
    sep = " ";
    for (const auto& [type, n] : arrays) {
        out << sep << type << " " << n;
        sep = ", ";
    }
    if (arrayFaults) out << "; bad deallocations: " << arrayFaults;
    return out.str();
}

}  // namespace host
