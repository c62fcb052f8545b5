// Every operation of the scene file writer in every kind of block, and values of every type
// code, arrays and lists: one body that the writer's and the reader's tests both pin.
#pragma once

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <numeric>
#include <tuple>
#include <vector>

#include "support/WriterHarness.hpp"

namespace vex::test {

template <class T>
void value(vexScene_api_file& w, int32_t code, const std::vector<T>& elements) {
    const SceneArray a{elements.data(), static_cast<uint32_t>(elements.size())};
    w.set_value("a", code, &a);
}

// Every operation in every kind of block, and values of every code, in parts announced by
// #print lines. It checks only results: without a stream it runs the same. `all` false leaves
// out the calls whose text no reader takes (stray ends, raw text, refused blocks).
inline void everyStatement(vexScene_api_file& w, bool all = true) {
    const int32_t one = 1;
    w.print("stray ends are harmless and leave the level at 0; then groups");
    for (auto end : {&vexScene_api_file::end_group, &vexScene_api_file::end_shader,
                     &vexScene_api_file::pop_capture, &vexScene_api_file::end_list,
                     &vexScene_api_file::end_object, &vexScene_api_file::end_load})
        if (all) (w.*end)();
    w.begin_group("Body 1", false);
    w.set_value("count", kInt, &one);
    w.set_value("s", 8, &one);  // a code without text form
    w.begin_group("b", true);
    w.begin_group("c", false);
    if (all) w.print_formatted("a\nb\n");
    w.print_formatted("%s", "");
    for (int i = 0; i < 3; ++i) w.end_group();
    w.print("top-level blocks, refused inside an object and after each other; block shapes");
    if (all) {
        w.begin_object("o", true);
        EXPECT_FALSE(w.begin_camera(nullptr) || w.begin_options() || w.begin_image());
        EXPECT_FALSE(w.modify_camera("c"));
        w.end_object();
    }
    EXPECT_TRUE(w.begin_options());
    w.set_value("x", kInt, &one);
    w.end_options();
    EXPECT_TRUE(w.begin_camera("cam"));
    EXPECT_FALSE(w.begin_image());
    w.end_camera();
    EXPECT_TRUE(w.begin_image());
    w.end_image();
    EXPECT_TRUE(w.modify_camera(nullptr));
    w.end_camera();
    w.begin_group("g", true);
    w.end_camera();  // not open: writes nothing and leaves parameter form
    w.set_value("x", kInt, &one);
    w.end_group();
    w.begin_object("obj", false);
    w.set_value("a", kInt, &one);
    w.begin_geometry("triangle_mesh");
    w.set_value("b", kInt, &one);
    w.end_geometry();
    w.begin_material("mat", true);
    w.set_value("c", kInt, &one);
    w.end_material();
    w.end_object();
    w.begin_animation("p", "q");
    w.set_value("d", kInt, &one);
    w.end_animation();
    w.begin_output("a", "b", "c");
    w.set_value("e", kInt, &one);
    w.end_output();
    w.set_value("f", kInt, &one);
    w.begin_light("l");
    w.end_light();
    w.begin_accel("acc");
    w.set_value("g", kInt, &one);
    w.end_accel();
    w.begin_matrix("mx");
    w.end_matrix();
    w.begin_material("m2", false);
    w.end_material();
    w.use_material("m2");
    const double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 1e-50, -2.5, 1};  // as floats
    const double x = 1.5, y = -2, z = 1e-5;
    w.transform(m);
    w.set_transform(m);
    w.scale(x, y, z);
    w.rotate(x, y, z);
    w.translate(x, y, z);
    const unsigned char icon[] = {0x01, 0x02, 0xff};
    w.id(7);
    w.flags(4294967295u);
    w.progress("load", 0.5f);
    w.icon(icon, 3);
    w.blob("key", icon, 0);
    w.attribute("process identifier", "Fusion 360, 0x1f");
    EXPECT_TRUE(w.render());
    for (int version : {9, -1}) w.version(version);
    w.error("bad \"mesh\" 100%d");
    vexScene_api& api = w;  // slots of the live link only: nothing written, fixed results
    api.reserved_1();
    api.reserved_58();
    EXPECT_FALSE(api.connect("localhost", 5000, 1) || api.disconnect() || api.reserved_4() ||
                 api.reserved_64());
    EXPECT_EQ(std::tuple(api.reserved_51(), api.reserved_52(), api.reserved_53()),
              std::tuple(10, 10, 0));
    // Names are quoted, or hex when they hold a line feed, a carriage return, a quote or a byte
    // from 0x80 up.
    for (const char* name :
         {"two\nlines", "a\rb", "a\"b", "\x80", "caf\xc3\xa9", "\x7f {s} \\ ok ", ""})
        w.use_material(name);
    const int32_t four = 4;
    w.begin_shader("wood", "texture2_rgb");
    w.set_value("uv_projection", kInt, &four);
    w.end_shader();
    w.begin_shader_id("texture2_rgb", 3);
    w.set_value("uv_projection", kInt, &four);
    EXPECT_TRUE(w.set_shader_link("color", 3));
    w.end_shader();
    for (uint32_t kind : {0, 1, 2, 3, 5}) w.shader_ref(kind, 3);
    w.print("captured shaders reappear at the level of use; encoded ones byte for byte");
    w.begin_group("a", true);
    w.begin_group("b", true);
    const float color[3] = {0.8f, 0.1f, 0.1f};
    w.begin_shader(nullptr, "diffuse");
    w.set_value("color", kFloat3, color);
    w.end_shader();
    for (uint32_t kind : {0, 4}) w.shader_text(kind, w.captured_text());
    w.shader_text(0, nullptr);
    w.begin_shader(nullptr, "caf\xc3\xa9");
    w.set_value("k", kInt, &one);
    w.end_shader();
    w.shader_text(0, w.captured_text());
    for (int i = 0; i < 2; ++i) w.end_group();
    w.begin_shader(nullptr, "layered");
    w.push_capture();
    w.begin_shader(nullptr, "noise");
    w.set_value("k", kInt, &one);
    w.end_shader();
    CaptureBuffer* inner = w.captured_text();
    w.pop_capture();
    EXPECT_TRUE(w.set_text_link("layer", inner));
    w.end_shader();
    w.set_text_link("top", w.captured_text());
    w.print("values of every code, then lists");
    for (int i = 0; i < 5; ++i) w.begin_load("l");
    w.begin_shader(nullptr, "env");
    w.set_value("k", kInt, &one);
    w.end_shader();
    CaptureBuffer* env = w.captured_text();
    w.set_value("reflection map", kCapturedText, &env);  // indented by two at any level
    for (int i = 0; i < 5; ++i) w.end_load();
    w.begin_geometry("values");
    const float f4[4] = {1, 2.5f, 1e-7f, -2};
    const double d3[3] = {0.1, 1e300, -0.0};
    const int32_t i4[4] = {-1, 0, 2147483647, -2147483647 - 1};
    for (int32_t code : {kFloat3, kFloat4, kColor4, kFloat2}) w.set_value("f", code, f4);
    w.set_value("d3", kDouble3, d3);
    for (int32_t code : {kInt, kInt23, kInt2, kInt3, kInt4}) w.set_value("i", code, i4);
    for (double d : {0.5, 1e20, double(INFINITY)}) EXPECT_TRUE(w.set_value("d", kDouble, &d));
    const char* text = "tex ture";
    w.set_value("s", kString, text);
    w.set_value("s", kStringRef, &text);
    w.set_value("s", kString, "\xc3\xa9");
    for (int32_t b : {1, 2, -1, 0}) w.set_value("b", kBool, &b);
    for (float f :
         {INFINITY, -INFINITY, NAN, FLT_MAX, -FLT_MAX, std::nextafter(FLT_MAX, 0.f), 1.5f, -0.f})
        w.set_value("f", kFloat, &f);
    const SceneArray single{&one, 1};
    for (int32_t code : {0, 8, 11, 12, 19, 20, 21, 22, 24, 0x2000}) w.set_value("-", code, &one);
    for (int32_t code : {0x8000, 0x8008, 0x800B, 0x800E, 0x8010, 0x8011, 0x8012})
        w.set_value("-", code, &single);
    std::vector<int> ints(17);
    std::iota(ints.begin(), ints.end(), 0);
    value(w, kIntArray, std::vector<int>(ints.begin(), ints.begin() + 10));
    value(w, kInt23Array, ints);
    value(w, kFloatArray, std::vector<float>{1.5f, INFINITY, -FLT_MAX, 2});
    value(w, kFloatArray, std::vector<float>{});
    value(w, kDoubleArray, std::vector<double>{1e39, 0.25, NAN});
    value(w, kBoolArray, std::vector<int32_t>{0, 2, -1});
    value(w, kStringArray, std::vector<const char*>{"a", "b\"c"});
    value(w, kStringRefArray, std::vector<const char*>{"d"});
    const std::vector<float> triples = {0, 0, 1, 1, 2, 3};
    for (int32_t code : {kFloat3Array, kFloat4Array}) {
        const SceneArray a{triples.data(), code == kFloat3Array ? 2u : 1u};
        w.set_value("a", code, &a);
    }
    const std::vector<double> doubles = {0.1, 2, 3e-9, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1e-50};
    w.set_value("matrix", kMatrix, doubles.data());  // converted to floats first
    const SceneArray d3s{doubles.data(), 1}, matrices{doubles.data(), 1};
    w.set_value("a", kDouble3Array, &d3s);
    w.set_value("a", kMatrixArray, &matrices);  // doubles stay doubles
    w.end_geometry();
    w.begin_list("w");
    for (int32_t i = 1; i <= 7; ++i) w.add_list_item(kInt, &i);
    w.end_list();
    w.begin_list("p");
    for (float i = 0; i < 5; ++i) {
        const float t[3] = {i, 0.5f, -1};
        w.add_list_item(kFloat3, t);
    }
    w.end_list();
    w.begin_list("d");  // no binary form
    for (double d : {0.5, 0.25}) w.add_list_item(kDouble, &d);
    w.end_list();
    w.begin_list("e");
    w.end_list();
}

}  // namespace vex::test
