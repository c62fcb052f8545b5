// The scene-building interface. Its virtual table is a binary contract with the
// renderer's live-link library: the order of the operations and their argument
// types must not change.
#pragma once

#include <cstdint>

#include "sceneapi/CaptureBuffer.hpp"
#include "sceneapi/SceneValueType.hpp"

class vexScene_api {
  public:
    virtual ~vexScene_api() = default;                                              // 0
    virtual void reserved_1() = 0;                                                  // 1
    virtual bool connect(const char* host, int port, int mode);                     // 2
    virtual bool disconnect();                                                      // 3
    virtual bool reserved_4();                                                      // 4
    virtual bool begin_group(const char* name, bool instance) = 0;                  // 5
    virtual void end_group() = 0;                                                   // 6
    virtual bool begin_object(const char* name, bool instance) = 0;                 // 7
    virtual void end_object() = 0;                                                  // 8
    virtual bool begin_geometry(const char* type) = 0;                              // 9
    virtual void end_geometry() = 0;                                                // 10
    virtual bool begin_animation(const char* first, const char* second) = 0;        // 11
    virtual void end_animation() = 0;                                               // 12
    virtual bool begin_load(const char* module) = 0;                                // 13
    virtual void end_load() = 0;                                                    // 14
    virtual bool begin_options() = 0;                                               // 15
    virtual void end_options() = 0;                                                 // 16
    virtual bool begin_camera(const char* name) = 0;                                // 17
    virtual void end_camera() = 0;                                                  // 18
    virtual bool begin_image() = 0;                                                 // 19
    virtual void end_image() = 0;                                                   // 20
    virtual bool begin_output(const char* a, const char* b, const char* c) = 0;     // 21
    virtual void end_output() = 0;                                                  // 22
    virtual bool begin_light(const char* name) = 0;                                 // 23
    virtual void end_light() = 0;                                                   // 24
    virtual bool begin_accel(const char* name) = 0;                                 // 25
    virtual void end_accel() = 0;                                                   // 26
    virtual void transform(const double* m) = 0;                                    // 27
    virtual void set_transform(const double* m) = 0;                                // 28
    virtual void scale(const double& x, const double& y, const double& z) = 0;      // 29
    virtual void rotate(const double& x, const double& y, const double& z) = 0;     // 30
    virtual void translate(const double& x, const double& y, const double& z) = 0;  // 31
    virtual bool begin_matrix(const char* name) = 0;                                // 32
    virtual void end_matrix() = 0;                                                  // 33
    virtual bool begin_material(const char* name, bool instance) = 0;               // 34
    virtual bool use_material(const char* name) = 0;                                // 35
    virtual void end_material() = 0;                                                // 36
    virtual void shader_text(uint32_t kind, CaptureBuffer* text) = 0;               // 37
    virtual void shader_ref(uint32_t kind, int id) = 0;                             // 38
    virtual bool begin_shader(const char* name, const char* type) = 0;              // 39
    virtual bool begin_shader_id(const char* type, int id) = 0;                     // 40
    virtual void end_shader() = 0;                                                  // 41
    virtual CaptureBuffer* captured_text() = 0;                                     // 42
    virtual void push_capture() = 0;                                                // 43
    virtual void pop_capture() = 0;                                                 // 44
    virtual bool set_value(const char* name, int32_t code, const void* value) = 0;  // 45
    virtual bool set_shader_link(const char* name, int id) = 0;                     // 46
    virtual bool set_text_link(const char* name, CaptureBuffer* text) = 0;          // 47
    virtual bool begin_list(const char* name) = 0;                                  // 48
    virtual void end_list() = 0;                                                    // 49
    virtual void add_list_item(int32_t code, const void* value) = 0;                // 50
    virtual int reserved_51() = 0;                                                  // 51
    virtual int reserved_52() = 0;                                                  // 52
    virtual int reserved_53() = 0;                                                  // 53
    virtual void attribute(const char* key, const char* value) = 0;                 // 54
    virtual void print_formatted(const char* format, ...)                           // 55
        __attribute__((format(printf, 2, 3))) = 0;
    virtual void set_mode(int flags) = 0;                                            // 56
    virtual void version(int number) = 0;                                            // 57
    virtual void reserved_58() = 0;                                                  // 58
    virtual void progress(const char* name, float fraction) = 0;                     // 59
    virtual void icon(const unsigned char* bytes, int length) = 0;                   // 60
    virtual void blob(const char* key, const unsigned char* bytes, int length) = 0;  // 61
    virtual void id(unsigned value) = 0;                                             // 62
    virtual void flags(unsigned value) = 0;                                          // 63
    virtual bool reserved_64() = 0;                                                  // 64
    virtual bool render() = 0;                                                       // 65
    virtual void print(const char* text) = 0;                                        // 66
    virtual void error(const char* text) = 0;                                        // 67
};

inline bool vexScene_api::connect(const char*, int, int) {
    return false;
}
inline bool vexScene_api::disconnect() {
    return false;
}
inline bool vexScene_api::reserved_4() {
    return false;
}
