// The add-in's entry points in process: the buttons run places (and where, when the render
// workspace or panel is missing), a second run that adds nothing, clicks through the handlers,
// what the add-in still holds after every flow and after stop, and a deep design exported on
// a stack as small as the host's.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <pthread.h>
#endif

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "AddinTestSupport.hpp"
#include "DesignLoader.hpp"
#include "Session.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

const std::string kQatRender = "rayMint11RenderCommandOnQATCPP";
const std::string kPanelRender = "rayMint11RenderCommandOnPanelCPP";
const std::string kPanelExport = "rayMint11ExportCommandOnPanelCPP";
const std::string kRenderPanel = "workspace FusionRenderEnvironment panel RenderPanel";

std::string controls(const host::Session& session) {
    std::string out;
    for (const auto& c : session.controls())
        out += c.place + " " + c.id + (c.visible ? "" : " hidden") + "\n";
    return out;
}

// Where each control is and each definition's id, name, icon folder and created handlers.
std::string buttons(const host::Session& session) {
    std::string out = controls(session);
    for (const auto& d : session.definitions())
        out += d.id + " | " + d.name + " | " + d.resourceFolder + " | " +
               std::to_string(d.createdHandlers) + "\n";
    return out;
}

using Held = std::map<std::string, long>;

host::DocumentRef sample() {
    return host::loadJsonDesign(std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json");
}

const std::string kStandardButtons =
    "toolbar QAT " + kQatRender + "\n" + kRenderPanel + " " + kPanelRender + "\n" + kRenderPanel +
    " " + kPanelExport + "\n" + kQatRender +
    " | Render in RayMint 11 | ./resources/render_command | 1\n" + kPanelRender +
    " | Render in RayMint 11 | ./resources/render_command | 1\n" + kPanelExport +
    " | Export to RayMint .rmq | ./resources/export_command | 1\n";

const Held kAfterRun = {{"adsk::core::Application", 1}, {"adsk::core::UserInterface", 1}};
// The exporter made by the first click keeps its own application and user interface.
const Held kWithExporter = {{"adsk::core::Application", 2}, {"adsk::core::UserInterface", 2}};
// After stop the add-in keeps only its application reference.
const Held kAfterStop = {{"adsk::core::Application", 1}};

// Answers the save dialog with `file` and clicks export: the exceptions out of the handler.
std::vector<std::string> exportTo(host::Session& session, std::optional<std::string> file) {
    session.answerSaveDialog(std::move(file));
    const host::ClickReport report = session.click(kPanelExport);
    EXPECT_EQ(report.createdHandlers, 1);
    EXPECT_EQ(report.executeHandlers, 1);
    return report.exceptions;
}

TEST(AddInLifecycle, SecondRunAddsNothingAndStopReleasesTheUserInterface) {
    addintest::ScratchDir dir;
    host::Session session;
    session.install();
    session.openDocument(sample());
    ASSERT_TRUE(run(""));
    EXPECT_TRUE(run(""));
    EXPECT_EQ(buttons(session), kStandardButtons);
    EXPECT_EQ(host::Audit::now().references, kAfterRun);

    // Each click reaches one created and one execute handler, whatever the number of runs;
    // cancelled and failing flows leave nothing more held either.
    EXPECT_EQ(exportTo(session, (dir / "cart.rmq").string()), std::vector<std::string>{});
    EXPECT_EQ(addintest::readFile(dir / "cart.rmq").rfind("//---corvan:dal:7---\n", 0), 0u);
    EXPECT_EQ(host::Audit::now().references, kWithExporter);
    EXPECT_EQ(exportTo(session, std::nullopt), std::vector<std::string>{});
    const auto failed = exportTo(session, (dir / "missing" / "x.rmq").string());
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_NE(failed[0].find("could not open file"), std::string::npos) << failed[0];
    EXPECT_EQ(host::Audit::now().references, kWithExporter);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(host::Audit::now().references, kAfterStop);

    // The host keeps the buttons; a new run finds them and adds no handler, and the next click
    // gets a fresh exporter.
    ASSERT_TRUE(run(""));
    EXPECT_EQ(buttons(session), kStandardButtons);
    EXPECT_EQ(exportTo(session, (dir / "again.rmq").string()), std::vector<std::string>{});
    EXPECT_EQ(addintest::readFile(dir / "again.rmq"), addintest::readFile(dir / "cart.rmq"));
    EXPECT_EQ(host::Audit::now().references, kWithExporter);

    // Every save dialog proposes the document's full name, version included, and an unnamed
    // document "Untitled.rmq".
    host::DocumentRef unnamed = sample();
    unnamed->name.clear();
    session.openDocument(unnamed);
    exportTo(session, std::nullopt);
    std::string dialogs;
    for (const auto& d : session.saveDialogs())
        dialogs += d.filter + " | " + std::to_string(d.filterIndex) + " | " + d.initialDirectory +
                   " | " + d.initialFilename + "\n";
    const std::string setUp = "RayMint scene (*.rmq) | 0 | %CSIDL_MYDOCUMENTS% | ";
    std::string expected;
    for (int i = 0; i < 4; ++i) expected += setUp + "Sample Cart v3\n";
    EXPECT_EQ(dialogs, expected + setUp + "Untitled.rmq\n");
    EXPECT_EQ(session.unansweredDialogs(), 0);
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(host::Audit::now().references, kAfterStop);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
}

// Without the render workspace the panel buttons go to the last workspace, without the render
// panel to the last panel; with neither there, only the quick-access button is placed.
TEST(AddInLifecycle, PanelButtonsFallBackToTheLastWorkspaceAndPanel) {
    struct Case {
        std::vector<std::string> toolbars;
        std::vector<host::Layout::Workspace> workspaces;
        bool runs;
        std::string panel;  // where the two panel buttons go; empty: nowhere
    };
    const Case cases[] = {
        {{"QAT"},
         {{"Design", {"P1", "P2"}}, {"Docs", {"D1", "D2"}}},
         true,
         "workspace Docs panel D2"},
        {{"QAT"}, {{"Design", {"P1", "P2"}}}, true, "workspace Design panel P2"},
        {{"QAT"},
         {{"FusionRenderEnvironment", {"SetupPanel", "Other"}}, {"Docs", {"D1"}}},
         true,
         "workspace FusionRenderEnvironment panel Other"},
        {{"QAT"}, {}, true, ""},
        {{"QAT"}, {{"Design", {"P1"}}, {"E", {}}}, true, ""},
        {{"QAT"}, {{"FusionRenderEnvironment", {}}, {"Docs", {"D1"}}}, true, ""},
        {{"NavToolbar"}, host::Layout::standard().workspaces, false, ""},
    };
    for (const Case& c : cases) {
        addintest::ScratchDir dir;
        host::Session session(host::Layout{c.toolbars, c.workspaces});
        session.install();
        session.openDocument(sample());
        EXPECT_EQ(run(""), c.runs) << c.panel;
        std::string expected;
        if (c.runs) expected = "toolbar QAT " + kQatRender + "\n";
        if (!c.panel.empty())
            expected += c.panel + " " + kPanelRender + "\n" + c.panel + " " + kPanelExport + "\n";
        EXPECT_EQ(controls(session), expected);
        EXPECT_EQ(session.definitions().size(), c.runs ? (c.panel.empty() ? 1u : 3u) : 0u);
        if (!c.panel.empty()) {
            EXPECT_EQ(exportTo(session, (dir / "out.rmq").string()), std::vector<std::string>{});
            EXPECT_TRUE(std::filesystem::exists(dir / "out.rmq"));
        }
        // Even a run that gave up keeps the references it took; stop releases the interface.
        EXPECT_EQ(host::Audit::now().references, c.panel.empty() ? kAfterRun : kWithExporter)
            << c.panel;
        EXPECT_TRUE(stop(""));
        EXPECT_EQ(host::Audit::now().references, kAfterStop);
    }
}

// Runs `job` on a thread with 1 MiB of stack, as the host's main thread has on Windows (there,
// on this program's main thread).
void onSmallStack(std::function<void()> job) {
#ifdef _WIN32
    job();
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t{1} << 20);
    pthread_t thread;
    auto call = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, call, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
#endif
}

