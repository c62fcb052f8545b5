#include <gtest/gtest.h>

#include "scene/LightCamera.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

using test::written;

TEST(LightCamera, DefaultsWithTheEnvironmentAtTopLevel) {
    LightCamera camera("Active Camera");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(camera); }),
              "\ncamera \"Active Camera\" {\n"
              " projection \"perspective\"\n"
              " fov 60\n"
              " reflection map   \"vex_envmap\" {\n"
              "   \"texture\" \"startup.hdr\",\n"
              "   \"format\" 3,\n"
              "   \"radius\" 25,\n"
              "  }\n"
              " position 0 0 0\n"
              " direction 0 0 -1\n"
              " up 0 1 0\n"
              "}\n");
}

TEST(LightCamera, SetValuesPassThroughSinglePrecision) {
    LightCamera camera("Active Camera");
    const double tiny = 1e-50;  // below single precision: it arrives as 0
    camera.setPosition(static_cast<float>(tiny), 12.5f, -3);
    camera.setDirection(0.1f, 0, -1);
    camera.setUp(0, 0, 1);
    camera.setFov(39.5978f);
    const std::string text = written([&](vexSceneapi_oo& out) { out.write(camera); });
    EXPECT_NE(text.find(" fov 39.5978\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" position 0 12.5 -3\n"), std::string::npos) << text;
    // 0.1 in single precision, seen through %g, is still 0.1.
    EXPECT_NE(text.find(" direction 0.1 0 -1\n up 0 0 1\n}\n"), std::string::npos) << text;
}

TEST(LightCamera, EnvironmentIsIndentedTheSameWhenNested) {
    LightCamera camera("Cam");
    const std::string text = written([&](vexSceneapi_oo& out) {
        out.begin_group("Root");
        out.write(camera);
        out.end_group();
    });
    EXPECT_EQ(text,
              "\ngroup \"Root\" {\n"
              " \n camera \"Cam\" {\n"
              "  projection \"perspective\"\n"
              "  fov 60\n"
              "  reflection map   \"vex_envmap\" {\n"
              "   \"texture\" \"startup.hdr\",\n"
              "   \"format\" 3,\n"
              "   \"radius\" 25,\n"
              "  }\n"
              "  position 0 0 0\n"
              "  direction 0 0 -1\n"
              "  up 0 1 0\n"
              " }\n"
              "}\n");
}

TEST(LightCamera, IsNeverADefinition) {
    LightCamera camera("Cam");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { camera.define(out); }), "");
    EXPECT_FALSE(camera.isDefined());
}

}  // namespace
}  // namespace vex
