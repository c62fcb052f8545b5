// Pins the virtual-table layout of the scene interface, a binary contract with the renderer's
// live-link library. The virtual destructor takes two entries, so the operation of slot N
// (N >= 1) sits at entry N + 1; casting to the exact type pins each signature as well.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sceneapi/vexScene_api.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace {

// Index of a virtual member's entry under the Itanium C++ ABI, whose pointer to a virtual
// member holds 1 + the byte offset of the entry; -1 when the member is not virtual.
template <class Pmf>
long entryOf(Pmf pmf) {
    struct Itanium {
        uintptr_t ptr;
        ptrdiff_t adj;
    } raw;
    static_assert(sizeof(Pmf) == sizeof(Itanium));
    std::memcpy(&raw, &pmf, sizeof raw);
    return (raw.ptr & 1) == 0 ? -1 : static_cast<long>((raw.ptr - 1) / sizeof(void*));
}

template <class C, class F>
using MemberOf = F C::*;  // MemberOf<C, bool(int)> is bool (C::*)(int)

#define SLOT(Class, n, member, Type) \
    EXPECT_EQ(entryOf(static_cast<MemberOf<Class, Type>>(&Class::member)), (n) + 1) << #member

using Api = vexScene_api;

TEST(SlotOrder, SceneInterfaceHasItsSixtyEightSlots) {
    SLOT(Api, 1, reserved_1, void());
    SLOT(Api, 2, connect, bool(const char*, int, int));
    SLOT(Api, 3, disconnect, bool());
    SLOT(Api, 4, reserved_4, bool());
    SLOT(Api, 5, begin_group, bool(const char*, bool));
    SLOT(Api, 6, end_group, void());
    SLOT(Api, 7, begin_object, bool(const char*, bool));
    SLOT(Api, 8, end_object, void());
    SLOT(Api, 9, begin_geometry, bool(const char*));
    SLOT(Api, 10, end_geometry, void());
    SLOT(Api, 11, begin_animation, bool(const char*, const char*));
    SLOT(Api, 12, end_animation, void());
    SLOT(Api, 13, begin_load, bool(const char*));
    SLOT(Api, 14, end_load, void());
    SLOT(Api, 15, begin_options, bool());
    SLOT(Api, 16, end_options, void());
    SLOT(Api, 17, begin_camera, bool(const char*));
    SLOT(Api, 18, end_camera, void());
    SLOT(Api, 19, begin_image, bool());
    SLOT(Api, 20, end_image, void());
    SLOT(Api, 21, begin_output, bool(const char*, const char*, const char*));
    SLOT(Api, 22, end_output, void());
    SLOT(Api, 23, begin_light, bool(const char*));
    SLOT(Api, 24, end_light, void());
    SLOT(Api, 25, begin_accel, bool(const char*));
    SLOT(Api, 26, end_accel, void());
    SLOT(Api, 27, transform, void(const double*));
    SLOT(Api, 28, set_transform, void(const double*));
    SLOT(Api, 29, scale, void(const double&, const double&, const double&));
    SLOT(Api, 30, rotate, void(const double&, const double&, const double&));
    SLOT(Api, 31, translate, void(const double&, const double&, const double&));
    SLOT(Api, 32, begin_matrix, bool(const char*));
    SLOT(Api, 33, end_matrix, void());
    SLOT(Api, 34, begin_material, bool(const char*, bool));
    SLOT(Api, 35, use_material, bool(const char*));
    SLOT(Api, 36, end_material, void());
    SLOT(Api, 37, shader_text, void(uint32_t, CaptureBuffer*));
    SLOT(Api, 38, shader_ref, void(uint32_t, int));
    SLOT(Api, 39, begin_shader, bool(const char*, const char*));
    SLOT(Api, 40, begin_shader_id, bool(const char*, int));
    SLOT(Api, 41, end_shader, void());
    SLOT(Api, 42, captured_text, CaptureBuffer * ());
    SLOT(Api, 43, push_capture, void());
    SLOT(Api, 44, pop_capture, void());
    SLOT(Api, 45, set_value, bool(const char*, int32_t, const void*));
    SLOT(Api, 46, set_shader_link, bool(const char*, int));
    SLOT(Api, 47, set_text_link, bool(const char*, CaptureBuffer*));
    SLOT(Api, 48, begin_list, bool(const char*));
    SLOT(Api, 49, end_list, void());
    SLOT(Api, 50, add_list_item, void(int32_t, const void*));
    SLOT(Api, 51, reserved_51, int());
    SLOT(Api, 52, reserved_52, int());
    SLOT(Api, 53, reserved_53, int());
    SLOT(Api, 54, attribute, void(const char*, const char*));
    SLOT(Api, 55, print_formatted, void(const char*, ...));
    SLOT(Api, 56, set_mode, void(int));
    SLOT(Api, 57, version, void(int));
    SLOT(Api, 58, reserved_58, void());
    SLOT(Api, 59, progress, void(const char*, float));
    SLOT(Api, 60, icon, void(const unsigned char*, int));
    SLOT(Api, 61, blob, void(const char*, const unsigned char*, int));
    SLOT(Api, 62, id, void(unsigned));
    SLOT(Api, 63, flags, void(unsigned));
    SLOT(Api, 64, reserved_64, bool());
    SLOT(Api, 65, render, bool());
    SLOT(Api, 66, print, void(const char*));
    SLOT(Api, 67, error, void(const char*));
    SLOT(vexScene_api_file, 68, modify_camera, bool(const char*));
}

}  // namespace
