// A scene interface that records calls, for tests where the sequence matters.
#pragma once

#include <gmock/gmock.h>

#include "sceneapi/LightFactory.hpp"
#include "sceneapi/vexScene_api.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex::test {

class MockSceneApi : public vexScene_api {
  public:
    MOCK_METHOD(void, reserved_1, (), (override));
    MOCK_METHOD(bool, connect, (const char*, int, int), (override));
    MOCK_METHOD(bool, disconnect, (), (override));
    MOCK_METHOD(bool, reserved_4, (), (override));
    MOCK_METHOD(bool, begin_group, (const char*, bool), (override));
    MOCK_METHOD(void, end_group, (), (override));
    MOCK_METHOD(bool, begin_object, (const char*, bool), (override));
    MOCK_METHOD(void, end_object, (), (override));
    MOCK_METHOD(bool, begin_geometry, (const char*), (override));
    MOCK_METHOD(void, end_geometry, (), (override));
    MOCK_METHOD(bool, begin_animation, (const char*, const char*), (override));
    MOCK_METHOD(void, end_animation, (), (override));
    MOCK_METHOD(bool, begin_load, (const char*), (override));
    MOCK_METHOD(void, end_load, (), (override));
    MOCK_METHOD(bool, begin_options, (), (override));
    MOCK_METHOD(void, end_options, (), (override));
    MOCK_METHOD(bool, begin_camera, (const char*), (override));
    MOCK_METHOD(void, end_camera, (), (override));
    MOCK_METHOD(bool, begin_image, (), (override));
    MOCK_METHOD(void, end_image, (), (override));
    MOCK_METHOD(bool, begin_output, (const char*, const char*, const char*), (override));
    MOCK_METHOD(void, end_output, (), (override));
    MOCK_METHOD(bool, begin_light, (const char*), (override));
    MOCK_METHOD(void, end_light, (), (override));
    MOCK_METHOD(bool, begin_accel, (const char*), (override));
    MOCK_METHOD(void, end_accel, (), (override));
    MOCK_METHOD(void, transform, (const double*), (override));
    MOCK_METHOD(void, set_transform, (const double*), (override));
    MOCK_METHOD(void, scale, (const double&, const double&, const double&), (override));
    MOCK_METHOD(void, rotate, (const double&, const double&, const double&), (override));
    MOCK_METHOD(void, translate, (const double&, const double&, const double&), (override));
    MOCK_METHOD(bool, begin_matrix, (const char*), (override));
    MOCK_METHOD(void, end_matrix, (), (override));
    MOCK_METHOD(bool, begin_material, (const char*, bool), (override));
    MOCK_METHOD(bool, use_material, (const char*), (override));
    MOCK_METHOD(void, end_material, (), (override));
    MOCK_METHOD(void, shader_text, (uint32_t, CaptureBuffer*), (override));
    MOCK_METHOD(void, shader_ref, (uint32_t, int), (override));
    MOCK_METHOD(bool, begin_shader, (const char*, const char*), (override));
    MOCK_METHOD(bool, begin_shader_id, (const char*, int), (override));
    MOCK_METHOD(void, end_shader, (), (override));
    MOCK_METHOD(CaptureBuffer*, captured_text, (), (override));
    MOCK_METHOD(void, push_capture, (), (override));
    MOCK_METHOD(void, pop_capture, (), (override));
    MOCK_METHOD(bool, set_value, (const char*, int32_t, const void*), (override));
    MOCK_METHOD(bool, set_shader_link, (const char*, int), (override));
    MOCK_METHOD(bool, set_text_link, (const char*, CaptureBuffer*), (override));
    MOCK_METHOD(bool, begin_list, (const char*), (override));
    MOCK_METHOD(void, end_list, (), (override));
    MOCK_METHOD(void, add_list_item, (int32_t, const void*), (override));
    MOCK_METHOD(int, reserved_51, (), (override));
    MOCK_METHOD(int, reserved_52, (), (override));
    MOCK_METHOD(int, reserved_53, (), (override));
    MOCK_METHOD(void, attribute, (const char*, const char*), (override));
    // Variadic: gmock cannot record it, and no scene node uses it.
    void print_formatted(const char*, ...) override { ADD_FAILURE() << "print_formatted"; }
    MOCK_METHOD(void, set_mode, (int), (override));
    MOCK_METHOD(void, version, (int), (override));
    MOCK_METHOD(void, reserved_58, (), (override));
    MOCK_METHOD(void, progress, (const char*, float), (override));
    MOCK_METHOD(void, icon, (const unsigned char*, int), (override));
    MOCK_METHOD(void, blob, (const char*, const unsigned char*, int), (override));
    MOCK_METHOD(void, id, (unsigned), (override));
    MOCK_METHOD(void, flags, (unsigned), (override));
    MOCK_METHOD(bool, reserved_64, (), (override));
    MOCK_METHOD(bool, render, (), (override));
    MOCK_METHOD(void, print, (const char*), (override));
    MOCK_METHOD(void, error, (const char*), (override));
};

class MockTarget : public LightFactory {
  public:
    explicit MockTarget(vexScene_api& api) : api_(api) {}
    vexScene_api* scene_api() override { return &api_; }
    void begin(vexSceneapi_oo&) override {}
    void close() override {}

  private:
    vexScene_api& api_;
};

}  // namespace vex::test
