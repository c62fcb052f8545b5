// Scenes written by the real writer, read back: structure, numbers and names must survive,
// in text and in binary form, whole or fed in pieces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "ReaderTestSupport.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

using readertest::dump;
using readertest::parsePieces;
using readertest::writeScene;
using vex::Block;
using vex::Node;
using vex::NumberArray;
using vex::Statement;
using vex::Value;
using K = vex::Value::Kind;

const Block& blockAt(const Block& b, size_t k) {
    EXPECT_LT(k, b.children.size());
    EXPECT_TRUE(b.children.at(k).isBlock()) << "child " << k << " of " << b.keyword;
    return b.children.at(k).block();
}
const Statement& statementAt(const Block& b, size_t k) {
    EXPECT_LT(k, b.children.size());
    EXPECT_FALSE(b.children.at(k).isBlock()) << "child " << k << " of " << b.keyword;
    return b.children.at(k).statement();
}
// The first direct child statement of that name.
const Statement& find(const Block& b, const std::string& name) {
    for (const auto& n : b.children)
        if (!n.isBlock() && n.statement().name == name) return n.statement();
    ADD_FAILURE() << "no statement " << name << " in " << b.keyword;
    static const Statement none;
    return none;
}
const Block& findBlock(const Block& b, const std::string& keyword, size_t skip = 0) {
    for (const auto& n : b.children)
        if (n.isBlock() && n.block().keyword == keyword && skip-- == 0) return n.block();
    ADD_FAILURE() << "no block " << keyword << " in " << b.keyword;
    static const Block none;
    return none;
}

std::vector<double> numbersOf(const Value& v) {
    EXPECT_EQ(v.kind, K::Numbers);
    std::vector<double> out;
    for (size_t k = 0; k < v.numbers.size(); ++k) out.push_back(v.numbers.at(k));
    return out;
}

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/reader_test_" + std::to_string(getpid()) + "_" +
           name;
}

std::string readFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

// The sample scene of the rmq-sample tool, written through the wrapper and the file target.
std::string writeSampleFile(bool binary) {
    const std::string path = tempPath(binary ? "sample_b.rmq" : "sample_t.rmq");
    {
        vex::LightFileFactory target(path);
        vex::vexSceneapi_oo out(target);
        out.api()->set_mode(binary ? 3 : 1);
        vexScene_api& api = *out.api();
        api.begin_load("import");
        out.set_bool("adjust_camera", false);
        out.set_double("scale", 0.1);
        api.end_load();
        out.begin_group("Sample Assembly");
        out.flags(0x1);
        const double placement[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 2.5, 1};
        out.transform(placement);
        const int texture = out.new_shader("texture2_rgb");
        out.set_string("file_name", "wood.png");
        out.set_int("uv_projection", 4);
        out.end_shader();
        api.begin_shader(nullptr, "diffuse");
        const float red[3] = {0.8f, 0.1f, 0.1f};
        out.set_float3("color", red);
        api.end_shader();
        CaptureBuffer* diffuse = api.captured_text();
        api.begin_object("Plate", true);
        out.next_id();
        api.begin_material("Red Paint", false);
        api.shader_text(0, diffuse);
        api.shader_ref(3, texture);
        api.end_material();
        api.begin_geometry("triangle_mesh");
        out.set_float3_array("vertices", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.25f}, {0, 1, 0}});
        out.set_int_array("triangles", {0, 1, 2, 0, 2, 3});
        api.end_geometry();
        api.end_object();
        api.begin_list("weights");
        for (int i = 1; i <= 7; ++i) {
            const int32_t w = i * 10;
            api.add_list_item(kInt, &w);
        }
        api.end_list();
        out.end_group();
        target.close();
    }
    std::string text = readFile(path);
    std::remove(path.c_str());
    return text;
}

