#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/Diffuse.hpp"
#include "scene/TriangleObject.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

using test::defaultMaterialAt;
using test::written;

std::vector<float> floats(size_t n) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i % 3);
    return v;
}

std::vector<int32_t> ints(size_t n) {
    return std::vector<int32_t>(n, 0);
}

// Sizes in elements; every array is left empty when its size is 0.
struct Arrays {
    size_t vertices, triangles, uvs, uvIndices, normals, normalIndices, colors;
};

TriangleObject meshWith(const Arrays& a) {
    TriangleObject mesh("M");
    const auto v = floats(a.vertices), uv = floats(a.uvs), n = floats(a.normals),
               c = floats(a.colors);
    const auto t = ints(a.triangles), ui = ints(a.uvIndices), ni = ints(a.normalIndices);
    mesh.setVertices(v.data(), v.size());
    mesh.setTriangles(t.data(), t.size());
    mesh.setUVs(uv.data(), uv.size());
    mesh.setUVIndices(ui.data(), ui.size());
    mesh.setNormals(n.data(), n.size());
    mesh.setNormalIndices(ni.data(), ni.size());
    mesh.setVertexColors(c.data(), c.size());
    return mesh;
}

struct ValidationCase {
    const char* what;
    Arrays arrays;
    bool writable;
    const char* message;
};

class Validation : public testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, ReportsEachInconsistency) {
    const ValidationCase& c = GetParam();
    TriangleObject mesh = meshWith(c.arrays);
    EXPECT_EQ(mesh.validate(), c.writable);
    EXPECT_EQ(mesh.validationMessage(), c.message);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Messages, Validation, testing::Values(
    ValidationCase{"consistent", {9, 3, 6, 0, 9, 0, 9}, true, ""},
    ValidationCase{"indexedConsistent", {9, 3, 2, 3, 3, 3, 0}, true, ""},
    ValidationCase{"normalIndexCount", {9, 3, 0, 0, 9, 6, 0}, true,
                   "Normals count does not match number of triangles 6 vs 3"},
    ValidationCase{"normalCount", {9, 3, 0, 0, 6, 0, 0}, true,
                   "Number of normals does not equal number of vertices"},
    ValidationCase{"normalIndicesWithoutNormals", {9, 3, 0, 0, 0, 3, 0}, true,
                   "No normals defined for index"},
    ValidationCase{"uvIndexCount", {9, 3, 6, 6, 0, 0, 0}, true,
                   "UV index count does not match triangle count"},
    ValidationCase{"uvCount", {24, 3, 12, 0, 0, 0, 0}, true,
                   "Number of uvs(12)  does not match vertex count(24)"},
    ValidationCase{"uvCountExact", {24, 3, 16, 0, 0, 0, 0}, true, ""},
    ValidationCase{"uvIndicesWithoutUvs", {9, 3, 0, 3, 0, 0, 0}, true,
                   "No uvs defined for index"},
    ValidationCase{"colorCount", {9, 3, 0, 0, 0, 0, 6}, true,
                   "VetexColor count does not match number of vertices"},
    ValidationCase{"noTriangles", {9, 0, 0, 0, 9, 0, 0}, false, "No triangles defined"},
    ValidationCase{"empty", {0, 0, 0, 0, 0, 0, 0}, false, "No triangles defined"},
    ValidationCase{"runTogetherInOrder", {9, 0, 4, 0, 6, 0, 3}, false,
                   "Number of normals does not equal number of vertices"
                   "Number of uvs(4)  does not match vertex count(9)"
                   "VetexColor count does not match number of vertices"
                   "No triangles defined"},
    ValidationCase{"indexFaultsRunTogether", {9, 3, 0, 3, 0, 6, 0}, true,
                   "No normals defined for index" "No uvs defined for index"}),
    [](const testing::TestParamInfo<ValidationCase>& info) { return info.param.what; });
// clang-format on

