#include <gtest/gtest.h>

#include "scene/DefaultRTModule.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

using test::written;

TEST(DefaultRTModule, DefaultsWriteElevenOptions) {
    DefaultRTModule module;
    EXPECT_EQ(module.name(), "vexrtopt.so");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(module); }),
              "load \"vexrtopt.so\" {\n"
              " \"import_mode\" on,\n"
              " \"import_merge_groups\" on,\n"
              " \"import_merge_objects\" on,\n"
              " \"import_up_vector\" 0,\n"
              " \"meter_scale\" 1,\n"
              " \"import_keep_original\" off,\n"
              " \"import_center_geometry\" on,\n"
              " \"import_snap_to_ground\" off,\n"
              " \"import_adjust_camera\" on,\n"
              " \"import_adjust_environment\" on,\n"
              " \"ext\" on,\n"
              "}\n");
}

TEST(DefaultRTModule, SettersAndTheUsedCameraBeforeExt) {
    DefaultRTModule module;
    module.setUpVector(3);
    module.setMeterScale(100);
    module.setKeepOriginal(true);
    module.setCenterGeometry(false);
    module.setSnapToGround(true);
    module.setAdjustCamera(false);
    module.setAdjustEnvironment(false);
    module.setUseCamera("Active Camera");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(module); }),
              "load \"vexrtopt.so\" {\n"
              " \"import_mode\" on,\n"
              " \"import_merge_groups\" on,\n"
              " \"import_merge_objects\" on,\n"
              " \"import_up_vector\" 3,\n"
              " \"meter_scale\" 100,\n"
              " \"import_keep_original\" on,\n"
              " \"import_center_geometry\" off,\n"
              " \"import_snap_to_ground\" on,\n"
              " \"import_adjust_camera\" off,\n"
              " \"import_adjust_environment\" off,\n"
              " \"import_use_camera\" \"Active Camera\",\n"
              " \"ext\" on,\n"
              "}\n");
}

TEST(DefaultRTModule, ClearingTheUsedCameraLeavesItOut) {
    DefaultRTModule module;
    module.setUseCamera("Active Camera");
    module.setUseCamera("");
    const std::string text = written([&](vexSceneapi_oo& out) { out.write(module); });
    EXPECT_EQ(text.find("import_use_camera"), std::string::npos);
    EXPECT_NE(text.find(" \"import_adjust_environment\" on,\n \"ext\" on,\n}\n"),
              std::string::npos);
}

TEST(DefaultRTModule, IsNeverADefinition) {
    DefaultRTModule module;
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { module.define(out); }), "");
    EXPECT_FALSE(module.isDefined());
}

}  // namespace
}  // namespace vex
