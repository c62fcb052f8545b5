// The real chain: fusion-host loads the add-in, which finds the installed renderer in the hive
// file (on Windows: the registry), starts it through the launch path, streams the sample design,
// and on the next click only what changed. The renderer keeps every stream it took, so the tests
// read what was sent. On Windows fusion-host.exe, the add-in and the live-link library run under
// Wine and the add-in's CreateProcessW starts the Linux renderer, which serves the transfer.
#include <gtest/gtest.h>

#include <regex>

#include "RendererTestSupport.hpp"

#ifndef _WIN32
#include "preview/Preview.hpp"
#endif

namespace vex::test {
namespace {

const std::string kSample = std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json";

// A path of the build as the host program takes it.
std::string hostPath(const std::string& path) {
#ifdef _WIN32
    return windowsPath(path).string();
#else
    return path;
#endif
}

// A "load" option of a stream as 0 or 1; -1 when the stream has none.
int loadOption(const Document& stream, const std::string& name) {
    for (const Node& n : stream.root.children) {
        if (!n.isBlock() || n.block().keyword != "load") continue;
        for (const Node& o : n.block().children)
            if (!o.isBlock() && o.statement().name == name && !o.statement().values.empty())
                return static_cast<int>(o.statement().values[0].i);
    }
    return -1;
}

// The number of body groups the component groups carry, by their path of names (placements of
// one component share a path).
void bodyGroups(const Block& block, const std::string& path, std::map<std::string, int>& out) {
    for (const Node& n : block.children) {
        if (!n.isBlock() || n.block().keyword != "group") continue;
        const Block& g = n.block();
        if (raymint::isBodyGroup(g)) {
            ++out[path];
        } else {
            bodyGroups(g, path + "/" + g.name(), out);
        }
    }
}

std::map<std::string, int> bodyGroups(const Document& stream) {
    std::map<std::string, int> out;
    bodyGroups(stream.root, "", out);
    return out;
}

class AddinFlow : public ::testing::Test {
  protected:
    explicit AddinFlow(std::vector<std::string> options = {"--idle", "60", "--keep-streams"})
        : install(options) {}

    RunResult host(std::vector<std::string> actions) {
        std::vector<std::string> args = {"--addin", hostPath(RAYMINT_ADDIN), "--design",
                                         hostPath(kSample)};
        args.insert(args.end(), actions.begin(), actions.end());
        return run(FUSION_HOST, args);
    }

    Document stream(int n) {
        return parseFile(
            (install.output() / "streams" / ("transfer-" + std::to_string(n) + ".rmq")).string());
    }

    // Stops the renderers the add-in started, as a user would; each must have been running.
    void stopRenderers(size_t expected) {
        const auto running = raymint::liveInstances(install.records().string());
        ASSERT_EQ(running.size(), expected);
        const RunResult stop = run(install.binary().string(), {"--stop"});
        EXPECT_EQ(stop.status, 0) << stop.output;
        std::string said;
        for (const auto& r : running) said += "stopped pid " + std::to_string(r.processId) + "\n";
        EXPECT_EQ(stop.output, said);
        EXPECT_TRUE(raymint::liveInstances(install.records().string()).empty());
    }

    Installation install;
    ScopedEnv user{"VEX_REGISTRY_HKCU", install.hive().string()};
    ScopedEnv machine{"VEX_REGISTRY_HKLM", std::string()};
};

TEST_F(AddinFlow, FirstClickStartsTheRendererAndTheSecondSendsOnlyWhatChanged) {
    const RunResult r = host({"--render", "--appearance", "Wheel/Tyre=paint-red", "--render"});
    ASSERT_EQ(r.status, 0) << r.output;

    // One renderer took both clicks: the second found it through the model set.
    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 2u);
    std::smatch first;
    std::smatch second;
    const std::regex line(
        "modelset \"Sample Cart\" bytes ([0-9]+) changed ([0-9]+) kept ([0-9]+) "
        "status ok picture \"Sample Cart.png\"");
    ASSERT_TRUE(std::regex_match(lines[0], first, line)) << lines[0];
    ASSERT_TRUE(std::regex_match(lines[1], second, line)) << lines[1];
    EXPECT_EQ(first[2], "8");
    EXPECT_EQ(first[3], "0");
    // The four placed wheels changed; the cart, both axles and the handle kept their content.
    EXPECT_EQ(second[2], "4");
    EXPECT_EQ(second[3], "4");
    EXPECT_LT(std::stoull(second[1]), std::stoull(first[1]));