TEST(ReaderRoundTrip, SampleFileStructureInTextAndBinary) {
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        const vex::Document doc = vex::parseString(writeSampleFile(binary), "sample");
        EXPECT_EQ(doc.header,
                  (std::vector<std::string>{"---corvan:dal:7---", "---import:dal:1---",
                                            "---id:1---", " This is a RayMint scene file"}));
        const Block& root = doc.root;
        ASSERT_EQ(root.children.size(), 4u);
        const Statement& banner = statementAt(root, 0);
        EXPECT_EQ(banner.form, Statement::Form::Message);
        EXPECT_EQ(banner.name, "#print");
        EXPECT_EQ(banner.values.at(0).bytes, vex::wrapperBanner());
        EXPECT_EQ(banner.line, 6);
        const Statement& version = statementAt(root, 1);
        EXPECT_EQ(version.name, "version");
        EXPECT_EQ(version.values.at(0).kind, K::Int);
        EXPECT_EQ(version.values.at(0).i, 9);

        const Block& load = blockAt(root, 2);
        EXPECT_EQ(load.keyword, "load");
        EXPECT_EQ(load.name(), "import");
        EXPECT_EQ(load.line, 9);
        const Statement& adjust = statementAt(load, 0);
        EXPECT_EQ(adjust.form, Statement::Form::Parameter);
        EXPECT_EQ(adjust.name, "adjust_camera");
        EXPECT_EQ(adjust.values.at(0).kind, K::Bool);
        EXPECT_EQ(adjust.values.at(0).i, 0);
        EXPECT_EQ(find(load, "scale").values.at(0).d, 0.1);

        const Block& group = blockAt(root, 3);
        EXPECT_EQ(group.keyword, "group");
        EXPECT_EQ(group.prefix, "");
        EXPECT_EQ(group.name(), "Sample Assembly");
        EXPECT_EQ(find(group, "flags").values.at(0).i, 1);
        const Statement& transform = find(group, "transform");
        ASSERT_EQ(transform.values.size(), 16u);
        EXPECT_EQ(transform.values[12].i, 10);
        EXPECT_EQ(transform.values[14].d, 2.5);

        const Block& shader = findBlock(group, "shader");
        EXPECT_EQ(shader.prefix, "#define");
        ASSERT_EQ(shader.args.size(), 2u);
        EXPECT_EQ(shader.args[0].i, 1);
        EXPECT_EQ(shader.args[1].kind, K::Word);
        EXPECT_EQ(shader.args[1].bytes, "texture2_rgb");
        EXPECT_EQ(find(shader, "file_name").values.at(0).bytes, "wood.png");
        EXPECT_EQ(find(shader, "uv_projection").values.at(0).i, 4);

        const Block& object = findBlock(group, "object");
        EXPECT_EQ(object.name(), "Plate");
        EXPECT_EQ(find(object, "id").values.at(0).i, 1);
        const Block& material = findBlock(object, "material");
        EXPECT_EQ(material.prefix, "#define");
        EXPECT_EQ(material.name(), "Red Paint");
        const Statement& surface = find(material, "surface");
        ASSERT_EQ(surface.values.size(), 1u);
        ASSERT_EQ(surface.values[0].kind, K::Shader);
        const Block& diffuse = *surface.values[0].shader;
        EXPECT_TRUE(diffuse.captured);
        EXPECT_EQ(diffuse.name(), "diffuse");
        const Statement& color = find(diffuse, "color");
        ASSERT_EQ(color.values.size(), 3u);
        EXPECT_EQ(color.values[0].d, 0.8);
        EXPECT_EQ(find(material, "reflection map").values.at(0).i, 1);

        const Block& geometry = findBlock(object, "geometry");
        EXPECT_EQ(geometry.name(), "triangle_mesh");
        const Value& vertices = find(geometry, "vertices").values.at(0);
        EXPECT_EQ(vertices.numbers.width, 3u);
        EXPECT_EQ(numbersOf(vertices),
                  (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0.25, 0, 1, 0}));
        const Value& triangles = find(geometry, "triangles").values.at(0);
        EXPECT_EQ(triangles.numbers.type, NumberArray::Type::Int32);
        EXPECT_EQ(triangles.numbers.ints, (std::vector<int32_t>{0, 1, 2, 0, 2, 3}));
        const Value& weights = find(group, "weights").values.at(0);
        EXPECT_TRUE(weights.listForm);
        EXPECT_EQ(weights.numbers.ints, (std::vector<int32_t>{10, 20, 30, 40, 50, 60, 70}));
        if (binary) {
            EXPECT_EQ(vertices.numbers.tag, 'c');
            EXPECT_EQ(vertices.numbers.type, NumberArray::Type::Float32);
            EXPECT_EQ(triangles.numbers.tag, 'i');
            EXPECT_EQ(weights.numbers.tag, 'i');
        } else {
            EXPECT_EQ(vertices.numbers.tag, 0);
            EXPECT_EQ(vertices.numbers.type, NumberArray::Type::Float64);
            EXPECT_EQ(weights.numbers.width, 1u);
        }
    }
}

