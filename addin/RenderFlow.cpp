// "Render in RayMint 11": the live link to a running renderer.
#include "addin/FusionSceneExporter.hpp"

void FusionSceneExporter::renderFlow(adsk::core::Ptr<adsk::core::Document> document) {
    // The live-link target is not part of this build yet; the click releases the document.
    document = nullptr;
}
