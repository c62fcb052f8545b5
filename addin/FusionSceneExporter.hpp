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

    // Walks the design into a scene graph that holds no host reference. The walk's record is
    // currentStates; it becomes previousStates only once the flow's transfer has arrived.
    std::shared_ptr<vex::VexGroup> buildScene(
        const adsk::core::Ptr<adsk::core::Document>& document);
    std::shared_ptr<vex::VexGroup> walkComponent(
        const adsk::core::Ptr<adsk::fusion::Component>& component, const AppearancePtr& appearance,
        bool visible);
    std::shared_ptr<vex::VexGroup> bodyContent(const adsk::core::Ptr<adsk::fusion::BRepBody>& body,
                                               const AppearancePtr& appearance, bool visible);
    ComponentState makeComponentState(const adsk::core::Ptr<adsk::fusion::Component>& component,
                                      const AppearancePtr& appearance, bool visible);

    // Converts one display mesh, scaled to the design's unit, into a node named name with the
    // given material and its own copies of the arrays; takes the reference over and releases it
    // before returning.
    std::shared_ptr<vex::TriangleObject> convertMesh(
        adsk::core::Ptr<adsk::fusion::TriangleMesh>& mesh, const std::string& name,
        std::shared_ptr<vex::Material> material);

    std::unique_ptr<vex::vexSceneapi_oo> writer;
    adsk::core::Ptr<adsk::core::UserInterface> userInterface;
    adsk::core::Ptr<adsk::core::Application> application;
    std::map<std::string, ComponentState> previousStates;
    std::map<std::string, ComponentState> currentStates;
    float unitsPerMetre = 1.0f;
    float unitsPerCentimetre = 100.0f;

  private:
    // previousStates may never say more than what reached the file or the renderer. A flow
    // holds one of these from the moment its output can receive anything: unless the transfer
    // is committed, leaving the scope (a failed write or close, an exception) empties
    // previousStates, so that the next render sends the whole design.
    class TransferRecord {
      public:
        explicit TransferRecord(std::map<std::string, ComponentState>& previous)
            : previous_(previous) {}
        ~TransferRecord() {
            if (!committed_) previous_.clear();
        }
        TransferRecord(const TransferRecord&) = delete;
        TransferRecord& operator=(const TransferRecord&) = delete;
        void commit(std::map<std::string, ComponentState> record) {
            previous_ = std::move(record);
            committed_ = true;
        }

      private:
        std::map<std::string, ComponentState>& previous_;
        bool committed_ = false;
    };
};