// Writes every operation of the writer once, with `name` wherever a name goes.
void writeEverything(vexScene_api_file& api, const std::string& name) {
    const char* n = name.c_str();
    api.print("multi\nline %d \"quoted\" text");
    api.version(-1);
    api.begin_options();
    const int32_t yes = 2;
    api.set_value("shadows", kBool, &yes);
    api.end_options();
    api.begin_camera(nullptr);
    const float fov = 45.5f;
    api.set_value("fov", kFloat, &fov);
    api.end_camera();
    api.modify_camera(n);
    api.end_camera();
    api.begin_image();
    const int32_t size[2] = {640, 480};
    api.set_value("resolution", kInt2, size);
    api.end_image();
    api.begin_output("a", n, "c");
    const double gamma = 2.2;
    api.set_value("gamma", kDouble, &gamma);
    api.end_output();
    api.begin_light(n);
    api.end_light();
    api.begin_accel("bvh");
    api.end_accel();
    api.begin_matrix(n);
    api.end_matrix();
    api.begin_animation(n, "second");
    api.end_animation();
    api.begin_material(n, false);
    api.end_material();

    api.begin_group(n, false);
    api.flags(4294967295u);
    const double m[16] = {1, 0.5, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -3, 1e-7, 1e30, 1};
    api.set_transform(m);
    const double x = 1.5, y = -2, z = 1e-300;
    api.scale(x, y, z);
    api.rotate(x, y, z);
    api.translate(x, y, z);
    api.begin_group("inner", true);
    api.error("bad mesh\n  second line with 100% and \"quote\" and \\");
    api.attribute(n, "value");
    api.progress(n, 0.5f);
    const unsigned char bytes[] = {0, 1, 0xAB, 0xFF, '\n'};
    api.icon(bytes, sizeof bytes);
    api.blob("thumbnail", bytes, sizeof bytes);
    api.use_material(n);
    api.begin_object(n, false);
    api.id(7);
    api.begin_material("local", true);
    api.shader_ref(5, 7);
    api.shader_ref(2, 3);
    api.end_material();
    api.begin_shader(n, "phong");
    api.set_shader_link("bump", 12);
    api.end_shader();
    // A captured shader holding another captured shader.
    api.begin_shader(nullptr, "mix");
    api.push_capture();
    api.begin_shader(nullptr, "checker");
    const float c3[3] = {1, 0.5f, 0.25f};
    api.set_value("c1", kFloat3, c3);
    api.end_shader();
    CaptureBuffer* checker = api.captured_text();
    api.pop_capture();
    api.set_text_link("input", checker);
    api.set_value(n, kString, "inner value");
    api.end_shader();
    CaptureBuffer* mix = api.captured_text();
    api.shader_text(1, mix);
    api.begin_geometry("triangle_mesh");
    api.set_value("surface", kCapturedText, &mix);
    api.set_value("nothing", 8, &yes);  // a code without a text form: no value
    const float f[] = {1.5f, std::numeric_limits<float>::infinity(), -0.0f, 3e-39f, 7};
    const SceneArray fa{f, 5};
    api.set_value("floats", kFloatArray, &fa);
    const double d[] = {0.5, 1e39, -1e-5, 123456789.125};
    const SceneArray da{d, 4};
    api.set_value("doubles", kDoubleArray, &da);
    const int32_t iv[] = {0, -1, 2147483647, -2147483647 - 1, 5, 6, 7, 8, 9, 10};
    const SceneArray ia{iv, 10};
    api.set_value("ints", kIntArray, &ia);
    const float v3[] = {0, 1, 2, 3, 4, 5, std::numeric_limits<float>::quiet_NaN(), 7, 8};
    const SceneArray va{v3, 3};
    api.set_value("vertices", kFloat3Array, &va);
    const SceneArray empty{nullptr, 0};
    api.set_value("empty", kFloatArray, &empty);
    const int32_t bools[] = {0, 5, 1};
    const SceneArray ba{bools, 3};
    api.set_value("bools", kBoolArray, &ba);
    const double mats[32] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,
                             2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
    const SceneArray ma{mats, 2};
    api.set_value("matrices", kMatrixArray, &ma);
    const char* texts[] = {n, "two", ""};
    const SceneArray ta{texts, 3};
    api.set_value("texts", kStringArray, &ta);
    const float f4[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const SceneArray f4a{f4, 2};
    api.set_value("colors", kFloat4Array, &f4a);
    const double d3[] = {1e-300, 2, 3};
    const SceneArray d3a{d3, 1};
    api.set_value("points", kDouble3Array, &d3a);
    api.end_geometry();
    api.end_object();

    api.begin_list("triples");
    for (int k = 0; k < 5; ++k) {
        const float t[3] = {static_cast<float>(k), 0.5f, -1};
        api.add_list_item(kFloat3, t);
    }
    api.end_list();
    api.begin_list("floats");
    for (int k = 0; k < 3; ++k) {
        const float t = static_cast<float>(k) / 3;
        api.add_list_item(kFloat, &t);
    }
    api.end_list();
    api.begin_list("mixed");
    api.add_list_item(kString, n);
    api.add_list_item(kCapturedText, &checker);
    const double half = 0.5;
    api.add_list_item(kDouble, &half);
    api.end_list();
    api.end_group();
    api.end_group();
    api.render();
}

TEST(ReaderRoundTrip, EveryOperationTextAndBinary) {
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        const std::string text =
            writeScene(binary, [](vexScene_api_file& api) { writeEverything(api, "Body 1"); });
        const vex::Document doc = vex::parseString(text, "every");
        const Block& root = doc.root;
        EXPECT_EQ(statementAt(root, 0).values.at(0).bytes, "multi\nline %d \"quoted\" text");
        EXPECT_EQ(find(root, "version").values.at(0).i, 20);
        std::vector<std::string> kinds;
        for (const auto& c : root.children)
            if (c.isBlock()) kinds.push_back(c.block().prefix + c.block().keyword);
        EXPECT_EQ(kinds,
                  (std::vector<std::string>{"options", "camera", "#modifycamera", "image", "output",
                                            "light", "accel", "#definematrix", "animation",
                                            "#definematerial", "#definegroup"}));
        EXPECT_EQ(find(findBlock(root, "options"), "shadows").values.at(0).i, 1);
        EXPECT_EQ(find(findBlock(root, "camera"), "fov").values.at(0).d, 45.5);
        EXPECT_EQ(findBlock(root, "camera", 1).name(), "Body 1");
        const Statement& res = find(findBlock(root, "image"), "resolution");
        ASSERT_EQ(res.values.size(), 2u);
        EXPECT_EQ(res.values[1].i, 480);
        const Block& output = findBlock(root, "output");
        ASSERT_EQ(output.args.size(), 3u);
        EXPECT_EQ(output.args[1].bytes, "Body 1");
        EXPECT_EQ(find(output, "gamma").values.at(0).d, 2.2);
        EXPECT_EQ(findBlock(root, "animation").args.at(1).bytes, "second");

        const Block& outer = findBlock(root, "group");
        EXPECT_EQ(outer.prefix, "#define");
        EXPECT_EQ(find(outer, "flags").values.at(0).i, 4294967295);
        const Statement& st = find(outer, "set transform");
        ASSERT_EQ(st.values.size(), 16u);
        EXPECT_EQ(st.values[13].d, 1e-7);  // "%g" of the float nearest 1e-7
        EXPECT_EQ(st.values[14].d, 1e30);  // "%g" of the float nearest 1e30
        const Statement& scale = find(outer, "scale");
        ASSERT_EQ(scale.values.size(), 3u);
        EXPECT_EQ(scale.values[2].d, 1e-300);
        EXPECT_EQ(find(outer, "rotate").values.at(1).i, -2);

        const Block& inner = findBlock(outer, "group");
        EXPECT_EQ(inner.prefix, "");
        const Statement& err = find(inner, "#error");
        EXPECT_EQ(err.values.at(0).bytes, "bad mesh\n  second line with 100% and \"quote\" and \\");
        const Statement& attr = find(inner, "attribute");
        EXPECT_EQ(attr.values.at(0).bytes, "Body 1");
        EXPECT_EQ(attr.values.at(1).bytes, "value");
        const Statement& prog = find(inner, "progress");
        EXPECT_EQ(prog.values.at(1).d, 0.5);
        const std::string blob("\x00\x01\xab\xff\n", 5);
        EXPECT_EQ(find(inner, "icon").values.at(0).kind, K::Blob);
        EXPECT_EQ(find(inner, "icon").values.at(0).bytes, blob);
        EXPECT_EQ(find(inner, "thumbnail").values.at(0).bytes, blob);
        EXPECT_EQ(find(inner, "material").values.at(0).bytes, "Body 1");

        const Block& object = findBlock(inner, "object");
        EXPECT_EQ(object.prefix, "#define");
        const Block& local = findBlock(object, "material");
        EXPECT_EQ(local.prefix, "");
        EXPECT_EQ(find(local, "surface").values.at(0).i, 7);  // after "// assuming surface"
        EXPECT_EQ(find(local, "volume").values.at(0).i, 3);
        const Block& phong = findBlock(object, "shader");
        EXPECT_EQ(phong.args.at(1).bytes, "phong");
        const Statement& bump = find(phong, "bump");
        EXPECT_TRUE(bump.link);
        EXPECT_EQ(bump.values.at(0).i, 12);

        const Statement& shadow = find(object, "shadow");
        ASSERT_EQ(shadow.values.at(0).kind, K::Shader);
        const Block& mix = *shadow.values[0].shader;
        EXPECT_EQ(mix.name(), "mix");
        const Statement& input = find(mix, "input");
        EXPECT_TRUE(input.link);
        ASSERT_EQ(input.values.at(0).kind, K::Shader);
        EXPECT_EQ(input.values[0].shader->name(), "checker");
        EXPECT_EQ(find(*input.values[0].shader, "c1").values.at(2).d, 0.25);
        EXPECT_EQ(find(mix, "Body 1").values.at(0).bytes, "inner value");

        const Block& geo = findBlock(object, "geometry");
        EXPECT_EQ(find(geo, "surface").values.at(0).shader->name(), "mix");
        EXPECT_TRUE(find(geo, "nothing").values.empty());
        const auto& floats = find(geo, "floats").values.at(0).numbers;
        const auto& doubles = find(geo, "doubles").values.at(0).numbers;
        const auto& ints = find(geo, "ints").values.at(0).numbers;
        const auto& vertices = find(geo, "vertices").values.at(0).numbers;
        if (binary) {
            // Exact bits, no filtering of non-finite values.
            ASSERT_EQ(floats.floats.size(), 5u);
            EXPECT_TRUE(std::isinf(floats.floats[1]));
            EXPECT_TRUE(std::signbit(floats.floats[2]));
            EXPECT_EQ(floats.floats[3], 3e-39f);
            EXPECT_EQ(doubles.doubles, (std::vector<double>{0.5, 1e39, -1e-5, 123456789.125}));
            EXPECT_TRUE(std::isnan(vertices.floats.at(6)));
        } else {
            // Text: non-finite and out-of-range values were written as -1.
            EXPECT_EQ(floats.doubles, (std::vector<double>{1.5, -1, -0.0, 3e-39, 7}));
            EXPECT_TRUE(std::signbit(floats.doubles[2]));
            EXPECT_EQ(doubles.doubles, (std::vector<double>{0.5, -1, -1e-5, 123456789.125}));
            EXPECT_TRUE(std::isnan(vertices.doubles.at(6)));
        }
        EXPECT_EQ(ints.ints,
                  (std::vector<int32_t>{0, -1, 2147483647, -2147483647 - 1, 5, 6, 7, 8, 9, 10}));
        EXPECT_EQ(vertices.width, 3u);
        EXPECT_EQ(find(geo, "empty").values.at(0).numbers.size(), 0u);
        EXPECT_EQ(find(geo, "bools").values.at(0).numbers.ints, (std::vector<int32_t>{0, 1, 1}));
        const auto& mats = find(geo, "matrices").values.at(0).numbers;
        EXPECT_EQ(mats.width, 16u);
        EXPECT_EQ(mats.at(30), 3);
        EXPECT_EQ(find(geo, "texts").values.at(0).names,
                  (std::vector<std::string>{"Body 1", "two", ""}));
        EXPECT_EQ(find(geo, "colors").values.at(0).numbers.width, 4u);
        EXPECT_EQ(find(geo, "points").values.at(0).numbers.at(0), 1e-300);

        const auto& triples = find(inner, "triples").values.at(0);
        EXPECT_TRUE(triples.listForm);
        EXPECT_EQ(triples.numbers.width, 3u);
        EXPECT_EQ(triples.numbers.size(), 15u);
        EXPECT_EQ(triples.numbers.at(12), 4);
        const auto& flist = find(inner, "floats").values.at(0).numbers;
        EXPECT_EQ(flist.size(), 3u);
        EXPECT_EQ(static_cast<float>(flist.at(1)), binary ? 1.0f / 3 : 0.333333f);
        const auto& mixed = find(inner, "mixed").values.at(0);
        ASSERT_EQ(mixed.kind, K::List);
        ASSERT_EQ(mixed.list.size(), 3u);
        EXPECT_EQ(mixed.list[0].at(0).bytes, "Body 1");
        EXPECT_EQ(mixed.list[1].at(0).shader->name(), "checker");
        EXPECT_EQ(mixed.list[2].at(0).d, 0.5);
        EXPECT_EQ(find(root, "render").values.size(), 0u);
    }
}

