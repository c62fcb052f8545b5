// The render flow in process against a real renderer that refuses one transfer: the user is
// told, and the next click sends the whole design again, because the change record of the
// refused click no longer says what the renderer holds.
#include <gtest/gtest.h>

#include <regex>

#include "DesignLoader.hpp"
#include "Edits.hpp"
#include "RendererTestSupport.hpp"
#include "Session.hpp"
#include "addin/FusionSceneExporter.hpp"

namespace vex::test {
namespace {

namespace core = adsk::core;

// A flat strip of `triangles` triangles, far larger than the sample's handle.
host::MeshRef strip(size_t triangles) {
    auto mesh = std::make_shared<host::MeshModel>();
    std::vector<float> xyz;
    std::vector<float> normals;
    std::vector<int> indices;
    for (size_t i = 0; i < triangles + 2; ++i) {
        xyz.insert(xyz.end(), {static_cast<float>(i / 2) + 0.5f, static_cast<float>(i % 2), 0});
        normals.insert(normals.end(), {0, 0, 1});
    }
    for (size_t i = 0; i < triangles; ++i)
        indices.insert(indices.end(),
                       {static_cast<int>(i), static_cast<int>(i + 1), static_cast<int>(i + 2)});
    mesh->coordinates = std::move(xyz);
    mesh->normals = std::move(normals);
    mesh->indices = std::move(indices);
    return mesh;
}

TEST(RenderRecovery, RefusedTransferIsReportedAndTheNextClickSendsEverything) {
    Installation install({"--max-stream-bytes", "100000"});
    ScopedEnv user{"VEX_REGISTRY_HKCU", install.hive().string()};
    ScopedEnv machine{"VEX_REGISTRY_HKLM", std::string()};
    install.start();

    host::DocumentRef model =
        host::loadJsonDesign(std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json");
    host::Session session;
    session.install();
    session.openDocument(model);
    {
        core::Ptr<core::Application> app = core::Application::get();
        FusionSceneExporter exporter(app->userInterface(), app);
        auto click = [&] { exporter.renderFlow(app->activeDocument()); };

        click();
        EXPECT_TRUE(session.messageBoxes().empty());

        // A new wheel appearance, and a handle too large for the renderer: refused whole.
        host::applyEdit(*model,
                        host::parseEdit(host::Edit::Kind::Appearance, "Wheel/Tyre=paint-red"));
        host::FaceModel& grip =
            model->products.at(0).root->occurrences.at(2).component->bodies.at(0).faces.at(0);
        const host::MeshRef small = grip.meshes.at(0);
        grip.meshes.at(0) = strip(20000);
        click();
        ASSERT_EQ(session.messageBoxes().size(), 1u);
        EXPECT_EQ(session.messageBoxes()[0],
                  ": Live link failed. Reason: \"Disconnect failed. The renderer may not have "
                  "received everything.\"");
        EXPECT_TRUE(exporter.previousStates.empty());

        // The handle back as it was: the renderer still holds the old wheels, so all is sent.
        grip.meshes.at(0) = small;
        click();
        EXPECT_EQ(session.messageBoxes().size(), 1u);
    }
    session.uninstall();

    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 8 "
                                              "kept 0 status ok picture \"Sample Cart.png\"")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1],
                                 std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 0 kept "
                                            "0 status failed reason \"stream larger than 100000 "
                                            "bytes\"")))
        << lines[1];
    EXPECT_TRUE(
        std::regex_match(lines[2], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 8 "
                                              "kept 0 status ok picture \"Sample Cart.png\"")))
        << lines[2];
}

}  // namespace
}  // namespace vex::test
