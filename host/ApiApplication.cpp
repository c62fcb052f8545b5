// The host's application and user interface: command definitions with their created and
// execute events, toolbars, workspaces and panels with their controls, save dialogs and message
// boxes, and the viewport's camera and the preferences the application offers.
#include "SessionImpl.hpp"

#include <algorithm>
#include <filesystem>

#include "HostPlatform.hpp"

namespace host {

namespace {

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
        return documentOf(s_->document);
    }
    Ptr<core::Viewport> activeViewport() const override { return make<ViewportImpl>(s_); }
    Ptr<core::Preferences> preferences() const override { return make<PreferencesImpl>(s_); }

  private:
    StateRef s_;
};

}  // namespace

Ptr<core::Application> provideApplication() {
    const StateRef& state = installed();
    if (!state) return nullptr;
    return make<ApplicationImpl>(state);
}

Ptr<core::CommandCreatedEventArgs> commandCreatedArgs(StateRef s, CommandRef c) {
    return make<CommandCreatedEventArgsImpl>(std::move(s), std::move(c));
}

Ptr<core::CommandEventArgs> commandArgs(StateRef s, CommandRef c) {
    return make<CommandEventArgsImpl>(std::move(s), std::move(c));
}

}  // namespace host