// Text numbers read back as the decimal the writer printed.
TEST(ReaderRoundTrip, TextNumbersEqualTheirDecimalText) {
    std::mt19937 rng(7);
    std::vector<float> f;
    std::vector<double> d;
    for (int k = 0; k < 3000; ++k) {
        float x;
        do {
            const uint32_t bits = static_cast<uint32_t>(rng());
            x = std::bit_cast<float>(bits);
        } while (!std::isfinite(x));
        f.push_back(x);
        d.push_back(std::bit_cast<double>((uint64_t{rng()} << 32 | rng()) & 0x7FEFFFFFFFFFFFFFull) *
                    (k % 2 ? 1 : -1) * 1e-300);
    }
    const std::string text = writeScene(false, [&](vexScene_api_file& api) {
        api.begin_geometry("g");
        const SceneArray fa{f.data(), static_cast<uint32_t>(f.size() / 3)};
        api.set_value("f3", kFloat3Array, &fa);
        const SceneArray da{d.data(), static_cast<uint32_t>(d.size())};
        api.set_value("d", kDoubleArray, &da);
        api.set_value("one", kFloat, &f[0]);
        api.end_geometry();
    });
    const vex::Document doc = vex::parseString(text);
    const Block& g = blockAt(doc.root, 0);
    const auto& f3 = find(g, "f3").values.at(0).numbers;
    ASSERT_EQ(f3.size(), f.size() / 3 * 3);
    char buf[400];
    for (size_t k = 0; k < f3.size(); ++k) {
        std::snprintf(buf, sizeof buf, "%g", f[k]);
        ASSERT_EQ(f3.at(k), std::strtod(buf, nullptr)) << buf;
    }
    const auto& dd = find(g, "d").values.at(0).numbers;
    ASSERT_EQ(dd.size(), d.size());
    for (size_t k = 0; k < d.size(); ++k) {
        const double expected = (d[k] > -FLT_MAX && d[k] < FLT_MAX) ? d[k] : -1.0;
        std::snprintf(buf, sizeof buf, "%16.16f", expected);
        ASSERT_EQ(dd.at(k), std::strtod(buf, nullptr)) << buf;
    }
}

