// The scene graph's nodes, written as the export flow writes them, and mesh validation.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestFiles.hpp"
#include "scene/DefaultRTModule.hpp"
#include "scene/Diffuse.hpp"
#include "scene/LightCamera.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

// Sizes in elements of the mesh's arrays; an array is left empty when its size is 0. Floats
// count 0, 1, 2, 0, 1, ...; ints are all 0.
struct Arrays {
    size_t vertices, triangles, uvs, uvIndices, normals, normalIndices, colors;
};

std::shared_ptr<TriangleObject> meshWith(const std::string& name, const Arrays& a) {
    auto mesh = std::make_shared<TriangleObject>(name);
    const auto floats = [](size_t n) {
        std::vector<float> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i % 3);
        return v;
    };
    mesh->setVertices(floats(a.vertices));
    mesh->setTriangles(std::vector<int32_t>(a.triangles, 0));
    mesh->setUVs(floats(a.uvs));
    mesh->setUVIndices(std::vector<int32_t>(a.uvIndices, 0));
    mesh->setNormals(floats(a.normals));
    mesh->setNormalIndices(std::vector<int32_t>(a.normalIndices, 0));
    mesh->setVertexColors(floats(a.colors));
    return mesh;
}

TEST(SceneGraph, WrittenInTheExportFlowsOrder) {
    const std::string text = test::written([](vexSceneapi_oo& out) {
        DefaultRTModule module;
        out.write(module);
        module.setUpVector(3);
        module.setMeterScale(0.001f);
        module.setKeepOriginal(true);
        module.setCenterGeometry(false);
        module.setSnapToGround(true);
        module.setAdjustCamera(false);
        module.setAdjustEnvironment(false);
        module.setUseCamera("Active Camera");
        out.write(module);
        module.setUseCamera("");
        out.write(module);
        auto camera = std::make_shared<LightCamera>("Active Camera");
        out.write(*camera);
        // Doubles in single precision: 1e-50 underflows, 1e-40 is the nearest subnormal.
        camera->setPosition(1e-50, 12.5, -3);
        camera->setDirection(1e-40, 0, -1);
        camera->setUp(0, 0, 1);
        camera->setFov(39.5978);

        VexGroup root("Design");
        root.setFlags(0x8001);
        root.setTransform({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 10, -2, 2.5, 1});
        root.addNode(nullptr);
        root.addChildGroup(nullptr);
        auto a = root.addGroup("A");
        a->setFlags(0x400);
        a->setFlags(0);  // replaces the flags; none are written
        a->setTransform(VexGroup::kIdentity);
        a->addNode(camera);  // the environment keeps its indentation when nested
        auto b = std::make_shared<VexGroup>("B");
        root.addChildGroup(b);
        a->addGroup("A1")->setFlags(0x10000);  // filled after being added
        // Meshes come before the child groups, added before or after them.
        auto all = meshWith("Part \\ 1", {9, 3, 4, 3, 3, 3, 9});  // arrays in a fixed order
        root.addNode(all);
        root.addNode(meshWith("Inconsistent", {24, 3, 12, 0, 0, 0, 0}));
        b->addNode(meshWith("No triangles", {9, 0, 0, 0, 9, 0, 0}));
        const float seven[] = {1, 2, 3, 4, 5, 6, 7};  // whole triples only
        const int32_t triangle[] = {0, 1, 0};
        auto copied = std::make_shared<TriangleObject>("Copied");
        copied->setVertices(seven, 7);
        copied->setTriangles(triangle, 3);
        copied->setNormals(nullptr, 7);  // a null array is an empty one
        copied->setMaterial(nullptr);
        b->addNode(copied);
        auto paint = std::make_shared<Diffuse>("paint");
        auto steel = std::make_shared<Diffuse>("Steel");
        for (const char* name : {"Painted 1", "Painted 2", "Steel"}) {
            auto mesh = meshWith(name, {9, 3, 0, 0, 0, 0, 0});
            mesh->setMaterial(name[0] == 'S' ? steel : paint);
            b->addNode(mesh);
        }
        // Definitions are numbered by the wrapper and hand their arrays back.
        auto defined = meshWith("Defined", {9, 3, 0, 0, 9, 0, 0});
        auto second = meshWith("Second", {9, 3, 0, 0, 0, 0, 0});
        EXPECT_EQ(defined->byteSize(), 4u * 21);
        steel->define(out);
        defined->define(out);
        second->define(out);
        EXPECT_EQ(defined->byteSize(), 0u);
        b->addNode(defined);
        out.write(root);
    });
    EXPECT_EQ(text, test::readFile(std::string(VEX_SOURCE_DIR) + "/tests/scene/data/export.rmq"));
}

TEST(SceneGraph, MeshValidationMessagesRunTogetherInOrder) {
    struct Case {
        Arrays arrays;
        bool writable;
        const char* message;
    };
    const Case cases[] = {
        {{9, 3, 0, 0, 9, 6, 0}, true, "Normals count does not match number of triangles 6 vs 3"},
        {{9, 3, 0, 0, 6, 0, 0}, true, "Number of normals does not equal number of vertices"},
        {{9, 3, 0, 0, 0, 3, 0}, true, "No normals defined for index"},
        {{9, 3, 6, 6, 0, 0, 0}, true, "UV index count does not match triangle count"},
        {{24, 3, 12, 0, 0, 0, 0}, true, "Number of uvs(12)  does not match vertex count(24)"},
        {{24, 3, 16, 0, 0, 0, 0}, true, ""},
        {{9, 3, 0, 3, 0, 0, 0}, true, "No uvs defined for index"},
        {{9, 3, 0, 0, 0, 0, 6}, true, "VetexColor count does not match number of vertices"},
        {{0, 0, 0, 0, 0, 0, 0}, false, "No triangles defined"},
        {{9, 0, 4, 0, 6, 0, 3},
         false,
         "Number of normals does not equal number of verticesNumber of uvs(4)  does not match "
         "vertex count(9)VetexColor count does not match number of verticesNo triangles defined"},
        {{9, 3, 0, 3, 0, 6, 0}, true, "No normals defined for indexNo uvs defined for index"},
    };
    for (const Case& c : cases) {
        const auto mesh = meshWith("M", c.arrays);
        EXPECT_EQ(mesh->validate(), c.writable) << c.message;
        EXPECT_EQ(mesh->validationMessage(), c.message);
    }
}

}  // namespace
}  // namespace vex
