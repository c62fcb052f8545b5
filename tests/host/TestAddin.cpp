// A tiny add-in for the stand-in host's end-to-end tests of add-ins that misbehave. It places one
// button ("rayMint11ExportCommandOnPanelCPP") in the render panel; on execute the active
// document's name selects what it does: "throw" (an exception out of the handler), "message"
// (a message box), "leak" (keeps a document reference), "leak-array" (keeps a host text);
// anything else asks the save dialog for a file and writes the document's name to it.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "FusionAll.h"

namespace core = adsk::core;
using core::Ptr;

namespace {

Ptr<core::Application> app;
Ptr<core::UserInterface> ui;
Ptr<core::Document> leaked;

class ExecutedHandler : public core::CommandEventHandler {
  public:
    void notify(const Ptr<core::CommandEventArgs>&) override {
        Ptr<core::Document> document = app->activeDocument();
        if (!document) return;
        const std::string name = document->name();
        if (name == "throw") throw std::runtime_error("test add-in failure");
        if (name == "message") {
            ui->messageBox("Live link failed. Reason: \"test\"", "", core::OKButtonType,
                           core::NoIconIconType);
            return;
        }
        if (name == "leak") leaked = document;
        if (name == "leak-array") (void)document->name_raw();
        Ptr<core::FileDialog> dialog = ui->createFileDialog();
        dialog->setInitialFilename(name);
        if (dialog->showSave() != core::DialogOK) return;
        std::FILE* out = std::fopen(dialog->filename().c_str(), "wb");
        if (!out) throw std::runtime_error("cannot open " + dialog->filename());
        std::fprintf(out, "document %s\n", name.c_str());
        std::fclose(out);
    }
};

class CreatedHandler : public core::CommandCreatedEventHandler {
  public:
    void notify(const Ptr<core::CommandCreatedEventArgs>& args) override {
        args->command()->execute()->add(&executed);
    }
    ExecutedHandler executed;
};

CreatedHandler created;

}  // namespace

extern "C" __attribute__((visibility("default"))) bool run(const char*) {
    app = core::Application::get();
    ui = app->userInterface();
    Ptr<core::CommandDefinition> definition = ui->commandDefinitions()->addButtonDefinition(
        "rayMint11ExportCommandOnPanelCPP", "Export", "test", "./resources/export_command");
    if (!definition) return false;
    definition->commandCreated()->add(&created);
    Ptr<core::ToolbarControl> control = ui->workspaces()
                                            ->itemById("FusionRenderEnvironment")
                                            ->toolbarPanels()
                                            ->itemById("RenderPanel")
                                            ->controls()
                                            ->addCommand(definition, "", true);
    return control && control->isVisible();
}

extern "C" __attribute__((visibility("default"))) bool stop(const char*) {
    ui = nullptr;
    return true;
}
