// The tree-to-text writer: what the reader builds from any file the scene writer produces must
// come back unchanged through SceneTextWriter, and small constructs have exact texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <regex>

#include "ReaderTestSupport.hpp"
#include "reader/SceneText.hpp"

namespace vex::test {
namespace {

std::string sceneText(const Document& doc) {
    std::string out;
    SceneTextWriter writer(out);
    writer.document(doc);
    return out;
}

// Most kinds of statement and value the scene writer can produce.
void richScene(vexScene_api_file& w) {
    w.print("RayMint SceneApi \"banner\"");
    w.version(9);
    w.attribute("process identifier", "Fusion 360, 0x4d2");
    w.begin_load("vexrtopt.so");
    const int32_t on = 1;
    const float scale = 1000;
    w.set_value("import_mode", kBool, &on);
    w.set_value("meter_scale", kFloat, &scale);
    w.end_load();
    w.begin_camera("Active Camera");
    const double position[3] = {10, 20.5, -30};
    w.set_value("position", kDouble3, position);
    w.begin_shader(nullptr, "vex_envmap");
    w.set_value("texture", kString, "startup.hdr");
    const int32_t format = 3;
    w.set_value("format", kInt, &format);
    CaptureBuffer* environment = w.captured_text();
    w.end_shader();
    w.set_text_link("environment", environment);
    w.end_camera();

    w.begin_group("Doc", true);
    w.flags(0x8001);
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 12.5, -3, 0.125, 1};
    w.transform(m);
    w.set_transform(m);
    w.begin_group("Name with \"quotes\", \xc3\xbc and & <>", true);
    w.flags(0x400);
    w.begin_object("mesh", true);
    w.flags(0);
    w.begin_geometry("triangles");
    const float vertices[] = {0, 0, 0, 1, 0, 0, 0, 1, std::numeric_limits<float>::quiet_NaN()};
    const SceneArray vertexArray{vertices, 3};
    w.set_value("vertices", kFloat3Array, &vertexArray);
    const int32_t triangles[] = {0, 1, 2, -7};
    const SceneArray triangleArray{triangles, 4};
    w.set_value("triangles", kIntArray, &triangleArray);
    const float uvs[] = {0.5f, -0.0f, 1e30f};
    const SceneArray uvArray{uvs, 3};
    w.set_value("uv", kFloatArray, &uvArray);
    const double weights[] = {0.1, -0.0, 1e300, 4};
    const SceneArray weightArray{weights, 4};
    w.set_value("weights", kDoubleArray, &weightArray);
    const char* names[] = {"a", "b\"c", ""};
    const SceneArray nameArray{names, 3};
    w.set_value("names", kStringArray, &nameArray);
    const int32_t flagsArray[] = {1, 0, 5};
    const SceneArray boolArray{flagsArray, 3};
    w.set_value("visible", kBoolArray, &boolArray);
    w.end_geometry();
    w.begin_material("steel", true);
    w.begin_shader_id("vex_diffuse", 1);
    const float diffuse[3] = {0.25f, 0.5f, 1};
    w.set_value("diffuse", kFloat3, diffuse);
    w.end_shader();
    w.shader_ref(0, 1);
    w.set_shader_link("bump", 1);
    w.end_material();
    w.end_object();
    w.end_group();
    w.begin_list("points");
    for (float k : {1.0f, 2.0f, 3.0f}) {
        const float p[3] = {k, k * 2, k * 3};
        w.add_list_item(kFloat3, p);
    }
    w.end_list();
    const unsigned char bytes[] = {0x00, 0x7f, 0xff};
    w.blob("thumbnail", bytes, 3);
    w.icon(bytes, 3);
    w.progress("loading", 0.5f);
    w.use_material("steel");
    w.error("two\nlines");
    w.end_group();
    w.render();
}

class SceneTextRoundTrip : public ::testing::TestWithParam<int> {};

// Writer modes: text arrays with indentation, binary arrays without, binary with.
INSTANTIATE_TEST_SUITE_P(WriterModes, SceneTextRoundTrip, ::testing::Values(1, 0x400003, 3),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1          ? std::string("TextIndented")
                                    : info.param == 0x400003 ? std::string("BinaryFlat")
                                                             : std::string("BinaryIndented");
                         });

