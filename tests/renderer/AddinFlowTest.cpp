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

using Counts = std::map<std::string, int>;

// The number of body groups below each component group of a stream, by path of names.
void bodyGroups(const Block& block, const std::string& path, Counts& out) {
    for (const Node& n : block.children) {
        if (!n.isBlock() || n.block().keyword != "group") continue;
        if (raymint::isBodyGroup(n.block())) {
            ++out[path];
        } else {
            bodyGroups(n.block(), path + "/" + n.block().name(), out);
        }
    }
}

// The "load" options that tell the renderer to take camera and environment, as 0/1 pairs.
std::string adjustOptions(const Document& stream) {
    std::string out;
    for (const Node& n : stream.root.children)
        if (n.isBlock() && n.block().keyword == "load")
            for (const Node& o : n.block().children)
                if (!o.isBlock() && o.statement().name.rfind("import_adjust_", 0) == 0)
                    out += std::to_string(o.statement().values.at(0).i);
    return out;
}

class AddinFlow : public ::testing::Test {
  protected:
    explicit AddinFlow(std::vector<std::string> options = {"--idle", "60", "--keep-streams"})
        : install(options) {}

    RunResult host(std::vector<std::string> actions) {
        std::vector<std::string> args = {"--addin", buildPath(RAYMINT_ADDIN).string(), "--design",
                                         buildPath(kSample).string()};
        args.insert(args.end(), actions.begin(), actions.end());
        return run(FUSION_HOST, args);
    }

    Counts bodies(int n) {
        Counts out;
        stream[n] = parseFile(
            (install.output / "streams" / ("transfer-" + std::to_string(n) + ".rmq")).string());
        bodyGroups(stream[n].root, "", out);
        return out;
    }

    // The transfer log must match `lines` (patterns); the renderers the add-in started are
    // stopped as a user would, and each must have been running.
    void expectLog(const std::vector<std::string>& lines, size_t renderers = 1) {
        const std::vector<std::string> log = readLines(install.transferLog);
        ASSERT_EQ(log.size(), lines.size());
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(std::regex_match(log[i], std::regex(lines[i]))) << log[i];
        const auto running = raymint::liveInstances(install.records.string());
        ASSERT_EQ(running.size(), renderers);
        const RunResult stop = run(install.binary.string(), {"--stop"});
        std::string said;
        for (const auto& r : running) said += "stopped pid " + std::to_string(r.processId) + "\n";
        EXPECT_EQ(std::tie(stop.status, stop.output), std::make_tuple(0, said));
        EXPECT_TRUE(raymint::liveInstances(install.records.string()).empty());
    }

    const std::string kSample = std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json";
    // A transfer log line of an accepted transfer, as a pattern.
    static std::string taken(const std::string& set, const std::string& counts) {
        return "modelset \"" + set + "\" bytes [0-9]+ changed " + counts + " status ok picture \"" +
               set + ".png\"";
    }
    const std::string all = taken("Sample Cart", "8 kept 0");
    Installation install;
    ScopedEnv user{"VEX_REGISTRY_HKCU", install.hive.string()};
    ScopedEnv machine{"VEX_REGISTRY_HKLM", std::string()};
    std::map<int, Document> stream;
};

const Counts kAll = {{"/Sample Cart/Sample Cart", 2},
                     {"/Sample Cart/Sample Cart/Axle", 2},
                     {"/Sample Cart/Sample Cart/Axle/Wheel", 4},
                     {"/Sample Cart/Sample Cart/Handle", 1}};

// One renderer takes both clicks: the second sends what changed, and the renderer's model set
// still holds every body.
TEST_F(AddinFlow, SecondClickSendsOnlyWhatChanged) {
    ASSERT_EQ(host({"--render", "--appearance", "Wheel/Tyre=paint-red", "--render"}).status, 0);
    EXPECT_EQ(bodies(1), kAll);
    EXPECT_EQ(bodies(2), (Counts{{"/Sample Cart/Sample Cart/Axle/Wheel", 4}}));
    EXPECT_EQ(adjustOptions(stream[1]) + adjustOptions(stream[2]), "1100");
    const auto content = componentContent(parseFile((install.output / "Sample Cart.rmq").string()));
    EXPECT_FALSE(content.at("/Sample Cart/Sample Cart/Axle/Wheel").empty());
    EXPECT_FALSE(content.at("/Sample Cart/Sample Cart/Handle").empty());
    expectLog({all, taken("Sample Cart", "4 kept 4")});
}

// A moved occurrence sends placements only, under the kept meshes.
TEST_F(AddinFlow, MovedOccurrenceSendsPlacementsOnly) {
    ASSERT_EQ(host({"--render", "--move", "Axle=10,0,0", "--render"}).status, 0);
    EXPECT_TRUE(bodies(2).empty());
    const std::string set = readFile(install.output / "Sample Cart.rmq");
    const std::regex axle("group \"Axle\" \\{\n *flags [0-9]+\n *transform ([^ ]+ ){12}-100 ");
    EXPECT_TRUE(std::regex_search(set, axle)) << set;
    EXPECT_FALSE(
        componentContent(parseString(set)).at("/Sample Cart/Sample Cart/Axle/Wheel").empty());
    expectLog({all, taken("Sample Cart", "0 kept 8")});
}

// A renamed document is sent whole as a new model set; the old one stays.
TEST_F(AddinFlow, RenamedDocumentIsSentWhole) {
    ASSERT_EQ(host({"--render", "--rename", "Other Cart v3", "--render"}).status, 0);
    Counts renamed;
    for (const auto& [path, count] : kAll) renamed["/Other Cart" + path.substr(12)] = count;
    EXPECT_EQ(bodies(2), renamed);
    EXPECT_EQ(adjustOptions(stream[2]), "11");
    EXPECT_TRUE(fs::exists(install.output / "Sample Cart.rmq"));
    expectLog({all, taken("Other Cart", "8 kept 0")});
}

#ifndef _WIN32
// The picture after a click is the stored model set's, taken through the camera the add-in
// sent: the sample's camera looks at the chassis; once it is hidden the background shows there.
TEST_F(AddinFlow, PictureShowsWhatTheRendererHolds) {
    ASSERT_EQ(host({"--render", "--hide-body", "Sample Cart/Chassis", "--render"}).status, 0);
    const preview::Image picture = preview::readPng((install.output / "Sample Cart.png").string());
    const preview::Picture held =
        preview::render(parseFile((install.output / "Sample Cart.rmq").string()));
    EXPECT_TRUE(held.counts.sceneCamera);
    EXPECT_EQ(std::tie(picture.width, picture.height), std::make_tuple(1024, 768));
    EXPECT_EQ(held.image.rgb, picture.rgb);
    EXPECT_EQ(picture.at(512, 384), preview::kBackground);
    expectLog({all, taken("Sample Cart", "1 kept 7")});
}
#endif

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
    expectLog({}, 0);
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
    EXPECT_FALSE(fs::exists(install.transferLog));
    EXPECT_TRUE(raymint::liveInstances(install.records.string()).empty());

    // Healed renderer settings: the next session starts a new renderer and sends everything.
    const fs::path config = install.prefix / "etc" / "raymint.conf";
    writeFile(config, std::regex_replace(readFile(config), std::regex("die_after_bytes.*\n"), ""));
    ASSERT_EQ(host({"--render"}).status, 0);
    expectLog({all});
}

}  // namespace
}  // namespace vex::test