TEST(ReaderRoundTrip, BinaryBlocksKeepExactBits) {
    std::mt19937 rng(11);
    std::vector<uint32_t> words(3 * 1001);
    std::vector<uint64_t> longs(777);
    for (auto& w : words) w = static_cast<uint32_t>(rng());
    for (auto& w : longs) w = uint64_t{rng()} << 32 | rng();
    words[0] = 0x7FC00001;  // NaN payloads and signalling NaNs stay as they are
    words[1] = 0xFF800001;
    longs[0] = 0x7FF0000000000001ull;
    const std::string text = writeScene(true, [&](vexScene_api_file& api) {
        api.begin_geometry("g");
        const SceneArray c{words.data(), 1001};
        api.set_value("c", kFloat3Array, &c);
        const SceneArray f{words.data(), static_cast<uint32_t>(words.size())};
        api.set_value("f", kFloatArray, &f);
        const SceneArray i{words.data(), static_cast<uint32_t>(words.size())};
        api.set_value("i", kInt23Array, &i);
        const SceneArray r{longs.data(), static_cast<uint32_t>(longs.size())};
        api.set_value("r", kDoubleArray, &r);
        api.begin_list("list");
        for (size_t k = 0; k < 99; ++k) api.add_list_item(kFloat3, &words[3 * k]);
        api.end_list();
        api.end_geometry();
    });
    for (const size_t piece : {size_t{1} << 20, size_t{7}, size_t{1}}) {
        SCOPED_TRACE(piece);
        const vex::Document doc = parsePieces(text, 5, piece);
        const Block& g = blockAt(doc.root, 0);
        const auto& c = find(g, "c").values.at(0).numbers;
        EXPECT_EQ(c.tag, 'c');
        EXPECT_EQ(c.width, 3u);
        ASSERT_EQ(c.floats.size(), words.size());
        EXPECT_EQ(std::memcmp(c.floats.data(), words.data(), words.size() * 4), 0);
        const auto& f = find(g, "f").values.at(0).numbers;
        ASSERT_EQ(f.floats.size(), words.size());
        EXPECT_EQ(std::memcmp(f.floats.data(), words.data(), words.size() * 4), 0);
        const auto& i = find(g, "i").values.at(0).numbers;
        ASSERT_EQ(i.ints.size(), words.size());
        EXPECT_EQ(std::memcmp(i.ints.data(), words.data(), words.size() * 4), 0);
        const auto& r = find(g, "r").values.at(0).numbers;
        ASSERT_EQ(r.doubles.size(), longs.size());
        EXPECT_EQ(std::memcmp(r.doubles.data(), longs.data(), longs.size() * 8), 0);
        const auto& list = find(g, "list").values.at(0);
        EXPECT_TRUE(list.listForm);
        ASSERT_EQ(list.numbers.floats.size(), 297u);
        EXPECT_EQ(std::memcmp(list.numbers.floats.data(), words.data(), 297 * 4), 0);
    }
}

