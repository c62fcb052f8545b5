#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "scene/DefaultRTModule.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

TEST(FileTarget, ExportOrderModuleThenDesignInOneFile) {
    char path[] = "/tmp/scene_tests_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        LightFileFactory target(path);
        vexSceneapi_oo out(target);
        out.api()->set_mode(1);
        DefaultRTModule module;
        module.setMeterScale(0.001f);
        out.write(module);
        VexGroup root("Design");
        auto body = root.addGroup("Body1");
        body->setFlags(0x400);
        auto mesh = std::make_shared<TriangleObject>("Body1");
        mesh->setVertices({0, 0, 0, 1, 0, 0, 0, 1, 0});
        body->addNode(mesh);  // no triangles: only the error statement, inside its group
        out.write(root);
        target.close();
    }
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::remove(path);
    EXPECT_EQ(text.str(),
              "//---corvan:dal:7---\n"
              "//---import:dal:1---\n"
              "//---id:1---\n"
              "// This is a RayMint scene file\n\n" +
                  test::kPreamble +
                  "load \"vexrtopt.so\" {\n"
                  " \"import_mode\" on,\n"
                  " \"import_merge_groups\" on,\n"
                  " \"import_merge_objects\" on,\n"
                  " \"import_up_vector\" 0,\n"
                  " \"meter_scale\" 0.001,\n"
                  " \"import_keep_original\" off,\n"
                  " \"import_center_geometry\" on,\n"
                  " \"import_snap_to_ground\" off,\n"
                  " \"import_adjust_camera\" on,\n"
                  " \"import_adjust_environment\" on,\n"
                  " \"ext\" on,\n"
                  "}\n"
                  "\ngroup \"Design\" {\n"
                  "\n group \"Body1\" {\n"
                  "  flags 1024\n"
                  "  #error \"  No triangles defined\"\n"
                  " }\n"
                  "}\n");
}

}  // namespace
}  // namespace vex
