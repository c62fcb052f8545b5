// Entry points, buttons and command handlers of the add-in.
#include <memory>
#include <string>

#include "FusionAll.h"
#include "addin/FusionSceneExporter.hpp"

using adsk::core::Ptr;

// The two entry points are the library's only exports.
#ifdef _WIN32
#define VEX_ADDIN_ENTRY __declspec(dllexport)
#else
#define VEX_ADDIN_ENTRY __attribute__((visibility("default")))
#endif

namespace {

Ptr<adsk::core::Application> app;
Ptr<adsk::core::UserInterface> ui;
std::unique_ptr<FusionSceneExporter> exporter;

FusionSceneExporter& theExporter() {
    if (!exporter) exporter = std::make_unique<FusionSceneExporter>(ui, app);
    return *exporter;
}

// The command that fired the event, when it is a live command.
Ptr<adsk::core::Command> firingCommand(const Ptr<adsk::core::CommandEventArgs>& args) {
    if (!args) return {};
    const Ptr<adsk::core::Event> event = args->firingEvent();
    if (!event) return {};
    const Ptr<adsk::core::Base> sender = event->sender();
    Ptr<adsk::core::Command> command = sender.cast<adsk::core::Command>();
    if (!command || !command->parentCommandDefinition()) return {};
    return command;
}

// The active document, when a flow can run on it.
Ptr<adsk::core::Document> activeDocument(const Ptr<adsk::core::CommandEventArgs>& args) {
    if (!firingCommand(args) || !app) return {};
    return app->activeDocument();
}

}  // namespace

class RMRenderCommandExecutedHandler : public adsk::core::CommandEventHandler {
  public:
    void notify(const Ptr<adsk::core::CommandEventArgs>& eventArgs) override {
        if (Ptr<adsk::core::Document> document = activeDocument(eventArgs))
            theExporter().renderFlow(std::move(document));
    }
};

class RMExportCommandExecutedHandler : public adsk::core::CommandEventHandler {
  public:
    void notify(const Ptr<adsk::core::CommandEventArgs>& eventArgs) override {
        if (Ptr<adsk::core::Document> document = activeDocument(eventArgs))
            theExporter().exportFlow(std::move(document));
    }
};

namespace {

// Attaches the executed-handler to the command's execute event.
void attach(const Ptr<adsk::core::CommandCreatedEventArgs>& args,
            adsk::core::CommandEventHandler& handler) {
    if (!args) return;
    const Ptr<adsk::core::Command> command = args->command();
    if (!command) return;
    if (const Ptr<adsk::core::CommandEvent> execute = command->execute()) execute->add(&handler);
}

}  // namespace

class RenderCommandCreatedHandler : public adsk::core::CommandCreatedEventHandler {
  public:
    void notify(const Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override {
        attach(eventArgs, executed_);
    }

  private:
    RMRenderCommandExecutedHandler executed_;
};

class ExportCommandCreatedHandler : public adsk::core::CommandCreatedEventHandler {
  public:
    void notify(const Ptr<adsk::core::CommandCreatedEventArgs>& eventArgs) override {
        attach(eventArgs, executed_);
    }

  private:
    RMExportCommandExecutedHandler executed_;
};

namespace {

RenderCommandCreatedHandler renderCreated;
ExportCommandCreatedHandler exportCreated;

enum class Placed { ok, failed };

struct Button {
    std::string id;
    std::string name;
    std::string tooltip;
    const char* resources;
    adsk::core::CommandCreatedEventHandler* handler;
};

Placed place(const Ptr<adsk::core::ToolbarControls>& controls,
             const Ptr<adsk::core::CommandDefinitions>& definitions, const Button& button) {
    if (!controls) return Placed::failed;
    // An existing control is left as it is: a second run adds no button and no handler.
    if (controls->itemById(button.id)) return Placed::ok;
    Ptr<adsk::core::CommandDefinition> definition = definitions->itemById(button.id);
    if (!definition)
        definition = definitions->addButtonDefinition(button.id, button.name, button.tooltip,
                                                      button.resources);
    if (!definition) return Placed::failed;
    const Ptr<adsk::core::CommandCreatedEvent> created = definition->commandCreated();
    if (!created) return Placed::failed;
    created->add(button.handler);
    const Ptr<adsk::core::ToolbarControl> control = controls->addCommand(definition, "", true);
    if (!control) return Placed::failed;
    control->setVisible(true);
    return Placed::ok;
}

// Returns false when the set-up had to be abandoned before the export button.
bool setUpUserInterface(const Ptr<adsk::core::CommandDefinitions>& definitions,
                        const Ptr<adsk::core::Toolbars>& toolbars,
                        const Ptr<adsk::core::Workspaces>& workspaces) {
    const std::string version = std::to_string(11);
    const std::string renderName = "Render in RayMint " + version;
    const std::string renderTooltip = "This command transfers the current scene to RayMint " +
                                      version +
                                      ". Click again to update the scene with any changes.";
    const Button qat{"rayMint" + version + "RenderCommandOnQATCPP", renderName, renderTooltip,
                     "./resources/render_command", &renderCreated};
    const Button panelRender{"rayMint" + version + "RenderCommandOnPanelCPP", renderName,
                             renderTooltip, "./resources/render_command", &renderCreated};
    const Button panelExport{"rayMint" + version + "ExportCommandOnPanelCPP",
                             "Export to RayMint .rmq",
                             "This command exports the current scene to a RayMint .rmq file.",
                             "./resources/export_command", &exportCreated};

    const Ptr<adsk::core::Toolbar> quickAccess = toolbars->itemById("QAT");
    if (!quickAccess) return false;
    if (place(quickAccess->controls(), definitions, qat) != Placed::ok) return false;

    Ptr<adsk::core::Workspace> workspace = workspaces->itemById("FusionRenderEnvironment");
    if (!workspace) {
        const size_t count = workspaces->count();
        if (count == 0) return true;
        workspace = workspaces->item(count - 1);
        if (!workspace) return true;
    }
    const Ptr<adsk::core::ToolbarPanels> panels = workspace->toolbarPanels();
    if (!panels) return false;
    Ptr<adsk::core::ToolbarPanel> panel = panels->itemById("RenderPanel");
    if (!panel) {
        const size_t count = panels->count();
        if (count == 0) return true;
        panel = panels->item(count - 1);
        if (!panel) return true;
    }
    const Ptr<adsk::core::ToolbarControls> controls = panel->controls();
    if (place(controls, definitions, panelRender) != Placed::ok) return false;
    // A failure here only ends the set-up; the render buttons are in place.
    place(controls, definitions, panelExport);
    return true;
}

}  // namespace

extern "C" VEX_ADDIN_ENTRY bool run(const char* /*context*/) {
    Ptr<adsk::core::Application> running = adsk::core::Application::get();
    if (!(running == app)) app = running;
    if (!app) return false;
    Ptr<adsk::core::UserInterface> userInterface = app->userInterface();
    if (!(userInterface == ui)) ui = userInterface;
    if (!ui) return false;
    const Ptr<adsk::core::CommandDefinitions> definitions = ui->commandDefinitions();
    if (!definitions) return false;
    const Ptr<adsk::core::Toolbars> toolbars = ui->toolbars();
    if (!toolbars) return false;
    const Ptr<adsk::core::Workspaces> workspaces = ui->workspaces();
    if (!workspaces) return false;
    return setUpUserInterface(definitions, toolbars, workspaces);
}

extern "C" VEX_ADDIN_ENTRY bool stop(const char* /*context*/) {
    ui = nullptr;
    exporter.reset();
    return true;
}