// The walk, the writing and the release of the scene graph each go down once per level on the
// host's main thread: a design as deep
// as the host accepts (components c0 to c999, each placing the next 1 cm up and holding one box
// body) must export whole within it, also under AddressSanitizer at -O0.
TEST(AddInOnASmallStack, ThousandLevelDesignExportsWhole) {
    const int levels = 1000;
    addintest::ScratchDir dir;
    std::string json = R"({"document": "deep", "products": [{"type": "design", "root": "c0",
      "components": [)";
    for (int i = 0; i < levels; ++i) {
        const std::string n = std::to_string(i);
        json += std::string(i ? "," : "") + "\n{\"name\": \"c" + n +
                "\", \"bodies\": [{\"name\": \"b" + n +
                R"(", "faces": [{"meshes": [{"box": {"min": [0, 0, 0], "max": [1, 1, 1]}}]}]}])";
        if (i + 1 < levels)
            json += R"(, "occurrences": [{"component": "c)" + std::to_string(i + 1) +
                    R"(", "transform": {"translation": [0, 0, 1]}}])";
        json += "}";
    }
    addintest::writeFile(dir / "deep.json", json + "]}]}");
    host::Session session;
    session.install();
    session.openDocument(host::loadJsonDesign((dir / "deep.json").string()));
    ASSERT_TRUE(run(""));
    onSmallStack([&] {
        EXPECT_EQ(exportTo(session, (dir / "deep.rmq").string()), std::vector<std::string>{});
    });
    EXPECT_TRUE(stop(""));
    const addintest::Result inspect =
        addintest::run(std::string(RMQ_INSPECT) + " --tree " + (dir / "deep.rmq").string());
    ASSERT_EQ(inspect.status, 0) << inspect.out.substr(0, 2000);
    EXPECT_NE(inspect.out.find("triangles: 12000\n"), std::string::npos);
    // Every placement arrives, 1 cm up in a design in centimetres.
    const std::string scene = addintest::readFile(dir / "deep.rmq");
    const std::string up = "transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1\n";
    size_t placements = 0;
    for (size_t at = 0; (at = scene.find(up, at)) != std::string::npos; at += up.size())
        ++placements;
    EXPECT_EQ(placements, static_cast<size_t>(levels - 1));
}

}  // namespace
