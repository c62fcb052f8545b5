#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scene/Diffuse.hpp"
#include "scene/LightCamera.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "tests/scene/MockSceneApi.hpp"

namespace vex {
namespace {

using testing::_;
using testing::InSequence;
using testing::IsNull;
using testing::Return;
using testing::StrEq;

MATCHER_P2(IsArray, data, count, "") {
    const auto* array = static_cast<const SceneArray*>(arg);
    return array->data == data && array->count == count;
}
MATCHER_P(ArrayCount, count, "") {
    return static_cast<const SceneArray*>(arg)->count == count;
}
MATCHER_P(PointsToInt, value, "") {
    return *static_cast<const int32_t*>(arg) == value;
}
MATCHER_P(PointsToFloat, value, "") {
    return *static_cast<const float*>(arg) == value;
}
MATCHER_P(IsText, text, "") {
    return std::string(static_cast<const char*>(arg)) == text;
}
MATCHER_P3(PointsToFloats, x, y, z, "") {
    const auto* v = static_cast<const float*>(arg);
    return v[0] == x && v[1] == y && v[2] == z;
}
MATCHER_P3(PointsToDoubles, x, y, z, "") {
    const auto* v = static_cast<const double*>(arg);
    return v[0] == x && v[1] == y && v[2] == z;
}
MATCHER_P(PointsToBuffer, buffer, "") {
    return *static_cast<CaptureBuffer* const*>(arg) == buffer;
}

class CallSequence : public testing::Test {
  protected:
    void SetUp() override {
        EXPECT_CALL(api, print(_));
        EXPECT_CALL(api, version(9));
        out = std::make_unique<vexSceneapi_oo>(target);
    }

    void expectDefaultMaterial(CaptureBuffer* capture) {
        EXPECT_CALL(api, begin_material(StrEq("default"), true));
        EXPECT_CALL(api, begin_shader(IsNull(), StrEq("vex_diffuse")));
        EXPECT_CALL(api, set_value(StrEq("diffuse"), kFloat3, PointsToFloats(0.75f, 0.5f, 0.5f)));
        EXPECT_CALL(api, captured_text()).WillOnce(Return(capture));
        EXPECT_CALL(api, end_shader());
        EXPECT_CALL(api, shader_text(0u, capture));
        EXPECT_CALL(api, flags(4096u));
        EXPECT_CALL(api, end_material());
    }

