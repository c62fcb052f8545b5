// The render button through fusion-host and the real add-in when the live link cannot be
// made: the user sees the exact message, nothing is left held, and later clicks still work.
#include <gtest/gtest.h>

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

}  // namespace