TEST(TriangleObjectValidation, EachRunReplacesTheMessage) {
    TriangleObject mesh = meshWith({9, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(mesh.validate());
    const int32_t triangles[] = {0, 1, 2};
    mesh.setTriangles(triangles, 3);
    EXPECT_TRUE(mesh.validate());
    EXPECT_EQ(mesh.validationMessage(), "");
}

TEST(TriangleObjectValidation, DefinedMeshSkipsTheChecksAndKeepsTheMessage) {
    TriangleObject mesh = meshWith({9, 3, 0, 0, 6, 0, 0});
    EXPECT_TRUE(mesh.validate());
    written([&](vexSceneapi_oo& out) { mesh.define(out); });
    EXPECT_TRUE(mesh.validate());
    EXPECT_EQ(mesh.validationMessage(), "Number of normals does not equal number of vertices");
}

TEST(TriangleObjectWriting, NoTrianglesWritesOnlyTheErrorStatement) {
    TriangleObject mesh = meshWith({9, 0, 0, 0, 9, 0, 0});
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(mesh); }),
              "#error \"No triangles defined\"\n");
}

TEST(TriangleObjectWriting, InconsistentMeshIsWrittenAndFollowedByItsError) {
    TriangleObject mesh = meshWith({24, 3, 12, 0, 0, 0, 0});
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(mesh); }),
              "object \"M\" {\n"
              " flags 0\n"
              " geometry \"triangles\" {\n"
              "  \"vertices\" [ 0 1 2,0 1 2,0 1 2,0 1 2,0 1 2,0 1 2,0 1 2,0 1 2 ] ,\n"
              "  \"triangles\" [ 0,0,0 ] ,\n"
              "  \"uv_tex\" [ 0,1,2,0,1,2,0,1,2,\n"
              "  0,1,2 ] ,\n"
              " }\n" +
                  defaultMaterialAt(1) +
                  "}\n"
                  "#error \"Number of uvs(12)  does not match vertex count(24)\"\n");
}

TEST(TriangleObjectWriting, AllArraysInTheirFixedOrderIndexBeforeIndexed) {
    TriangleObject mesh("Part \\ 1");
    mesh.setVertices({0, 0, 0, 1, 0, 0, 0, 1, 0});
    mesh.setTriangles({0, 1, 2});
    mesh.setUVs({0, 0, 1, 0});
    mesh.setUVIndices({0, 1, 1});
    mesh.setNormals({0, 0, 1});
    mesh.setNormalIndices({0, 0, 0});
    mesh.setVertexColors({1, 0, 0, 0, 1, 0, 0, 0, 0.25f});
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(mesh); }),
              "object \"Part \\ 1\" {\n"
              " flags 0\n"
              " geometry \"triangles\" {\n"
              "  \"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n"
              "  \"triangles\" [ 0,1,2 ] ,\n"
              "  \"triangles_uv\" [ 0,1,1 ] ,\n"
              "  \"uv_tex\" [ 0,0,1,0 ] ,\n"
              "  \"triangles_norm\" [ 0,0,0 ] ,\n"
              "  \"normals\" [ 0 0 1 ] ,\n"
              "  \"vcolors\" [ 1 0 0,0 1 0,0 0 0.25 ] ,\n"
              " }\n" +
                  defaultMaterialAt(1) + "}\n");
}

TEST(TriangleObjectWriting, VertexTriplesAreRoundedDown) {
    TriangleObject mesh("M");
    mesh.setVertices({1, 2, 3, 4, 5, 6, 7});
    mesh.setTriangles({0, 1, 0});
    const std::string text = written([&](vexSceneapi_oo& out) { mesh.writeGeometry(out); });
    EXPECT_EQ(text,
              "geometry \"triangles\" {\n"
              " \"vertices\" [ 1 2 3,4 5 6 ] ,\n"
              " \"triangles\" [ 0,1,0 ] ,\n"
              "}\n");
}

