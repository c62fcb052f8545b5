// The pictures of whole flows: fusion-host exports the sample, rmq-inspect renders the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestFiles.hpp"
#include "host/HostTestSupport.hpp"
#include "preview/Preview.hpp"

namespace vex::test {
namespace {

const std::string kSource = VEX_SOURCE_DIR;

// The sample exported in the design unit `unit` and rendered as the demo renders it.
preview::Image samplePicture(const TempDir& dir, const std::string& unit) {
    const std::string scene = (dir / (unit + ".rmq")).string();
    const std::string png = (dir / (unit + ".png")).string();
    const hosttest::Result e = hosttest::run(
        std::string(FUSION_HOST) + " --addin " + RAYMINT_ADDIN + " --design " + kSource +
            "/examples/sample-assembly.json --unit " + unit + " --export '" + scene + "'",
        "preview-export");
    EXPECT_EQ(e.status, 0) << e.err;
    const hosttest::Result r = hosttest::run(
        std::string(RMQ_INSPECT) + " --png '" + png + "' '" + scene + "'", "preview-png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.out.find("picture: \"" + png + "\" 1024x768: 12 objects, 134 triangles, default view\n"),
        std::string::npos)
        << r.out;
    return preview::readPng(png);
}

// Pixels whose colour differs by more than a little in some channel.
int differing(const preview::Image& a, const preview::Image& b) {
    int n = 0;
    for (size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3)
        for (int k = 0; k < 3; ++k)
            if (std::abs(a.rgb[i + k] - b.rgb[i + k]) > 8) {
                ++n;
                break;
            }
    return n;
}

// README shows docs/sample-assembly.png, made by ./scripts/demo. When this fails on purpose,
// run the demo and commit its picture.
TEST(PreviewFlow, DemoPictureStillMatchesTheCommittedOne) {
    TempDir dir;
    const preview::Image now = samplePicture(dir, "mm");
    const preview::Image committed = preview::readPng(kSource + "/docs/sample-assembly.png");
    ASSERT_EQ(now.width, committed.width);
    ASSERT_EQ(now.height, committed.height);
    EXPECT_LE(differing(now, committed), now.width * now.height / 1000);
}

// A design in millimetres and the same in metres or inches: other numbers in the file, the
// same picture.
TEST(PreviewFlow, DesignUnitsGiveTheSamePicture) {
    TempDir dir;
    const preview::Image mm = samplePicture(dir, "mm");
    for (const char* unit : {"m", "in"}) {
        const preview::Image other = samplePicture(dir, unit);
        ASSERT_EQ(other.rgb.size(), mm.rgb.size());
        EXPECT_LE(differing(mm, other), mm.width * mm.height / 1000) << unit;
    }
}

}  // namespace
}  // namespace vex::test
