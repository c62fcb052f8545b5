// "Render in RayMint 11": streams the design to a running renderer and, on later clicks
// with the same document, only what changed since the last transfer.
#include <cstdio>
#include <exception>

#include "addin/FusionSceneExporter.hpp"
#include "livelink/ProcessPlatform.hpp"
#include "livelink/RepeatLinkFactory.hpp"
#include "scene/DefaultRTModule.hpp"
#include "scene/LightCamera.hpp"

using adsk::core::Ptr;

namespace {

constexpr int kMinRendererVersion = 11;
constexpr int kMaxRendererVersion = 12;
constexpr char kCameraName[] = "Active Camera";

template <class T>
const Ptr<T>& required(const Ptr<T>& object) {
    if (!object) throw std::exception();
    return object;
}

// The host's up-axis setting, as the host numbers it.
int upAxisNumber(const Ptr<adsk::core::Application>& application) {
    const Ptr<adsk::core::Preferences> preferences = required(application)->preferences();
    const Ptr<adsk::core::GeneralPreferences> general = required(preferences)->generalPreferences();
    return static_cast<int>(required(general)->defaultModelingOrientation());
}

}  // namespace

void FusionSceneExporter::sendActiveCamera() {
    const Ptr<adsk::core::Viewport> viewport = required(application)->activeViewport();
    const Ptr<adsk::core::Camera> camera = required(viewport)->camera();
    if (required(camera)->cameraType() == 0) return;
    const Ptr<adsk::core::Point3D> eye = required(camera->eye());
    const Ptr<adsk::core::Point3D> target = required(camera->target());
    const Ptr<adsk::core::Vector3D> up = required(camera->upVector());

    const Ptr<adsk::core::Vector3D> direction = eye->vectorTo(target);
    if (!direction || !direction->normalize()) return;  // eye on the target: no direction

    auto node = std::make_shared<vex::LightCamera>(kCameraName);
    const double scale = unitsPerCentimetre;
    node->setPosition(static_cast<float>(eye->x() * scale), static_cast<float>(eye->y() * scale),
                      static_cast<float>(eye->z() * scale));
    node->setDirection(static_cast<float>(direction->x()), static_cast<float>(direction->y()),
                       static_cast<float>(direction->z()));
    node->setUp(static_cast<float>(up->x()), static_cast<float>(up->y()),
                static_cast<float>(up->z()));
    node->setFov(static_cast<float>(camera->perspectiveAngle() * 180.0 * 0.3183098861837907));
    writer->write(*node);
}

void FusionSceneExporter::showLinkFailure(const std::string& reason) {
    const std::string text = "Live link failed. Reason: \"" + reason + "\"";
    if (!userInterface) throw std::exception();
    userInterface->messageBox(text, "", adsk::core::OKButtonType, adsk::core::NoIconIconType);
}

void FusionSceneExporter::renderFlow(Ptr<adsk::core::Document> document) {
    if (!document) throw std::exception();
    const std::string modelSetName = stripVersionSuffix(document->name());

    vex::RepeatLinkFactory target;
    target.setVersionRange(kMinRendererVersion, kMaxRendererVersion);
    target.setModelSetName(modelSetName);
    target.setAcceptAnyInstance(true);
    if (target.scene_api() == nullptr) {
        showLinkFailure(target.errorMessage());
        return;
    }

    // From here the renderer may receive part of a transfer; only a whole one is recorded.
    TransferRecord record(previousStates);
    writer = std::make_unique<vex::vexSceneapi_oo>(target);
    const bool update = target.foundModelSet();
    // A renderer that does not show this design yet gets all of it.
    if (!update) previousStates.clear();

    char clientId[256];
    std::snprintf(clientId, sizeof clientId, "Fusion 360, %#x",
                  static_cast<unsigned>(vex::platform::currentProcessId()));
    writer->api()->attribute("process identifier", clientId);

    unitsPerMetre = designUnitScale(Ptr<adsk::core::Document>(document));
    unitsPerCentimetre = unitsPerMetre / 100.0f;

    {
        vex::DefaultRTModule module;
        module.setUpVector(upAxisNumber(application) + 1);
        module.setMeterScale(unitsPerMetre);
        module.setAdjustCamera(!update);
        module.setAdjustEnvironment(!update);
        module.setCenterGeometry(false);
        module.setSnapToGround(false);
        module.setUseCamera(kCameraName);
        writer->write(module);
    }
    sendActiveCamera();

    std::shared_ptr<vex::VexGroup> root = buildScene(Ptr<adsk::core::Document>(document));
    writer->write(*root);
    root.reset();
    // Whether the renderer took the whole transfer shows only when disconnecting. When it did
    // not, the user must know, and the record stays empty so that the next click sends all.
    target.close();
    if (!target.errorMessage().empty()) {
        showLinkFailure(target.errorMessage());
        return;
    }
    record.commit(currentStates);
}
