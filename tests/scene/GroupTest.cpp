#include <gtest/gtest.h>

#include <memory>

#include "scene/Diffuse.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace vex {
namespace {

using test::written;

std::shared_ptr<TriangleObject> triangle(const std::string& name) {
    auto mesh = std::make_shared<TriangleObject>(name);
    const float vertices[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const int32_t triangles[] = {0, 1, 2};
    mesh->setVertices(vertices, 9);
    mesh->setTriangles(triangles, 3);
    return mesh;
}

TEST(VexGroup, EmptyGroupWritesOnlyOpeningAndClosing) {
    VexGroup group("Root");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(group); }), "\ngroup \"Root\" {\n}\n");
}

TEST(VexGroup, FlagsZeroWritesNoFlagsButAnIdentityTransformIsWritten) {
    VexGroup group("Body");
    group.setFlags(0x400);
    group.setFlags(0);  // replaces, does not combine
    group.setTransform(VexGroup::kIdentity);
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(group); }),
              "\ngroup \"Body\" {\n"
              " transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n"
              "}\n");
}

TEST(VexGroup, FlagsThenTransformInStorageOrder) {
    VexGroup group("Occurrence");
    group.setFlags(0x8001);
    group.setTransform({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 10, -2, 2.5, 1});
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(group); }),
              "\ngroup \"Occurrence\" {\n"
              " flags 32769\n"
              " transform 0 1 0 0 -1 0 0 0 0 0 1 0 10 -2 2.5 1\n"
              "}\n");
}

TEST(VexGroup, MeshesComeBeforeChildGroupsWhateverTheOrderOfAdding) {
    VexGroup root("Root");
    root.addGroup("A");
    root.addGroup("B");
    root.addNode(triangle("M"));
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(root); }),
              "\ngroup \"Root\" {\n"
              " object \"M\" {\n"
              "  flags 0\n"
              "  geometry \"triangles\" {\n"
              "   \"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n"
              "   \"triangles\" [ 0,1,2 ] ,\n"
              "  }\n"
              "  material \"default\" {\n"
              "   surface    \"vex_diffuse\" {\n"
              "    \"diffuse\" 0.75 0.5 0.5,\n"
              "   }   \n"
              "   flags 4096\n"
              "  }\n"
              " }\n"
              "\n group \"A\" {\n }\n"
              "\n group \"B\" {\n }\n"
              "}\n");
}

TEST(VexGroup, TreeIsWrittenDepthFirstInInsertionOrder) {
    VexGroup root("Root");
    auto a = root.addGroup("A");
    auto b = std::make_shared<VexGroup>("B");
    root.addChildGroup(b);
    // Filled after being added: the caller keeps the returned group to complete it.
    a->addGroup("A1")->setFlags(0x10000);
    a->setFlags(1);
    b->setFlags(2);
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(root); }),
              "\ngroup \"Root\" {\n"
              "\n group \"A\" {\n"
              "  flags 1\n"
              "\n  group \"A1\" {\n"
              "   flags 65536\n"
              "  }\n"
              " }\n"
              "\n group \"B\" {\n"
              "  flags 2\n"
              " }\n"
              "}\n");
}

TEST(VexGroup, NullChildrenAreIgnored) {
    VexGroup group("G");
    group.addNode(nullptr);
    group.addChildGroup(nullptr);
    EXPECT_TRUE(group.nodes().empty());
    EXPECT_TRUE(group.groups().empty());
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { out.write(group); }), "\ngroup \"G\" {\n}\n");
}

TEST(VexGroup, IsNeverADefinition) {
    VexGroup group("G");
    EXPECT_EQ(written([&](vexSceneapi_oo& out) { group.define(out); }), "");
    EXPECT_FALSE(group.isDefined());
}

TEST(VexGroup, TreeIsFreedWithItsRootAndSharedLeavesLiveOn) {
    std::weak_ptr<VexGroup> child;
    std::weak_ptr<TriangleObject> mesh;
    auto material = std::make_shared<Diffuse>("shared");
    {
        auto root = std::make_shared<VexGroup>("Root");
        auto body = root->addGroup("Body");
        auto m = triangle("M");
        m->setMaterial(material);
        body->addNode(m);
        child = body;
        mesh = m;
    }
    EXPECT_TRUE(child.expired());
    EXPECT_TRUE(mesh.expired());
    EXPECT_EQ(material.use_count(), 1);
}

}  // namespace
}  // namespace vex
