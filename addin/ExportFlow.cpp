// "Export to RayMint .rmq": save dialog, scene file, import options and the whole design.
#include <exception>

#include "addin/FusionSceneExporter.hpp"
#include "scene/DefaultRTModule.hpp"
#include "sceneapi/LightFileFactory.hpp"

using adsk::core::Ptr;

FusionSceneExporter::FusionSceneExporter(Ptr<adsk::core::UserInterface> ui,
                                         Ptr<adsk::core::Application> app)
    : userInterface(std::move(ui)), application(std::move(app)) {}

FusionSceneExporter::~FusionSceneExporter() {
    previousStates.clear();
    currentStates.clear();
    application = nullptr;
    userInterface = nullptr;
    writer.reset();
}

float FusionSceneExporter::designUnitScale(const Ptr<adsk::core::Document>& document) {
    unitsPerMetre = 1.0f;
    if (!document) throw std::exception();
    const Ptr<adsk::core::Products> products = document->products();
    if (!products) throw std::exception();
    const size_t count = products->count();
    for (size_t i = 0; i < count; ++i) {
        const Ptr<adsk::core::Product> product = products->item(i);
        if (!product) throw std::exception();
        const Ptr<adsk::fusion::Design> design = product->cast<adsk::fusion::Design>();
        if (!design) continue;
        const Ptr<adsk::core::UnitsManager> units = design->unitsManager();
        if (!units) throw std::exception();
        // The last design with a listed unit decides.
        if (const float scale = unitsPerMetreOf(units->defaultLengthUnits()); scale != 0)
            unitsPerMetre = scale;
    }
    return unitsPerMetre;
}

void FusionSceneExporter::exportFlow(Ptr<adsk::core::Document> document) {
    if (!userInterface) throw std::exception();
    Ptr<adsk::core::FileDialog> dialog = userInterface->createFileDialog();
    if (!dialog || !document) throw std::exception();
    dialog->setFilter("RayMint scene (*.rmq)");
    dialog->setFilterIndex(0);
    dialog->setInitialDirectory("%CSIDL_MYDOCUMENTS%");
    const std::string name = document->name();
    dialog->setInitialFilename(name.empty() ? "Untitled.rmq" : name);
    if (dialog->showSave() != adsk::core::DialogOK) return;
    const std::string path = dialog->filename();
    if (path.empty()) return;

    vex::LightFileFactory target(path);
    // The export is no transfer to the renderer: only a complete file puts the record back.
    TransferRecord record(previousStates);
    writer = std::make_unique<vex::vexSceneapi_oo>(target);
    auto saved = previousStates;
    previousStates.clear();  // every component counts as changed: the file gets everything
    writer->api()->set_mode(1);
    unitsPerMetre = designUnitScale(document);
    unitsPerCentimetre = unitsPerMetre / 100.0f;
    {
        auto module = std::make_unique<vex::DefaultRTModule>();
        module->setUpVector(1);
        module->setMeterScale(unitsPerMetre);
        module->setAdjustCamera(true);
        module->setCenterGeometry(true);
        module->setSnapToGround(true);
        module->setKeepOriginal(true);
        writer->write(*module);
        std::shared_ptr<vex::VexGroup> root = buildScene(document);
        writer->write(*root);
        root.reset();
    }
    // Closing reports a short file (full disk, I/O error) instead of leaving it unnoticed.
    target.close();
    record.commit(std::move(saved));
}
