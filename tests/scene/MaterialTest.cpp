#include <gtest/gtest.h>

#include "scene/Diffuse.hpp"
#include "scene/TriangleObject.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

using test::written;

TEST(Diffuse, WritesACapturedSurfaceShaderThenFlags4096) {
    Diffuse material("default");
    EXPECT_EQ(material.shaderType(), "vex_diffuse");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(material); }),
              "material \"default\" {\n"
              " surface  \"vex_diffuse\" {\n"
              "  \"diffuse\" 0.75 0.5 0.5,\n"
              " } \n"
              " flags 4096\n"
              "}\n");
}

TEST(Diffuse, DefinitionThenReferencesByName) {
    auto material = std::make_shared<Diffuse>("Steel");
    TriangleObject mesh("M");
    mesh.setVertices({0, 0, 0, 1, 0, 0, 0, 1, 0});
    mesh.setTriangles({0, 1, 2});
    mesh.setMaterial(material);
    const std::string text = written([&](vexSceneapi_oo& out) {
        material->define(out);
        out.write(mesh);
    });
    EXPECT_TRUE(material->isDefined());
    EXPECT_EQ(text,
              "\n#define material \"Steel\" {\n"
              " surface  \"vex_diffuse\" {\n"
              "  \"diffuse\" 0.75 0.5 0.5,\n"
              " } \n"
              " flags 4096\n"
              "}\n"
              "object \"M\" {\n"
              " flags 0\n"
              " geometry \"triangles\" {\n"
              "  \"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n"
              "  \"triangles\" [ 0,1,2 ] ,\n"
              " }\n"
              " material \"Steel\"\n"
              "}\n");
}

TEST(Diffuse, EachCaptureIsItsOwnBuffer) {
    // Two materials in one scene: the second must not reuse or extend the first capture.
    Diffuse a("a"), b("b");
    const std::string one = written([&](vexSceneapi_oo& out) { out.write(a); });
    const std::string two = written([&](vexSceneapi_oo& out) {
        out.write(a);
        out.write(b);
    });
    std::string expectedB = one;
    expectedB.replace(expectedB.find("\"a\""), 3, "\"b\"");
    EXPECT_EQ(two, one + expectedB);
}

}  // namespace
}  // namespace vex
