// The real chain: fusion-host loads the add-in, which finds the installed renderer in the hive
// file, starts it, streams the sample design, and on the next click only what changed.
#include <gtest/gtest.h>

#include <regex>

#include "RendererTestSupport.hpp"

namespace vex::test {
namespace {

class AddinFlow : public ::testing::Test {
  protected:
    ~AddinFlow() override {
        // The add-in starts the renderer detached: whatever is left of it is stopped here.
        for (const auto& r : raymint::liveInstances(install.records().string()))
            ::kill(static_cast<pid_t>(r.processId), SIGKILL);
    }
    Installation install{{"--idle", "60"}};
    ScopedEnv user{"VEX_REGISTRY_HKCU", install.hive().string()};
    ScopedEnv machine{"VEX_REGISTRY_HKLM", std::string()};
};

TEST_F(AddinFlow, ClicksStartTheRendererAndUpdateItsModelSet) {
    const RunResult host =
        run(FUSION_HOST, {"--addin", RAYMINT_ADDIN, "--design",
                          std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json",
                          "--render", "--move", "Axle=10,0,0", "--render"});
    ASSERT_EQ(host.status, 0) << host.output;

    const auto running = raymint::liveInstances(install.records().string());
    ASSERT_EQ(running.size(), 1u);
    const std::vector<std::string> lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 2u);
    // All eight components the first time; the move changes placements only.
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 8 kept 0 status ok")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex("modelset \"Sample Cart\" bytes [0-9]+ changed 0 kept 8 status ok")))
        << lines[1];

    // The kept meshes sit under the moved placement.
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
    const auto content = componentContent(set);
    EXPECT_FALSE(content.at("/Sample Cart/Sample Cart/Axle/Wheel").empty());

    const RunResult stop = run(install.binary().string(), {"--stop"});
    EXPECT_EQ(stop.status, 0) << stop.output;
    EXPECT_EQ(stop.output, "stopped pid " + std::to_string(running[0].processId) + "\n");
    EXPECT_TRUE(raymint::liveInstances(install.records().string()).empty());
}

}  // namespace
}  // namespace vex::test