TEST(TriangleObjectWriting, DefinedMeshIsWrittenAsAnInstanceWithItsMaterial) {
    TriangleObject mesh("M");
    mesh.setVertices({0, 0, 0, 1, 0, 0, 0, 1, 0});
    mesh.setTriangles({0, 1, 2});
    mesh.setNormals({0, 0, 1, 0, 0, 1, 0, 0, 1});
    EXPECT_EQ(mesh.byteSize(), 4u * 21);
    const std::string text = written([&](vexSceneapi_oo& out) {
        mesh.define(out);
        out.write(mesh);
    });
    EXPECT_EQ(text,
              "#define object \"M\" {\n"
              " id 1\n"
              " flags 0\n"
              " geometry \"triangles\" {\n"
              "  \"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n"
              "  \"triangles\" [ 0,1,2 ] ,\n"
              "  \"normals\" [ 0 0 1,0 0 1,0 0 1 ] ,\n"
              " }\n"
              "}\n"
              "object \"M\" {\n"
              " flags 0\n"
              " geometry \"instance\" {\n"
              "  \"id\" 1,\n"
              " }\n" +
                  defaultMaterialAt(1) + "}\n");
    EXPECT_TRUE(mesh.isDefined());
    EXPECT_EQ(mesh.definitionId(), 1);
    EXPECT_EQ(mesh.byteSize(), 0u);  // the arrays were released with the definition
}

TEST(TriangleObjectWriting, DefinitionsAreNumberedByTheWrapper) {
    TriangleObject first = meshWith({9, 3, 0, 0, 0, 0, 0});
    TriangleObject second = meshWith({9, 3, 0, 0, 0, 0, 0});
    written([&](vexSceneapi_oo& out) {
        first.define(out);
        second.define(out);
    });
    EXPECT_EQ(first.definitionId(), 1);
    EXPECT_EQ(second.definitionId(), 2);
}

TEST(TriangleObjectWriting, SharedMaterialIsWrittenInsideEachObject) {
    auto material = std::make_shared<Diffuse>("paint");
    TriangleObject a = meshWith({9, 3, 0, 0, 0, 0, 0});
    TriangleObject b = meshWith({9, 3, 0, 0, 0, 0, 0});
    a.setMaterial(material);
    b.setMaterial(material);
    const std::string text = written([&](vexSceneapi_oo& out) {
        out.write(a);
        out.write(b);
    });
    size_t blocks = 0;
    for (size_t at = text.find("material \"paint\" {"); at != std::string::npos;
         at = text.find("material \"paint\" {", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, 2u);
    EXPECT_EQ(text.find("default"), std::string::npos);
}

TEST(TriangleObjectWriting, NullMaterialWritesTheObjectWithoutMaterialBlock) {
    TriangleObject mesh = meshWith({9, 3, 0, 0, 0, 0, 0});
    mesh.setMaterial(nullptr);
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(mesh); }),
              "object \"M\" {\n"
              " flags 0\n"
              " geometry \"triangles\" {\n"
              "  \"vertices\" [ 0 1 2,0 1 2,0 1 2 ] ,\n"
              "  \"triangles\" [ 0,0,0 ] ,\n"
              " }\n"
              "}\n");
}

TEST(TriangleObject, ConstructionAndSetters) {
    TriangleObject mesh("");
    EXPECT_EQ(mesh.getName(), "");
    mesh.setName("Body1");
    EXPECT_EQ(mesh.getName(), "Body1");
    auto material = mesh.getMaterial();
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->name(), "default");
    EXPECT_NE(dynamic_cast<Diffuse*>(material.get()), nullptr);
    EXPECT_NE(TriangleObject("other").getMaterial(), material);  // one default per mesh
    EXPECT_EQ(mesh.byteSize(), 0u);
    EXPECT_EQ(mesh.flags(), 0u);
    EXPECT_FALSE(mesh.isDefined());
    EXPECT_EQ(mesh.definitionId(), 0);

    TriangleObject all = meshWith({3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(all.byteSize(), 4u * (3 + 4 + 5 + 6 + 7 + 8 + 9));
    // A setter replaces the whole array; a null array (as the host may return) is empty.
    const float two[] = {1, 2};
    all.setVertices(two, 2);
    all.setNormals(nullptr, 7);
    EXPECT_EQ(all.byteSize(), 4u * (2 + 4 + 5 + 6 + 0 + 8 + 9));
}

}  // namespace
}  // namespace vex
