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

// Doubles given to the setters arrive in single precision: 1e-50 underflows to 0 and 1e-40
// becomes the nearest subnormal float.
TEST(LightCamera, SetValuesPassThroughSinglePrecision) {
    LightCamera camera("Active Camera");
    camera.setPosition(1e-50, 12.5, -3);
    camera.setDirection(1e-40, 0, -1);
    camera.setUp(0, 0, 1);
    camera.setFov(39.5978);
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(camera); }),
              "\ncamera \"Active Camera\" {\n"
              " projection \"perspective\"\n"
              " fov 39.5978\n"
              " reflection map   \"vex_envmap\" {\n"
              "   \"texture\" \"startup.hdr\",\n"
              "   \"format\" 3,\n"
              "   \"radius\" 25,\n"
              "  }\n"
              " position 0 12.5 -3\n"
              " direction 9.99995e-41 0 -1\n"
              " up 0 0 1\n"
              "}\n");
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
