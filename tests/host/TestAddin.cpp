// A tiny add-in for the stand-in host's end-to-end tests. It places one button
// ("rayMint11ExportCommandOnPanelCPP") in the render panel and, on execute, asks the save dialog
// for a file and writes a summary of the design to it through the host interface. The active
// document's name selects a misbehaviour: "throw" (exception out of the handler), "message"
// (message box), "leak" (keeps a document reference), "leak-array" (keeps a host text).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <stdexcept>
#include <string>

#include "FusionAll.h"

namespace core = adsk::core;
namespace fusion = adsk::fusion;
using core::Ptr;

namespace {

Ptr<core::Application> app;
Ptr<core::UserInterface> ui;
Ptr<core::Document> leaked;

struct Summary {
    long components = 0, bodies = 0, triangles = 0, nodes = 0;
    std::string units;
};

void walk(const Ptr<fusion::Component>& component, Summary& s) {
    ++s.components;
    Ptr<fusion::BRepBodies> bodies = component->bRepBodies();
    for (std::size_t b = 0; b < bodies->count(); ++b) {
        ++s.bodies;
        Ptr<fusion::BRepFaces> faces = bodies->item(b)->faces();
        for (std::size_t f = 0; f < faces->count(); ++f) {
            Ptr<fusion::TriangleMeshList> meshes = faces->item(f)->displayMeshes();
            for (std::size_t m = 0; m < meshes->count(); ++m) {
                Ptr<fusion::TriangleMesh> mesh = meshes->item(m);
                std::size_t count = 0;
                int* indices = mesh->nodeIndices_raw(count);
                s.triangles += static_cast<long>(count / 3);
                core::DeallocateArrayInternal(indices);
                s.nodes += static_cast<long>(mesh->nodeCoordinatesAsFloat().size() / 3);
            }
        }
    }
    Ptr<fusion::Occurrences> occurrences = component->occurrences();
    for (std::size_t i = 0; i < occurrences->count(); ++i)
        walk(occurrences->item(i)->component(), s);
}

class ExecutedHandler : public core::CommandEventHandler {
  public:
    void notify(const Ptr<core::CommandEventArgs>& args) override {
        if (!args) return;
        Ptr<core::Command> command = args->firingEvent()->sender().cast<core::Command>();
        if (!command || !command->parentCommandDefinition()) return;
        Ptr<core::Document> document = app->activeDocument();
        if (!document) return;
        std::string name = document->name();
        if (name == "throw") throw std::runtime_error("test add-in failure");
        if (name == "message") {
            ui->messageBox("Live link failed. Reason: \"test\"", "", core::OKButtonType,
                           core::NoIconIconType);
            return;
        }
        if (name == "leak") leaked = document;
        if (name == "leak-array") (void)document->name_raw();

        Ptr<core::FileDialog> dialog = ui->createFileDialog();
        dialog->setFilter("RayMint scene (*.rmq)");
        dialog->setFilterIndex(0);
        dialog->setInitialDirectory("%CSIDL_MYDOCUMENTS%");
        dialog->setInitialFilename(name.empty() ? "Untitled.rmq" : name);
        if (dialog->showSave() != core::DialogOK) return;
        std::string file = dialog->filename();

        Summary s;
        Ptr<core::Products> products = document->products();
        for (std::size_t p = 0; p < products->count(); ++p) {
            Ptr<fusion::Design> design = products->item(p).cast<fusion::Design>();
            if (!design) continue;
            s.units = design->unitsManager()->defaultLengthUnits();
            walk(design->rootComponent(), s);
        }
        // The summary's lines end in LF on every platform.
        std::FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "wb");
        if (!out) throw std::runtime_error("cannot open " + file);
#ifdef _WIN32
        if (out == stdout) _setmode(_fileno(stdout), _O_BINARY);
#endif
        std::fprintf(out,
                     "file %s\ndocument %s\nunits %s\ncomponents %ld\nbodies %ld\ntriangles "
                     "%ld\nnodes %ld\n",
                     file.c_str(), name.c_str(), s.units.c_str(), s.components, s.bodies,
                     s.triangles, s.nodes);
        if (out != stdout)
            std::fclose(out);
        else
            std::fflush(out);
    }
};

class CreatedHandler : public core::CommandCreatedEventHandler {
  public:
    void notify(const Ptr<core::CommandCreatedEventArgs>& args) override {
        if (args) args->command()->execute()->add(&executed);
    }
    ExecutedHandler executed;
};

CreatedHandler created;

}  // namespace

extern "C" __attribute__((visibility("default"))) bool run(const char*) {
    app = core::Application::get();
    if (!app) return false;
    ui = app->userInterface();
    if (!ui) return false;
    Ptr<core::Workspace> workspace = ui->workspaces()->itemById("FusionRenderEnvironment");
    if (!workspace) return false;
    Ptr<core::ToolbarPanel> panel = workspace->toolbarPanels()->itemById("RenderPanel");
    if (!panel) return false;
    Ptr<core::ToolbarControls> controls = panel->controls();
    const std::string id = "rayMint11ExportCommandOnPanelCPP";
    if (controls->itemById(id)) return true;
    Ptr<core::CommandDefinitions> definitions = ui->commandDefinitions();
    Ptr<core::CommandDefinition> definition = definitions->itemById(id);
    if (!definition)
        definition = definitions->addButtonDefinition(id, "Export to RayMint .rmq", "test",
                                                      "./resources/export_command");
    if (!definition) return false;
    definition->commandCreated()->add(&created);
    Ptr<core::ToolbarControl> control = controls->addCommand(definition, "", true);
    return control && control->setVisible(true);
}

extern "C" __attribute__((visibility("default"))) bool stop(const char*) {
    ui = nullptr;
    return true;
}
