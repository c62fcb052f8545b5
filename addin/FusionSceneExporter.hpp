// The add-in's one long-lived object: the latest scene writer, the host references, the
// per-component record of what was sent, and the design's unit scale.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "FusionAll.h"
#include "addin/ComponentState.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

class FusionSceneExporter {
  public:
    using AppearancePtr = adsk::core::Ptr<adsk::core::Appearance>;

    FusionSceneExporter(adsk::core::Ptr<adsk::core::UserInterface> userInterface,
                        adsk::core::Ptr<adsk::core::Application> application);
    ~FusionSceneExporter();
    FusionSceneExporter(const FusionSceneExporter&) = delete;
    FusionSceneExporter& operator=(const FusionSceneExporter&) = delete;

    // "Export to RayMint .rmq": asks for a file and writes the whole design into it.
    // Takes the document reference over.
    void exportFlow(adsk::core::Ptr<adsk::core::Document> document);
    // "Render in RayMint 11": streams the design to a running renderer.
    void renderFlow(adsk::core::Ptr<adsk::core::Document> document);
    // Writes the viewport's camera as "Active Camera"; nothing for a camera of type 0.
    void sendActiveCamera();
    void showLinkFailure(const std::string& reason);

    // Units of the design's default length unit per metre; also stored in unitsPerMetre.
    float designUnitScale(const adsk::core::Ptr<adsk::core::Document>& document);

    std::shared_ptr<vex::VexGroup> buildScene(
        const adsk::core::Ptr<adsk::core::Document>& document);
    std::shared_ptr<vex::VexGroup> walkComponent(
        const adsk::core::Ptr<adsk::fusion::Component>& component, const AppearancePtr& appearance,
        bool visible);
    std::shared_ptr<vex::VexGroup> bodyContent(const adsk::core::Ptr<adsk::fusion::BRepBody>& body,
                                               const AppearancePtr& appearance, bool visible);
    ComponentState makeComponentState(const adsk::core::Ptr<adsk::fusion::Component>& component,
                                      const AppearancePtr& appearance, bool visible);

    // Converts one display mesh, scaled to the design's unit; takes the reference over.
    std::shared_ptr<vex::TriangleObject> convertMesh(
        adsk::core::Ptr<adsk::fusion::TriangleMesh>& mesh);

    std::unique_ptr<vex::vexSceneapi_oo> writer;
    adsk::core::Ptr<adsk::core::UserInterface> userInterface;
    adsk::core::Ptr<adsk::core::Application> application;
    std::map<std::string, ComponentState> previousStates;
    std::map<std::string, ComponentState> currentStates;
    float unitsPerMetre = 1.0f;
    float unitsPerCentimetre = 100.0f;
};
