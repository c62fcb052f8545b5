// A scene interface on which every call does nothing, for the test live-link libraries: the
// loader only hands it on, and the scripted library overrides what its tests look at.
#pragma once

#include "livelink/LiveLinkApi.hpp"

namespace vex::test {

class IdleScene : public vexScene_api {
  public:
    void reserved_1() override {}
    bool begin_group(const char*, bool) override { return false; }
    void end_group() override {}
    bool begin_object(const char*, bool) override { return false; }
    void end_object() override {}
    bool begin_geometry(const char*) override { return false; }
    void end_geometry() override {}
    bool begin_animation(const char*, const char*) override { return false; }
    void end_animation() override {}
    bool begin_load(const char*) override { return false; }
    void end_load() override {}
    bool begin_options() override { return false; }
    void end_options() override {}
    bool begin_camera(const char*) override { return false; }
    void end_camera() override {}
    bool begin_image() override { return false; }
    void end_image() override {}
    bool begin_output(const char*, const char*, const char*) override { return false; }
    void end_output() override {}
    bool begin_light(const char*) override { return false; }
    void end_light() override {}
    bool begin_accel(const char*) override { return false; }
    void end_accel() override {}
    void transform(const double*) override {}
    void set_transform(const double*) override {}
    void scale(const double&, const double&, const double&) override {}
    void rotate(const double&, const double&, const double&) override {}
    void translate(const double&, const double&, const double&) override {}
    bool begin_matrix(const char*) override { return false; }
    void end_matrix() override {}
    bool begin_material(const char*, bool) override { return false; }
    bool use_material(const char*) override { return false; }
    void end_material() override {}
    void shader_text(uint32_t, CaptureBuffer*) override {}
    void shader_ref(uint32_t, int) override {}
    bool begin_shader(const char*, const char*) override { return false; }
    bool begin_shader_id(const char*, int) override { return false; }
    void end_shader() override {}
    CaptureBuffer* captured_text() override { return nullptr; }
    void push_capture() override {}
    void pop_capture() override {}
    bool set_value(const char*, int32_t, const void*) override { return false; }
    bool set_shader_link(const char*, int) override { return false; }
    bool set_text_link(const char*, CaptureBuffer*) override { return false; }
    bool begin_list(const char*) override { return false; }
    void end_list() override {}
    void add_list_item(int32_t, const void*) override {}
    int reserved_51() override { return 0; }
    int reserved_52() override { return 0; }
    int reserved_53() override { return 0; }
    void attribute(const char*, const char*) override {}
    void print_formatted(const char*, ...) override {}
    void set_mode(int) override {}
    void version(int) override {}
    void reserved_58() override {}
    void progress(const char*, float) override {}
    void icon(const unsigned char*, int) override {}
    void blob(const char*, const unsigned char*, int) override {}
    void id(unsigned) override {}
    void flags(unsigned) override {}
    bool reserved_64() override { return false; }
    bool render() override { return false; }
    void print(const char*) override {}
    void error(const char*) override {}
};

}  // namespace vex::test
