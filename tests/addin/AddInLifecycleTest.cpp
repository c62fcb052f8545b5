// The add-in's entry points in process: the buttons run places (and where, when the render
// workspace or panel is missing), a second run that adds nothing, clicks through the handlers,
// and what the add-in still holds after every flow and after stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
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

std::vector<std::string> controls(const host::Session& session) {
    std::vector<std::string> out;
    for (const auto& c : session.controls())
        out.push_back(c.place + " " + c.id + (c.visible ? "" : " hidden"));
    return out;
}

// id, name, resource folder and the number of command-created handlers of each definition.
std::vector<std::string> definitions(const host::Session& session) {
    std::vector<std::string> out;
    for (const auto& d : session.definitions())
        out.push_back(d.id + " | " + d.name + " | " + d.resourceFolder + " | " +
                      std::to_string(d.createdHandlers));
    return out;
}

using Held = std::map<std::string, long>;

Held references() {
    return host::Audit::now().references;
}

host::DocumentRef sample() {
    return host::loadJsonDesign(std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json");
}

const std::vector<std::string> kStandardDefinitions = {
    kQatRender + " | Render in RayMint 11 | ./resources/render_command | 1",
    kPanelRender + " | Render in RayMint 11 | ./resources/render_command | 1",
    kPanelExport + " | Export to RayMint .rmq | ./resources/export_command | 1",
};

const Held kAfterRun = {{"adsk::core::Application", 1}, {"adsk::core::UserInterface", 1}};
// The exporter made by the first click keeps its own application and user interface.
const Held kWithExporter = {{"adsk::core::Application", 2}, {"adsk::core::UserInterface", 2}};
// After stop the add-in keeps only its application reference.
const Held kAfterStop = {{"adsk::core::Application", 1}};

TEST(AddInLifecycle, SecondRunAddsNothingAndStopReleasesTheUserInterface) {
    addintest::ScratchDir dir;
    host::Session session;
    session.install();
    session.openDocument(sample());
    const std::vector<std::string> placed = {
        "toolbar QAT " + kQatRender,
        "workspace FusionRenderEnvironment panel RenderPanel " + kPanelRender,
        "workspace FusionRenderEnvironment panel RenderPanel " + kPanelExport,
    };
    ASSERT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    EXPECT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    EXPECT_EQ(references(), kAfterRun);

    // Each click reaches one created and one execute handler, whatever the number of runs.
    const std::filesystem::path file = dir / "cart.rmq";
    session.answerSaveDialog(file.string());
    host::ClickReport report = session.click(kPanelExport);
    EXPECT_TRUE(report.found);
    EXPECT_EQ(report.createdHandlers, 1);
    EXPECT_EQ(report.executeHandlers, 1);
    EXPECT_TRUE(report.exceptions.empty()) << report.exceptions.front();
    EXPECT_EQ(addintest::readFile(file).rfind("//---corvan:dal:7---\n", 0), 0u);
    EXPECT_EQ(references(), kWithExporter);
    EXPECT_TRUE(host::Audit::now().arrays.empty());

    // Cancelled and failing flows leave nothing more held either.
    session.answerSaveDialog(std::nullopt);
    report = session.click(kPanelExport);
    EXPECT_TRUE(report.exceptions.empty());
    EXPECT_EQ(references(), kWithExporter);
    session.answerSaveDialog((dir / "missing" / "x.rmq").string());
    report = session.click(kPanelExport);
    ASSERT_EQ(report.exceptions.size(), 1u);
    EXPECT_NE(report.exceptions[0].find("could not open file"), std::string::npos)
        << report.exceptions[0];
    EXPECT_EQ(references(), kWithExporter);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
    EXPECT_EQ(session.unansweredDialogs(), 0);

    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
    EXPECT_TRUE(host::Audit::now().arrays.empty());

    // The host keeps the buttons; a new run finds them and adds no handler, and the next click
    // gets a fresh exporter.
    ASSERT_TRUE(run(""));
    EXPECT_EQ(controls(session), placed);
    EXPECT_EQ(definitions(session), kStandardDefinitions);
    const std::filesystem::path again = dir / "again.rmq";
    session.answerSaveDialog(again.string());
    report = session.click(kPanelExport);
    EXPECT_EQ(report.executeHandlers, 1);
    EXPECT_TRUE(report.exceptions.empty());
    EXPECT_EQ(addintest::readFile(again), addintest::readFile(file));
    EXPECT_EQ(references(), kWithExporter);
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
}

struct LayoutCase {
    const char* what;
    host::Layout layout;
    bool runs;
    // Where the two panel buttons go; empty: only the quick-access button (or none).
    std::string panel;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.what;
}

class Layouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layouts, PanelButtonsFallBackToTheLastWorkspaceAndPanel) {
    const LayoutCase& c = GetParam();
    addintest::ScratchDir dir;
    host::Session session(c.layout);
    session.install();
    session.openDocument(sample());
    EXPECT_EQ(run(""), c.runs);
    std::vector<std::string> expected;
    if (c.runs) expected.push_back("toolbar QAT " + kQatRender);
    if (!c.panel.empty()) {
        expected.push_back(c.panel + " " + kPanelRender);
        expected.push_back(c.panel + " " + kPanelExport);
    }
    EXPECT_EQ(controls(session), expected);
    EXPECT_EQ(session.definitions().size(), c.runs ? (c.panel.empty() ? 1u : 3u) : 0u);
    if (!c.panel.empty()) {
        const std::filesystem::path file = dir / "out.rmq";
        session.answerSaveDialog(file.string());
        const host::ClickReport report = session.click(kPanelExport);
        EXPECT_EQ(report.executeHandlers, 1);
        EXPECT_TRUE(report.exceptions.empty());
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    // Even a run that gave up keeps the references it took; stop releases the interface.
    EXPECT_EQ(references(), c.panel.empty() ? kAfterRun : kWithExporter);
    EXPECT_TRUE(stop(""));
    EXPECT_EQ(references(), kAfterStop);
    EXPECT_TRUE(host::Audit::now().arrays.empty());
}

host::Layout layout(std::vector<std::string> toolbars,
                    std::vector<host::Layout::Workspace> workspaces) {
    host::Layout l;
    l.toolbars = std::move(toolbars);
    l.workspaces = std::move(workspaces);
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, Layouts,
    testing::Values(
        LayoutCase{"noRenderWorkspace",
                   layout({"QAT"}, {{"Design", {"P1", "P2"}}, {"Docs", {"D1", "D2"}}}), true,
                   "workspace Docs panel D2"},
        LayoutCase{"noRenderPanel",
                   layout({"QAT"},
                          {{"FusionRenderEnvironment", {"SetupPanel", "Other"}}, {"Docs", {"D1"}}}),
                   true, "workspace FusionRenderEnvironment panel Other"},
        LayoutCase{"noWorkspaces", layout({"QAT"}, {}), true, ""},
        LayoutCase{"lastWorkspaceWithoutPanels", layout({"QAT"}, {{"Design", {"P1"}}, {"E", {}}}),
                   true, ""},
        LayoutCase{"renderWorkspaceWithoutPanels",
                   layout({"QAT"}, {{"FusionRenderEnvironment", {}}, {"Docs", {"D1"}}}), true, ""},
        LayoutCase{"noQuickAccessToolbar",
                   layout({"NavToolbar"}, host::Layout::standard().workspaces), false, ""}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.what); });

}  // namespace