TEST_P(SceneTextRoundTrip, TreeComesBackUnchangedAndTextIsAFixedPoint) {
    const std::string original = writerOutput(richScene, GetParam());
    const Document first = parseString(original);
    const std::string text = sceneText(first);
    const Document second = parseString(text, "<written>");
    // Every kind, byte and bit, but not the line numbers: the writer lays lines out its own way.
    const auto withoutLines = [](const Document& doc) {
        return std::regex_replace(readertest::dump(doc), std::regex("@[0-9]+"), "@");
    };
    EXPECT_EQ(withoutLines(first), withoutLines(second)) << text;
    EXPECT_EQ(sceneText(second), text);
}

TEST(SceneText, SmallConstructsHaveExactTexts) {
    const Document doc = parseString(
        "//header line\n"
        "group \"a\" {\n"
        "flags 32769\n"
        "\"v\" [ 1 2 3,4 5 6 ] ,\n"
        "\"d\" 4.0 4 1e+300 -0 nan -inf,\n"
        "\"n\" xX80 xX2261 \"\",\n"
        "\"l\" ! 3,\n"
        "\"m\" [ \"x\" 1, 2 ] ,\n"
        "#print \"text\"\n"
        "#define shader 2 vex_diffuse {\n"
        "\"c\" bX00ff,\n"
        "}\n"
        "surface \"t\" {\n"
        "\"k\" on,\n"
        "}\n"
        "}\n");
    EXPECT_EQ(sceneText(doc),
              "//header line\n"
              "group \"a\" {\n"
              " flags 32769\n"
              " \"v\" [ 1 2 3,4 5 6 ],\n"
              " \"d\" 4.0 4 1e+300 -0.0 nan -inf,\n"
              " \"n\" xX80 xX2261 \"\",\n"
              " \"l\" ! 3,\n"
              " \"m\" [ \"x\" 1,\n"
              "  2 ],\n"
              "#print \"text\"\n"
              " #define shader 2 vex_diffuse {\n"
              "  \"c\" bX00ff,\n"
              " }\n"
              " surface \"t\" {\n"
              "  \"k\" on,\n"
              " }\n"
              "}\n");
}

TEST(SceneText, BinaryBlocksKeepTheirBytes) {
    const float values[] = {1.5f, -0.0f, std::numeric_limits<float>::quiet_NaN()};
    const std::string original = writerOutput(
        [&](vexScene_api_file& w) {
            w.begin_group("g", true);
            const SceneArray array{values, 1};
            w.set_value("p", kFloat3Array, &array);
            const SceneArray empty{nullptr, 0};
            w.set_value("e", kIntArray, &empty);
            w.end_group();
        },
        0x400003, true);
    const std::string text = sceneText(parseString(original));
    std::string block = bytes({1, 2, 3, 'c', 3, 0, 0, 0});
    block.append(reinterpret_cast<const char*>(values), sizeof values);
    // Inside a group the writer makes word statements of values.
    EXPECT_EQ(text, "group \"g\" {\n p [ " + block + " ]\n e [ " +
                        bytes({1, 2, 3, 'i', 0, 0, 0, 0}) + " ]\n}\n");
}

TEST(SceneText, NumbersNamesAndFailures) {
    EXPECT_EQ(SceneTextWriter::doubleText(4), "4.0");
    EXPECT_EQ(SceneTextWriter::doubleText(0.1), "0.1");
    EXPECT_EQ(SceneTextWriter::doubleText(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(SceneTextWriter::doubleText(-std::numeric_limits<double>::quiet_NaN()), "-nan");
    EXPECT_EQ(SceneTextWriter::nameText("plain name"), "\"plain name\"");
    EXPECT_EQ(SceneTextWriter::nameText("a\nb"), "xX610a62");
    EXPECT_EQ(SceneTextWriter::nameText("plain", true), "xX706c61696e");
    EXPECT_EQ(SceneTextWriter::nameText(std::string("\0", 1)), "xX00");

#ifndef _WIN32
    // A full disk is a failure the caller sees, not a short file that looks complete.
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    {
        SceneTextWriter writer(full);
        writer.document(parseString("group \"g\" {\n}\n"));
        EXPECT_FALSE(writer.flush());
        EXPECT_TRUE(writer.failed());
    }
    std::fclose(full);
#endif
}

}  // namespace
}  // namespace vex::test
