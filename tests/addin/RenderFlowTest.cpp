// The render button through fusion-host and the real add-in: without an installation the user
// sees the exact message, nothing is left held and later clicks still work; with the renderer
// installed, what one click streams is compared whole with the stream kept beside this test.
#include <gtest/gtest.h>

#include <regex>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "AddinTestSupport.hpp"

namespace {

using addintest::run;
using addintest::ScratchDir;

TEST(RenderFlow, WithoutInstallationTheMessageBoxTellsWhyAndNothingStaysHeld) {
    ScratchDir dir;
#ifdef _WIN32
    // The test's own registry holds no installation.
    const std::string env = "cd /d " + dir.path().string() + " && ";
#else
    // Empty hives: no installation anywhere, whatever the machine holds.
    const std::string env =
        "cd " + dir.path().string() + " && VEX_REGISTRY_HKCU= VEX_REGISTRY_HKLM= ";
#endif
    const auto r = run(env +
                       FUSION_HOST " --design " VEX_SOURCE_DIR
                                   "/examples/sample-assembly.json --render --render --audit"
                                   " --export " +
                       (dir / "after.rmq").string());
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string box =
        "fusion-host: message box: : Live link failed. Reason: \"Failed to connect. Could not get "
        "a scene api. Please check your RayMint installation.\n\"\n";
    size_t first = r.out.find(box);
    ASSERT_NE(first, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(box, first + box.size()), std::string::npos) << "second click: " << r.out;
    // Only what the add-in keeps by design is held after each click.
    EXPECT_NE(r.out.find("audit after render: references: adsk::core::Application 2, "
                         "adsk::core::UserInterface 2; arrays: none"),
              std::string::npos)
        << r.out;
    // The failed link leaves the exporter usable: the export after it writes the whole design.
    EXPECT_TRUE(std::filesystem::file_size(dir / "after.rmq") > 0) << r.out;
}

#ifdef RAYMINT_INSTALL_EXE
// The load options (the host's up axis + 1, metres in the design's unit, the camera to use), the
// user's camera (eye 3, 0, 4 cm looking at the origin: at 30, 0, 40 in millimetres, along
// -0.6, 0, -0.8) and the design.
TEST(RenderFlow, StreamOfAClickIsWhole) {
    ScratchDir dir;
    const std::string prefix = (dir / "prefix").string(), hive = (dir / "hive.reg").string();
    const int base = 52000 + static_cast<int>(getpid() % 800) * 16;
    const auto install = run(std::string(RAYMINT_INSTALL_EXE) + " --prefix " + prefix + " --hive " +
                             hive + " --ports " + std::to_string(base) + "-" +
                             std::to_string(base + 15) + " --idle 30 --keep-streams");
    ASSERT_EQ(install.status, 0) << install.out;
    addintest::writeFile(dir / "camera.json", R"({"document": "Cam v2", "upAxis": "z",
      "camera": {"eye": [3, 0, 4], "target": [0, 0, 0], "up": [0, 0, 1], "viewAngle": 40},
      "products": [{"type": "design", "unit": "mm", "root": "r", "components": [
        {"id": "r", "name": "R"}]}]})");
    const auto r =
        run("VEX_REGISTRY_HKCU=" + hive + " VEX_REGISTRY_HKLM= " FUSION_HOST " --design " +
            (dir / "camera.json").string() + " --render");
    run(prefix + "/bin/raymint --stop");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string stream =
        std::regex_replace(addintest::readFile(dir / "prefix/var/output/streams/transfer-1.rmq"),
                           std::regex("Fusion 360, 0x[0-9a-f]+"), "Fusion 360, PID");
    EXPECT_EQ(stream, addintest::readFile(VEX_SOURCE_DIR "/tests/addin/data/render-stream.rmq"));
}
#endif

}  // namespace
