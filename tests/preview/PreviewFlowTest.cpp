// The pictures of whole flows: fusion-host exports the sample, rmq-inspect renders the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestFiles.hpp"
#include "host/HostTestSupport.hpp"
#include "preview/Preview.hpp"

namespace vex::test {
namespace {

// The sample exported in each design unit and rendered as the demo renders it: the same picture
// as docs/sample-assembly.png, which README shows and ./scripts/demo makes (when this fails on
// purpose, run the demo and commit its picture). Pixels may differ by a little in colour.
TEST(PreviewFlow, EveryDesignUnitGivesTheCommittedDemoPicture) {
    TempDir dir;
    const preview::Image committed = preview::readPng(VEX_SOURCE_DIR "/docs/sample-assembly.png");
    for (const std::string unit : {"mm", "m", "in"}) {
        const std::string scene = (dir / (unit + ".rmq")).string(),
                          png = (dir / (unit + ".png")).string();
        const hosttest::Result e =
            hosttest::run(std::string(FUSION_HOST) + " --addin " + RAYMINT_ADDIN +
                              " --design " VEX_SOURCE_DIR "/examples/sample-assembly.json --unit " +
                              unit + " --export '" + scene + "'",
                          "preview-export");
        ASSERT_EQ(e.status, 0) << e.err;
        const hosttest::Result r = hosttest::run(
            std::string(RMQ_INSPECT) + " --png '" + png + "' '" + scene + "'", "preview-png");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("picture: \"" + png +
                             "\" 1024x768: 12 objects, 134 triangles, default view\n"),
                  std::string::npos)
            << r.out;
        const preview::Image now = preview::readPng(png);
        ASSERT_EQ(now.rgb.size(), committed.rgb.size());
        int differing = 0;
        for (size_t i = 0; i < now.rgb.size(); i += 3)
            differing += std::abs(now.rgb[i] - committed.rgb[i]) > 8 ||
                         std::abs(now.rgb[i + 1] - committed.rgb[i + 1]) > 8 ||
                         std::abs(now.rgb[i + 2] - committed.rgb[i + 2]) > 8;
        EXPECT_LE(differing, 1024 * 768 / 1000) << unit;
    }
}

}  // namespace
}  // namespace vex::test
