// The render flow in process against a real renderer when a click fails: the user is told, and
// the next click sends the whole design again, because the change record of the failed click
// no longer says what the renderer holds.
#include <gtest/gtest.h>

#include <functional>
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

// A click that fails after the renderer was reached, whether the renderer refuses the stream,
// dies in the middle of it, or the host fails the walk: the user is told (a message box, or the
// exception the host reports), the record of what was sent is gone, and the next click sends
// the whole design, also to a renderer that still holds the model set of the click before.
TEST(RenderRecovery, AFailedClickIsReportedAndTheNextClickSendsEverything) {
    const char* const kLinkFailed =
        ": Live link failed. Reason: \"Disconnect failed. The renderer may not have received "
        "everything.\"";
    struct Case {
        const char* what;
        std::vector<std::string> rendererArguments;
        // Breaks the next click and returns what mends it again.
        std::function<std::function<void()>(host::Session&, host::DocumentModel&)> fault;
        bool throws;
        const char* message;  // of the message box, or "" for none
        const char* log;      // the failed click's transfer log line, or "" for none
    };
    // The handle replaced by a strip far larger than the renderer takes or lives through.
    auto largeHandle = [](host::Session&, host::DocumentModel& model) -> std::function<void()> {
        host::FaceModel& grip =
            model.products.at(0).root->occurrences.at(2).component->bodies.at(0).faces.at(0);
        const host::MeshRef small = grip.meshes.at(0);
        grip.meshes.at(0) = strip(20000);
        return [&grip, small] { grip.meshes.at(0) = small; };
    };
    const std::vector<Case> cases = {
        {"refused by the renderer",
         {},
         largeHandle,
         false,
         kLinkFailed,
         "modelset \"Sample Cart\" bytes [0-9]+ changed 0 kept 0 status failed reason \"stream "
         "larger than 100000 bytes\""},
        // The next click starts a new renderer, which holds nothing yet.
        {"renderer dies", {"--die-after", "30000"}, largeHandle, false, kLinkFailed, ""},
        {"host refuses the 5th mesh array",
         {},
         [](host::Session& session, host::DocumentModel&) -> std::function<void()> {
             session.failMeshArray(5);
             return [&session] { session.failMeshArray(0); };
         },
         true,
         "",
         "modelset - bytes [0-9]+ changed 0 kept 0 status failed reason \"the stream holds no "
         "root group\""},
    };
    for (const Case& c : cases) {
        Installation install({"--max-stream-bytes", "100000"});
        ScopedEnv user{"VEX_REGISTRY_HKCU", install.hive().string()};
        ScopedEnv machine{"VEX_REGISTRY_HKLM", std::string()};
        install.start(c.rendererArguments);
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
            // A new wheel appearance, then the failing click.
            host::applyEdit(*model,
                            host::parseEdit(host::Edit::Kind::Appearance, "Wheel/Tyre=paint-red"));
            const std::function<void()> mend = c.fault(session, *model);
            bool threw = false;
            try {
                click();
            } catch (const std::exception&) {
                threw = true;
            }
            EXPECT_EQ(threw, c.throws) << c.what;
            EXPECT_EQ(session.messageBoxes(),
                      *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{})
                << c.what;
            EXPECT_TRUE(exporter.previousStates.empty()) << c.what;
            mend();
            click();
            EXPECT_EQ(session.messageBoxes().size(), *c.message ? 1u : 0u) << c.what;
        }
        session.uninstall();
        // Renderers the add-in started are not the installation's to stop.
        for (const auto& r : raymint::liveInstances(install.records().string()))
            ::kill(static_cast<pid_t>(r.processId), SIGKILL);

        const std::string all =
            "modelset \"Sample Cart\" bytes [0-9]+ changed 8 kept 0 status ok picture "
            "\"Sample Cart.png\"";
        std::vector<std::string> expected = {all, all};
        if (*c.log) expected.insert(expected.begin() + 1, c.log);
        const std::vector<std::string> lines = readLines(install.transferLog());
        ASSERT_EQ(lines.size(), expected.size()) << c.what;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i])))
                << c.what << ": " << lines[i];
    }
}

}  // namespace
}  // namespace vex::test