    const Document one = stream(1);
    const Document two = stream(2);
    for (const char* option : {"import_adjust_camera", "import_adjust_environment"}) {
        EXPECT_EQ(loadOption(one, option), 1) << option;
        EXPECT_EQ(loadOption(two, option), 0) << option;
    }
    EXPECT_EQ(loadOption(two, "import_center_geometry"), 0);
    const std::map<std::string, int> all = {{"/Sample Cart/Sample Cart", 2},
                                            {"/Sample Cart/Sample Cart/Axle", 2},
                                            {"/Sample Cart/Sample Cart/Axle/Wheel", 4},
                                            {"/Sample Cart/Sample Cart/Handle", 1}};
    EXPECT_EQ(bodyGroups(one), all);
    const std::map<std::string, int> wheels = {{"/Sample Cart/Sample Cart/Axle/Wheel", 4}};
    EXPECT_EQ(bodyGroups(two), wheels);

    // The renderer's model set still holds every body, the wheels with their new content.
    const auto content =
        componentContent(parseFile((install.output() / "Sample Cart.rmq").string()));
    EXPECT_FALSE(content.at("/Sample Cart/Sample Cart/Axle/Wheel").empty());
    EXPECT_FALSE(content.at("/Sample Cart/Sample Cart/Handle").empty());
    stopRenderers(1);
}

#ifndef _WIN32
// The picture after a click is taken through the camera the add-in sent, from everything the
// renderer holds: the sample's camera looks at the chassis; once the chassis is hidden the
// background shows there, while the wheels (kept from the click before) still show their
// checker texture.
TEST_F(AddinFlow, PictureShowsWhatTheRendererHoldsThroughTheUsersCamera) {
    const std::string file = (install.output() / "Sample Cart.png").string();
    ASSERT_EQ(host({"--render"}).status, 0);
    const preview::Image before = preview::readPng(file);
    const RunResult r = host({"--render", "--hide-body", "Sample Cart/Chassis", "--render"});
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(std::regex_search(readLines(install.transferLog()).back(),
                                  std::regex("changed 1 kept 7 status ok picture")));
    const preview::Image after = preview::readPng(file);
    ASSERT_EQ(after.width, 1024);
    ASSERT_EQ(after.height, 768);
    const auto count = [](const preview::Image& image, auto&& is) {
        int n = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) n += is(image.at(x, y));
        return n;
    };
    const auto red = [](preview::Rgb p) { return p.r > 2 * p.g && p.r > 2 * p.b; };
    const auto dark = [](preview::Rgb p) { return p.r == p.g && p.g == p.b && p.r < 60; };
    EXPECT_TRUE(red(before.at(512, 384)));
    EXPECT_EQ(after.at(512, 384), preview::kBackground);
    EXPECT_LT(2 * count(after, red), count(before, red));
    EXPECT_GT(count(after, dark), 1000);
    // The picture is the stored model set's, which holds the camera.
    const preview::Picture held =
        preview::render(parseFile((install.output() / "Sample Cart.rmq").string()));
    EXPECT_TRUE(held.counts.sceneCamera);
    EXPECT_EQ(held.image.rgb, after.rgb);
    stopRenderers(1);
}
#endif