    testing::StrictMock<test::MockSceneApi> api;
    test::MockTarget target{api};
    std::unique_ptr<vexSceneapi_oo> out;
};

TEST_F(CallSequence, MeshDefinitionHandsOverItsOwnArraysThenInstanceWithMaterial) {
    TriangleObject mesh("Body1");
    std::vector<float> vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    std::vector<int32_t> triangles = {0, 1, 2, 2, 1, 3};
    const float* vertexData = vertices.data();
    const int32_t* triangleData = triangles.data();
    mesh.setVertices(std::move(vertices));
    mesh.setTriangles(std::move(triangles));
    CaptureBuffer capture;
    {
        InSequence order;
        EXPECT_CALL(api, begin_object(StrEq("Body1"), false));
        EXPECT_CALL(api, id(1u));
        EXPECT_CALL(api, flags(0u));
        EXPECT_CALL(api, begin_geometry(StrEq("triangles")));
        // The very storage that was moved in reaches the interface: no copy on the way.
        EXPECT_CALL(api, set_value(StrEq("vertices"), kFloat3Array, IsArray(vertexData, 4u)));
        EXPECT_CALL(api, set_value(StrEq("triangles"), kIntArray, IsArray(triangleData, 6u)));
        EXPECT_CALL(api, end_geometry());
        EXPECT_CALL(api, end_object());

        EXPECT_CALL(api, begin_object(StrEq("Body1"), true));
        EXPECT_CALL(api, flags(0u));
        EXPECT_CALL(api, begin_geometry(StrEq("instance")));
        EXPECT_CALL(api, set_value(StrEq("id"), kInt, PointsToInt(1)));
        EXPECT_CALL(api, end_geometry());
        expectDefaultMaterial(&capture);
        EXPECT_CALL(api, end_object());
    }
    mesh.define(*out);
    out->write(mesh);
}

TEST_F(CallSequence, EmptyOptionalArraysAreLeftOutAndEmptyVerticesPassCountZero) {
    TriangleObject mesh("M");
    mesh.setTriangles({0, 1, 2});
    mesh.setUVs({0, 0, 1, 0, 0, 1});
    CaptureBuffer capture;
    {
        InSequence order;
        EXPECT_CALL(api, begin_object(StrEq("M"), true));
        EXPECT_CALL(api, flags(0u));
        EXPECT_CALL(api, begin_geometry(StrEq("triangles")));
        EXPECT_CALL(api, set_value(StrEq("vertices"), kFloat3Array, ArrayCount(0u)));
        EXPECT_CALL(api, set_value(StrEq("triangles"), kIntArray, ArrayCount(3u)));
        EXPECT_CALL(api, set_value(StrEq("uv_tex"), kFloatArray, ArrayCount(6u)));
        EXPECT_CALL(api, end_geometry());
        expectDefaultMaterial(&capture);
        EXPECT_CALL(api, end_object());
        EXPECT_CALL(api, error(StrEq("Number of uvs(6)  does not match vertex count(0)")));
    }
    out->write(mesh);
}

TEST_F(CallSequence, MeshWithoutTrianglesOnlyReportsTheError) {
    TriangleObject mesh("M");
    mesh.setVertices({0, 0, 0, 1, 0, 0, 0, 1, 0});
    mesh.setNormals({0, 0, 1, 0, 0, 1, 0, 0, 1});
    EXPECT_CALL(api, error(StrEq("No triangles defined")));
    out->write(mesh);
}

TEST_F(CallSequence, CameraCarriesItsCapturedEnvironment) {
    LightCamera camera("Active Camera");
    camera.setPosition(1, 2, 3);
    CaptureBuffer environment;
    {
        InSequence order;
        EXPECT_CALL(api, begin_camera(StrEq("Active Camera")));
        EXPECT_CALL(api, set_value(StrEq("projection"), kString, IsText("perspective")));
        EXPECT_CALL(api, set_value(StrEq("fov"), kFloat, PointsToFloat(60.0f)));
        EXPECT_CALL(api, begin_shader(IsNull(), StrEq("vex_envmap")));
        EXPECT_CALL(api, set_value(StrEq("texture"), kString, IsText("startup.hdr")));
        EXPECT_CALL(api, set_value(StrEq("format"), kInt, PointsToInt(3)));
        EXPECT_CALL(api, set_value(StrEq("radius"), kFloat, PointsToFloat(25.0f)));
        EXPECT_CALL(api, captured_text()).WillOnce(Return(&environment));
        EXPECT_CALL(api, end_shader());
        EXPECT_CALL(
            api, set_value(StrEq("reflection map"), kCapturedText, PointsToBuffer(&environment)));
        EXPECT_CALL(api, set_value(StrEq("position"), kDouble3, PointsToDoubles(1.0, 2.0, 3.0)));
        EXPECT_CALL(api, set_value(StrEq("direction"), kDouble3, PointsToDoubles(0.0, 0.0, -1.0)));
        EXPECT_CALL(api, set_value(StrEq("up"), kDouble3, PointsToDoubles(0.0, 1.0, 0.0)));
        EXPECT_CALL(api, end_camera());
    }
    out->write(camera);
}

TEST_F(CallSequence, TreeIsOnePreOrderPass) {
    VexGroup root("Root");
    auto a = root.addGroup("A");
    a->setTransform(VexGroup::kIdentity);
    auto a1 = a->addGroup("A1");
    auto b = root.addGroup("B");
    b->setFlags(0x8401);
    auto material = std::make_shared<Diffuse>("default");
    auto mesh = std::make_shared<TriangleObject>("M");
    mesh->setTriangles({0, 0, 0});
    a1->addNode(mesh);
    CaptureBuffer capture;
    {
        InSequence order;
        EXPECT_CALL(api, begin_group(StrEq("Root"), true));
        EXPECT_CALL(api, begin_group(StrEq("A"), true));
        EXPECT_CALL(api, transform(_));
        EXPECT_CALL(api, begin_group(StrEq("A1"), true));
        EXPECT_CALL(api, begin_object(StrEq("M"), true));
        EXPECT_CALL(api, flags(0u));
        EXPECT_CALL(api, begin_geometry(_));
        EXPECT_CALL(api, set_value(_, _, _)).Times(2);
        EXPECT_CALL(api, end_geometry());
        expectDefaultMaterial(&capture);
        EXPECT_CALL(api, end_object());
        EXPECT_CALL(api, end_group());
        EXPECT_CALL(api, end_group());
        EXPECT_CALL(api, begin_group(StrEq("B"), true));
        EXPECT_CALL(api, flags(0x8401u));
        EXPECT_CALL(api, end_group());
        EXPECT_CALL(api, end_group());
    }
    out->write(root);
}

TEST_F(CallSequence, DefinedMaterialIsOnlyReferenced) {
    Diffuse material("Steel");
    CaptureBuffer capture;
    {
        InSequence order;
        EXPECT_CALL(api, begin_material(StrEq("Steel"), false));
        EXPECT_CALL(api, begin_shader(IsNull(), StrEq("vex_diffuse")));
        EXPECT_CALL(api, set_value(StrEq("diffuse"), kFloat3, _));
        EXPECT_CALL(api, captured_text()).WillOnce(Return(&capture));
        EXPECT_CALL(api, end_shader());
        EXPECT_CALL(api, shader_text(0u, &capture));
        EXPECT_CALL(api, flags(4096u));
        EXPECT_CALL(api, end_material());
        EXPECT_CALL(api, use_material(StrEq("Steel")));
    }
    material.define(*out);
    out->write(material);
}

}  // namespace
}  // namespace vex