std::string randomName(std::mt19937& rng) {
    std::string s(rng() % 12, ' ');
    for (auto& c : s) c = static_cast<char>(1 + rng() % 255);  // names are zero-terminated
    return s;
}

TEST(ReaderRoundTrip, NamesWithRandomBytesSurviveQuotedOrHex) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const std::string a = randomName(rng), b = randomName(rng), c = randomName(rng);
        const bool binary = round % 2 == 1;
        const std::string text = writeScene(binary, [&](vexScene_api_file& api) {
            api.begin_group(a.c_str(), round % 3 == 0);
            api.begin_object(b.c_str(), true);
            api.begin_geometry(c.c_str());
            api.set_value(a.c_str(), kString, b.c_str());
            const char* texts[] = {a.c_str(), b.c_str(), c.c_str()};
            const SceneArray ta{texts, 3};
            api.set_value("t", kStringArray, &ta);
            api.end_geometry();
            api.attribute(c.c_str(), a.c_str());
            api.end_object();
            api.end_group();
        });
        SCOPED_TRACE(text);
        const vex::Document doc = parsePieces(text, static_cast<unsigned>(round), 5);
        const Block& g = blockAt(doc.root, 0);
        EXPECT_EQ(g.name(), a);
        const bool needsHex = a.find_first_of("\n\r\"") != std::string::npos ||
                              std::any_of(a.begin(), a.end(), [](char ch) { return ch & 0x80; });
        EXPECT_EQ(g.args.at(0).hex, needsHex);
        const Block& o = blockAt(g, 0);
        EXPECT_EQ(o.name(), b);
        const Block& geo = blockAt(o, 0);
        EXPECT_EQ(geo.name(), c);
        const Statement& p = statementAt(geo, 0);
        EXPECT_EQ(p.name, a);
        EXPECT_EQ(p.values.at(0).bytes, b);
        EXPECT_EQ(statementAt(geo, 1).values.at(0).names, (std::vector<std::string>{a, b, c}));
        const Statement& attr = statementAt(o, 1);
        EXPECT_EQ(attr.values.at(0).bytes, c);
        EXPECT_EQ(attr.values.at(1).bytes, a);
    }
}

TEST(ReaderRoundTrip, PiecewiseFeedingGivesTheSameTree) {
    for (const bool binary : {false, true}) {
        const std::string text = writeScene(
            binary, [](vexScene_api_file& api) { writeEverything(api, "n\xc3\xa9\"x"); });
        const std::string whole = dump(vex::parseString(text, "pieces"));
        EXPECT_EQ(dump(parsePieces(text, 1, 1)), whole);
        for (unsigned seed = 0; seed < 20; ++seed)
            ASSERT_EQ(dump(parsePieces(text, seed, 1 + seed * 13)), whole) << seed;
    }
}

TEST(ReaderRoundTrip, IndentationOffAndOnReadTheSame) {
    const auto body = [](vexScene_api_file& api) { writeEverything(api, "Body"); };
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    {
        vexScene_api_file writer(f, false);  // mode flags 0x400001: indentation off
        body(writer);
    }
    std::fclose(f);
    const std::string flat(data, size);
    std::free(data);
    std::string a = dump(vex::parseString(flat, "x"));
    std::string b = dump(vex::parseString(writeScene(false, body), "x"));
    EXPECT_EQ(a, b);
    EXPECT_NE(flat.find("\n\"floats\""), std::string::npos);  // really written without indentation
}

}  // namespace