TEST_F(AddinFlow, MovedOccurrenceSendsPlacementsOnlyUnderTheKeptMeshes) {
    const RunResult r = host({"--render", "--move", "Axle=10,0,0", "--render"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 0 "
                                              "kept 8 status ok picture \"Sample Cart.png\"")))
        << lines[1];
    EXPECT_TRUE(bodyGroups(stream(2)).empty());

    const Document set = parseFile((install.output() / "Sample Cart.rmq").string());
    const Block* top = childGroup(set.root, "Sample Cart");
    ASSERT_NE(top, nullptr);
    const Block* root = childGroup(*top, "Sample Cart");
    ASSERT_NE(root, nullptr);
    const Block* axle = childGroup(*root, "Axle");
    ASSERT_NE(axle, nullptr);
    bool moved = false;
    for (const Node& n : axle->children)
        if (!n.isBlock() && n.statement().name == "transform")
            moved = n.statement().values.at(12).number() == -100;
    EXPECT_TRUE(moved);
    EXPECT_FALSE(componentContent(set).at("/Sample Cart/Sample Cart/Axle/Wheel").empty());
    stopRenderers(1);
}

TEST_F(AddinFlow, RenamedDocumentIsSentWholeAsANewModelSet) {
    const RunResult r = host({"--render", "--rename", "Other Cart v3", "--render"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex("modelset \"Other Cart\" bytes [0-9]+ changed 8 kept "
                                              "0 status ok picture \"Other Cart.png\"")))
        << lines[1];
    const Document two = stream(2);
    EXPECT_EQ(loadOption(two, "import_adjust_camera"), 1);
    EXPECT_EQ(loadOption(two, "import_adjust_environment"), 1);
    // Every body again, under the new name; the root component keeps its own.
    std::map<std::string, int> all;
    for (const auto& [path, count] : bodyGroups(stream(1)))
        all["/Other Cart" + path.substr(std::string("/Sample Cart").size())] = count;
    EXPECT_EQ(all.size(), 4u);
    EXPECT_EQ(bodyGroups(two), all);
    EXPECT_TRUE(fs::exists(install.output() / "Sample Cart.rmq"));
    EXPECT_TRUE(fs::exists(install.output() / "Other Cart.rmq"));
    stopRenderers(1);
}

class AddinFlowOutsideVersions : public AddinFlow {
  protected:
    AddinFlowOutsideVersions() : AddinFlow({"--version", "13"}) {}
};

TEST_F(AddinFlowOutsideVersions, InstallationOfAnotherVersionIsNotUsed) {
    const RunResult r = host({"--render"});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("fusion-host: message box: : Live link failed. Reason: \"Failed to "
                            "connect. Could not get a scene api. Please check your RayMint "
                            "installation.\n\"\n"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(install.transferLog()));
    stopRenderers(0);
}

class AddinFlowDyingRenderer : public AddinFlow {
  protected:
    AddinFlowDyingRenderer() : AddinFlow({"--idle", "60", "--die-after", "2000"}) {}
};

TEST_F(AddinFlowDyingRenderer, RendererKilledMidStreamIsReportedAndTheNextClickSendsAll) {
    const RunResult r = host({"--render"});
    // The host lives on and tells the user; the renderer is gone and took nothing.
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("fusion-host: message box: : Live link failed. Reason: \"Disconnect "
                            "failed. The renderer may not have received everything.\"\n"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(install.transferLog()));
    EXPECT_TRUE(raymint::liveInstances(install.records().string()).empty());

    // Healed renderer settings: the next session starts a new renderer and sends everything.
    const fs::path config = install.prefix() / "etc" / "raymint.conf";
    std::string settings = readFile(config);
    settings = std::regex_replace(settings, std::regex("die_after_bytes = [0-9]+\n"), "");
    writeFile(config, settings);
    const RunResult again = host({"--render"});
    ASSERT_EQ(again.status, 0) << again.output;
    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 8 "
                                              "kept 0 status ok picture \"Sample Cart.png\"")))
        << lines[0];
    stopRenderers(1);
}

}  // namespace
}  // namespace vex::test
