// Scenes written by the real writer, read back: structure, numbers and names must survive,
// in text and in binary form, whole or fed in pieces; mutations of them never crash. Then the
// numbers of arrays written by hand: how they are typed and stored, however the input is cut.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "ReaderTestSupport.hpp"
#include "TestFiles.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

using readertest::dump;
using readertest::parsePieces;
using readertest::writeScene;
using vex::Block;
using vex::NumberArray;
using vex::Statement;
using vex::Value;
using K = vex::Value::Kind;

// A readable one-line form of a tree, so that one comparison pins kinds, order and content:
// Int 7, Number 7.0 or 0.5 (shortest text of the exact bits), on/off, "name" (bytes outside
// printable ASCII as \xNN), bare word, b:hex blob, [3d: numbers] (L[ in list form),
// [ "names" ], [ (values) ] lists, {captured shader}. Statements: "parameter", bare word or
// message: (#print:), ! for a link, values. Blocks: header { child; ... }.
std::string num(double d) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
}
std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned char>(c));
        out += c >= ' ' && c <= '~' && c != '"' && c != '\\' ? std::string(1, c) : esc;
    }
    return out + "\"";
}
std::string show(const Block& b);
std::string show(const Value& v) {
    if (v.kind == K::Int) return std::to_string(v.i);
    if (v.kind == K::Number)
        return num(v.d) + (num(v.d).find_first_of(".ein") == std::string::npos ? ".0" : "");
    if (v.kind == K::Bool) return v.i ? "on" : "off";
    if (v.kind == K::Name) return quoted(v.bytes);
    if (v.kind == K::Word) return v.bytes;
    if (v.kind == K::Blob) return "b:" + readertest::hexBytes(v.bytes.data(), v.bytes.size());
    if (v.kind == K::Shader) return "{" + show(*v.shader) + "}";
    std::string out = v.listForm ? "L[" : "[";
    if (v.numbers.size() != 0)  // the width, then i, f or d: int32, float or double storage
        out += std::to_string(v.numbers.width) + "ifd"[static_cast<int>(v.numbers.type)] + ":";
    for (size_t k = 0; k < v.numbers.size(); ++k) out += " " + num(v.numbers.at(k));
    for (const auto& n : v.names) out += " " + quoted(n);
    for (const auto& item : v.list) {
        out += " (";
        for (const auto& x : item) out += (&x == &item[0] ? "" : " ") + show(x);
        out += ")";
    }
    return out + " ]";
}
std::string show(const Statement& s) {
    using F = Statement::Form;
    std::string out = s.form == F::Parameter ? quoted(s.name) : s.name;
    out += std::string(s.form == F::Message ? ":" : "") + (s.link ? " !" : "");
    for (const auto& v : s.values) out += " " + show(v);
    return out;
}
std::string show(const Block& b) {
    std::string out = (b.captured ? "captured " : "") + b.prefix + (b.prefix.empty() ? "" : " ");
    out += b.keyword;
    for (const auto& a : b.args) out += " " + show(a);
    out += " {";
    for (const auto& n : b.children)
        out += " " + (n.isBlock() ? show(n.block()) : show(n.statement())) + ";";
    return out + " }";
}
std::vector<std::string> showChildren(const Block& b) {
    std::vector<std::string> out;
    for (const auto& n : b.children)
        out.push_back(n.isBlock() ? show(n.block()) : show(n.statement()));
    return out;
}

// The numbers of the k-th child of b, a statement with one array.
const NumberArray& arrayAt(const Block& b, size_t k) {
    return b.children.at(k).statement().values.at(0).numbers;
}
// The first value of the first statement of the text.
Value firstOf(const std::string& text) {
    return vex::parseString(text).root.children.at(0).statement().values.at(0);
}

// The statements of the text as show() prints them, or the error.
std::string shown(const std::string& text) {
    try {
        std::string out;
        for (const std::string& c : showChildren(vex::parseString(text, "cuts").root))
            out += (out.empty() ? "" : "; ") + c;
        return out;
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}
// Compares long texts, showing only where they part.
void expectSame(const std::string& got, const std::string& want) {
    const auto at = static_cast<size_t>(
        std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
    const size_t from = at > 40 ? at - 40 : 0;
    EXPECT_EQ(got.substr(from, 80), want.substr(from, 80)) << "at byte " << at;
}
// The text fed in pieces cut at `cuts` (none: all at once): the tree or the error.
std::string outcome(const std::string& text, const std::vector<size_t>& cuts) {
    try {
        vex::TreeBuilder tree;
        vex::SceneReader reader(tree, "cuts");
        size_t at = 0;
        for (const size_t c : cuts) reader.feed(text.data() + at, c - at), at = c;
        reader.feed(text.data() + at, text.size() - at);
        reader.finish();
        return dump(tree.take());
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}

// The scene of the rmq-sample tool, run as a real process, read back from its file.
TEST(ReaderRoundTrip, SampleFileStructureInTextAndBinary) {
    const vex::test::TempDir dir;
    const std::string path = (dir / "sample.rmq").string();
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        const std::string command = vex::test::shellQuote(RMQ_SAMPLE) +
                                    (binary ? " --binary " : " ") + vex::test::shellQuote(path);
        ASSERT_EQ(vex::test::runCommand(command).status, 0) << command;
        const vex::Document doc = vex::parseFile(path);
        EXPECT_EQ(doc.header,
                  (std::vector<std::string>{"---corvan:dal:7---", "---import:dal:1---",
                                            "---id:1---", " This is a RayMint scene file"}));
        const std::string f = binary ? "f" : "i";  // binary floats; text integers
        EXPECT_EQ(showChildren(doc.root),
                  (std::vector<std::string>{
                      "#print: " + quoted(vex::wrapperBanner()), "version 9",
                      "load \"import\" { \"adjust_camera\" off; \"scale\" 0.1; }",
                      "group \"Sample Assembly\" { flags 1; transform 1 0 0 0 0 1 0 0 0 0 1 0 10 0 "
                      "2.5 1; #define shader 1 texture2_rgb { \"file_name\" \"wood.png\"; "
                      "\"uv_projection\" 4; }; object \"Plate\" { id 1; #define material \"Red "
                      "Paint\" { surface {captured shader \"diffuse\" { \"color\" 0.8 0.1 0.1; }}; "
                      "reflection map 1; }; geometry \"triangle_mesh\" { \"vertices\" [3" +
                          f +
                          ": 0 0 0 1 0 0 1 1 0 0 1 0 ]; \"triangles\" [1i: 0 1 2 0 2 3 ]; "
                          "\"normals\" [3" +
                          f +
                          ": 0 0 1 0 0 1 0 0 1 0 0 1 ]; }; }; \"weights\" L[1i: 10 20 30 40 50 "
                          "60 70 ]; }"}));
        EXPECT_EQ(doc.root.children.at(0).statement().line, 6);
        EXPECT_EQ(doc.root.children.at(2).block().line, 9);
        const Block& group = doc.root.children.at(3).block();
        const Block& geometry = group.children.at(3).block().children.at(2).block();
        EXPECT_EQ(arrayAt(geometry, 0).tag, binary ? 'c' : 0);
        EXPECT_EQ(arrayAt(geometry, 1).tag, binary ? 'i' : 0);
        EXPECT_EQ(arrayAt(group, 4).tag, binary ? 'i' : 0);
    }
}

// Writes every operation of the writer once, with `name` wherever a name goes.
void writeEverything(vexScene_api_file& api, const std::string& name) {
    const char* n = name.c_str();
    const auto array = [&api](const char* param, int32_t type, const void* data, uint32_t count) {
        const SceneArray a{data, count};
        api.set_value(param, type, &a);
    };
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
    array("floats", kFloatArray, f, 5);
    const double d[] = {0.5, 1e39, -1e-5, 123456789.125};
    array("doubles", kDoubleArray, d, 4);
    const int32_t iv[] = {0, -1, 2147483647, -2147483647 - 1, 5, 6, 7, 8, 9, 10};
    array("ints", kIntArray, iv, 10);
    const float v3[] = {0, 1, 2, 3, 4, 5, std::numeric_limits<float>::quiet_NaN(), 7, 8};
    array("vertices", kFloat3Array, v3, 3);
    array("empty", kFloatArray, nullptr, 0);
    const int32_t bools[] = {0, 5, 1};
    array("bools", kBoolArray, bools, 3);
    const double mats[32] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,
                             2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
    array("matrices", kMatrixArray, mats, 2);
    const char* texts[] = {n, "two", ""};
    array("texts", kStringArray, texts, 3);
    const float f4[] = {1, 2, 3, 4, 5, 6, 7, 8};
    array("colors", kFloat4Array, f4, 2);
    const double d3[] = {1e-300, 2, 3};
    array("points", kDouble3Array, d3, 1);
    api.end_geometry();
    api.end_object();

    api.begin_list("triples");
    for (int k = 0; k < 5; ++k) {
        const float t[3] = {static_cast<float>(k), 0.5f, -1};
        api.add_list_item(kFloat3, t);
    }
    api.end_list();
    api.begin_list("floats");
    for (const float t : {0.0f, 1.0f / 3, 2.0f / 3}) api.add_list_item(kFloat, &t);
    api.end_list();
    api.begin_list("w");
    for (int k = 0; k < 8; ++k) api.add_list_item(kInt, &k);
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

// With a plain name, one that must be written as hex and random ones of any bytes but zero
// wherever a name goes; fed whole and in random pieces, and in text also written without
// indentation: the same tree.
TEST(ReaderRoundTrip, EveryOperationTextAndBinary) {
    std::mt19937 rng(3);
    std::vector<std::string> names = {"Body 1", "n\xc3\xa9\"x"};
    while (names.size() < 100) {
        names.emplace_back(rng() % 12, ' ');
        for (auto& c : names.back()) c = static_cast<char>(1 + rng() % 255);
    }
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k];
        for (const bool binary : {false, true}) {
            SCOPED_TRACE(quoted(name) + (binary ? " binary" : " text"));
            const auto body = [&](vexScene_api_file& api) { writeEverything(api, name); };
            const std::string text = writeScene(binary, body);
            const vex::Document doc = vex::parseString(text, "every");
            const std::string whole = dump(doc);
            for (unsigned seed = 0; seed < (k < 2 ? 20u : 1u); ++seed)  // seed 0: byte by byte
                ASSERT_EQ(dump(parsePieces(text, seed, k < 2 ? 1 + seed * 13 : 5)), whole) << seed;
            if (!binary) {
                const std::string flat = writeScene(false, [&](vexScene_api_file& api) {
                    api.set_mode(0x400001);  // the writer's default: indentation off
                    body(api);
                });
                EXPECT_NE(flat.find("\n\"floats\""), std::string::npos);
                EXPECT_EQ(dump(vex::parseString(flat, "every")), whole);
            }
            const bool hex = name.find_first_of("\n\r\"") != std::string::npos ||
                             std::any_of(name.begin(), name.end(), [](char c) { return c & 0x80; });
            EXPECT_EQ(doc.root.children.at(12).block().args.at(0).hex, hex);
            // Binary arrays keep every bit; text ones hold -1 for what is not a finite float.
            const std::string q = quoted(name), f = binary ? "f" : "d";
            const std::string checker = "{captured shader \"checker\" { \"c1\" 1 0.5 0.25; }}";
            const std::string mix = "{captured shader \"mix\" { \"input\" ! " + checker + "; " + q +
                                    " \"inner value\"; }}";
            ASSERT_EQ(
                showChildren(doc.root),
                (std::vector<std::string>{
                    "#print: \"multi\\x0aline %d \\x22quoted\\x22 text\"", "version 20",
                    "options { shadows on; }", "camera { fov 45.5; }",
                    "#modify camera " + q + " { }", "image { resolution 640 480; }",
                    "output \"a\" " + q + " \"c\" { \"gamma\" 2.2; }", "light " + q + " { }",
                    "accel \"bvh\" { }", "#define matrix " + q + " { }",
                    "animation " + q + " \"second\" { }", "#define material " + q + " { }",
                    "#define group " + q +
                        " { flags 4294967295; set transform 1 0.5 0 0 0 1 0 0 0 0 1 0 -3 1e-07 "
                        "1e+30 1; scale 1.5 -2 1e-300; rotate 1.5 -2 1e-300; translate 1.5 -2 "
                        "1e-300; group \"inner\" { #error: \"bad mesh\\x0a  second line with "
                        "100% and \\x22quote\\x22 and \\x5c\"; attribute " +
                        q + " \"value\"; progress " + q +
                        " 0.5; icon b:0001abff0a; thumbnail "
                        "b:0001abff0a; material " +
                        q + "; #define object " + q +
                        " { id 7; material \"local\" { surface 7; volume 3; }; #define shader " +
                        q + " \"phong\" { \"bump\" ! 12; }; shadow " + mix +
                        "; geometry \"triangle_mesh\" { \"surface\" " + mix +
                        "; \"nothing\"; \"floats\" [1" + f + ": 1.5 " +
                        (binary ? "inf -0 3.000000645916e-39" : "-1 -0 3e-39") +
                        " 7 ]; \"doubles\" [1d: 0.5 " + (binary ? "1e+39" : "-1") +
                        " -1e-05 123456789.125 ]; \"ints\" [1i: 0 -1 2147483647 -2147483648 5 6 "
                        "7 8 9 10 ]; \"vertices\" [3" +
                        f +
                        ": 0 1 2 3 4 5 nan 7 8 ]; \"empty\" "
                        "[ ]; \"bools\" [1i: 0 1 1 ]; \"matrices\" [16i: 1 0 0 0 0 1 0 0 0 0 1 0 "
                        "0 0 0 1 2 0 0 0 0 2 0 0 0 0 2 0 1 2 3 1 ]; \"texts\" [ " +
                        q +
                        " \"two\" \"\" ]; \"colors\" [4i: 1 2 3 4 5 6 7 8 ]; \"points\" [3d: "
                        "1e-300 2 3 ]; }; }; \"triples\" L[3" +
                        f +
                        ": 0 0.5 -1 1 0.5 -1 2 0.5 "
                        "-1 3 0.5 -1 4 0.5 -1 ]; \"floats\" L[1" +
                        f + ": 0 " +
                        (binary ? "0.3333333432674408 0.6666666865348816" : "0.333333 0.666667") +
                        " ]; \"w\" L[1i: 0 1 2 3 4 5 6 7 ]; \"mixed\" L[ (" + q + ") (" + checker +
                        ") (0.5) ]; }; }",
                    "render"}));
        }
    }
}

// Every cut and thousands of mutations of the files of every operation end in a tree or in a
// ParseError, never a crash, a hang or a huge allocation, and read the same in pieces.
TEST(ReaderRoundTrip, MutationsNeverCrashAndAgreeWithPiecewiseReading) {
    std::mt19937 rng(2024);
    int accepted = 0, rejected = 0;
    const auto check = [&](const std::string& m) {
        const std::string whole = outcome(m, {});
        (whole.rfind("error ", 0) == 0 ? rejected : accepted)++;
        // Feeding in pieces of 1 to 9 bytes is checked on a sample; every mutation is read whole.
        if (rng() % 4 == 0) {
            std::vector<size_t> cuts;
            for (size_t at = 1 + rng() % 9; at < m.size(); at += 1 + rng() % 9) cuts.push_back(at);
            ASSERT_EQ(outcome(m, cuts), whole) << m;
        }
    };
    // Binary block headers whose counts ask for gigabytes.
    const std::string head("\x01\x02\x03", 3);
    const std::string huge[] = {head + "f\xff\xff\xff\xff",
                                head + "r" + std::string("\0\0\0\x40", 4),
                                head + "c\xfc\xff\xff\xff"};
    const auto valid = [](bool binary, const char* name) {
        return writeScene(binary, [&](vexScene_api_file& api) { writeEverything(api, name); });
    };
    for (const std::string& valid : {valid(false, "Body 1"), valid(true, "n\xc3\xa9\"x")}) {
        ASSERT_EQ(outcome(valid, {}).rfind("error", 0), std::string::npos);
        for (size_t cut = 0; cut < valid.size(); ++cut) check(valid.substr(0, cut));
        for (int k = 0; k < 1500; ++k) {
            std::string m = valid;
            for (int e = 0, edits = 1 + static_cast<int>(rng() % 3); e < edits; ++e) {
                const size_t at = rng() % m.size();
                const unsigned op = rng() % 5;
                if (op == 0) m[at] = static_cast<char>(rng());
                if (op == 1) m[at] = static_cast<char>(m[at] ^ (1 << (rng() % 8)));
                if (op == 2) m.insert(at, huge[rng() % 3]);
                if (op == 3) m.erase(at, 1 + rng() % 8);
                if (op == 4) m.insert(at, 1, "{}[],!\"\n \x01#/x"[rng() % 13]);
                if (m.empty()) m = "x";
            }
            check(m);
        }
        // Counts of the file's own binary blocks made huge.
        for (size_t at = valid.find(head); at != std::string::npos; at = valid.find(head, at + 1)) {
            std::string m = valid;
            m.replace(at + 4, 4, "\xff\xff\xff\x0f");
            check(m);
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(rejected, 1000);
}

// ---- numbers in the tree ---------------------------------------------------------------

// Numbers of every shape in arrays, lists and statements read to exactly these trees or
// errors, text arrays as int32 until a number is not one, then as doubles; every way of
// cutting the input in two, and many in three, gives the same.
TEST(ReaderNumbers, EveryCutInsideNumbersReadsTheSame) {
    const std::pair<std::string, std::string> rows[] = {
        {"\"a\" [ 1 -2 3,4 5 -2147483648,2147483647 0 -0 ] ,\n",  // "-0" is no integer
         "\"a\" [3d: 1 -2 3 4 5 -2147483648 2147483647 0 -0 ]"},
        {"\"f\" [ -0.082978 0.497185 8.81298,1.5e+05 -1.17549e-38 3.40282e+38 ] ,\n",
         "\"f\" [3d: -0.082978 0.497185 8.81298 150000 -1.17549e-38 3.40282e+38 ]"},
        {"\"big\" [ 2147483648 9223372036854775807 -9223372036854775808 18446744073709551616 ] ,\n",
         "\"big\" [4d: 2147483648 9223372036854775808 -9223372036854775808 18446744073709551616 ]"},
        {"\"x\" [ 0.1000000000000000 1234.5000000000000000 -123.4560000000000031 ] ,\n",
         "\"x\" [3d: 0.1 1234.5 -123.456 ]"},
        {"\"n\" [ nan -nan inf -inf 1 ] ,\n", "\"n\" [5d: nan -nan inf -inf 1 ]"},
        {"\"l\" [\n 1 2 3,\n 4.5 6 7,\n 8 9 10 ],\n", "\"l\" L[3d: 1 2 3 4.5 6 7 8 9 10 ]"},
        {"\"i\" [ 2147483647 -2147483648 0 7 ] ,\n", "\"i\" [4i: 2147483647 -2147483648 0 7 ]"},
        {"\"i\" [ 1 2147483648 ] ,\n", "\"i\" [2d: 1 2147483648 ]"},
        {"\"i\" [ 0.5 3 ] ,\n", "\"i\" [2d: 0.5 3 ]"},
        {"\"i\" [ 3 1e0 ] ,\n", "\"i\" [2d: 3 1 ]"},
        // Past 2^53 the integer is rounded once, as strtod rounds it.
        {"\"i\" [ 1 9007199254740993 ] ,\n", "\"i\" [2d: 1 9007199254740992 ]"},
        {"transform 1 0 0 0 0 1 0 0 0 0 1 0 -3 1e-07 1e+30 1\nflags 4294967295\n",
         "transform 1 0 0 0 0 1 0 0 0 0 1 0 -3 1e-07 1e+30 1; flags 4294967295"},
        {"\"v\" 0.5 -7 1e5 9007199254740993,\n", "\"v\" 0.5 -7 1e+05 9007199254740993"},
        {"\"m\" [ 1 2, 3 ] ,\n", "\"m\" [ (1 2) (3) ]"},
        {"\"m\" [ 1 2, 3 4 5, 6 7 ] ,\n", "\"m\" [ (1 2) (3 4 5) (6 7) ]"},
        {"version -0.5e-3\n", "version -5e-04"},
        {"\"e\" [ 1e999 ] ,\n", "error cuts:1: number out of range '1e999'"},
        {"\"e\" [ 1.2.3 ] ,\n", "error cuts:1: malformed number '1.2.3'"},
        {"\"e\" [ +1 ] ,\n", "error cuts:1: malformed number '+1'"},
        {"\"e\" [ 1 2, 3 4,, ] ,\n", "error cuts:1: empty element in '[ ]'"},
        {"\"e\" [ 1 " + std::string(401, '0') + " ] ,\n",
         "error cuts:1: number longer than 400 characters"},
        {"\"o\" [ 1 " + std::string(400, '0') + " ] ,\n", "\"o\" [2i: 1 0 ]"}};
    std::mt19937 rng(5);
    for (const auto& [text, want] : rows) {
        SCOPED_TRACE(text.substr(0, 80));
        EXPECT_EQ(shown(text), want);
        if (want.rfind("error", 0) != 0) {  // only the storage of the array's type holds numbers
            const NumberArray a = firstOf(text).numbers;
            EXPECT_EQ(a.ints.size() + a.floats.size() + a.doubles.size(), a.size());
        }
        const std::string whole = outcome(text, {});
        for (size_t cut = 1; cut < text.size(); ++cut)
            ASSERT_EQ(outcome(text, {cut}), whole) << "cut at " << cut;
        for (int k = 0; k < 300; ++k) {
            size_t a = 1 + rng() % (text.size() - 1), b = 1 + rng() % (text.size() - 1);
            if (a > b) std::swap(a, b);
            ASSERT_EQ(outcome(text, {a, b}), whole) << a << " " << b;
        }
    }
}

// A long run of integers, then a fraction: all of them become doubles, in order.
TEST(ReaderNumbers, TextArraysAreInt32UntilANumberIsNot) {
    std::string body;
    const int n = 500000;  // 2 MB of int32, then 4 MB of doubles: several large pieces
    for (int k = 0; k < n; ++k) body += std::to_string(k * 7 - 300000) + " ";
    const NumberArray a = firstOf("\"a\" [ " + body + "0.25 ] ,\n").numbers;
    ASSERT_EQ(a.type, NumberArray::Type::Float64);
    ASSERT_EQ(a.doubles.size(), size_t{n} + 1);
    for (int k = 0; k < n; ++k) ASSERT_EQ(a.doubles[k], k * 7 - 300000) << k;
    EXPECT_EQ(a.doubles.back(), 0.25);
}

// Arrays written by the real writer, larger than the reader's storage pieces, one after another
// and fed in odd pieces: each keeps exactly its own numbers, also when a later array is shorter
// than an earlier one. Text arrays hold the decimal the writer printed ("%g" of floats of every
// exponent, "%16.16f" of doubles), binary blocks every bit, NaN payloads too.
TEST(ReaderNumbers, LargeArraysInRandomPiecesKeepEveryNumber) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> moderate(-200, 200);
    std::vector<float> f(3 * 12001);       // more than one storage piece of doubles
    std::vector<int32_t> t(300007), u(9);  // past the small pieces, into large ones
    std::vector<double> d(3000);
    for (size_t k = 0; k < f.size(); ++k) {
        do f[k] = k % 2 ? std::bit_cast<float>(uint32_t(rng())) : float(moderate(rng));
        while (!std::isfinite(f[k]));
    }
    for (auto& x : t) x = static_cast<int32_t>(rng());
    for (auto& x : u) x = static_cast<int32_t>(rng() % 100);
    for (size_t k = 0; k < d.size(); ++k)  // of every magnitude; past the float range written -1
        d[k] = std::bit_cast<double>((uint64_t{rng()} << 32 | rng()) & 0x7FEFFFFFFFFFFFFFull) *
               (k % 2 ? 1 : -1) * 1e-300;
    // The first n numbers, bit for bit.
    const auto same = [](const auto& got, const auto& want, size_t n) {
        return got.size() == n && std::memcmp(got.data(), want.data(), n * sizeof got[0]) == 0;
    };
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        if (binary) {  // NaN payloads and signalling NaNs, which text cannot hold
            f[0] = std::bit_cast<float>(0x7FC00001u);
            f[1] = std::bit_cast<float>(0xFF800001u);
            d[0] = std::bit_cast<double>(0x7FF0000000000001ull);
        }
        const std::string text = writeScene(binary, [&](vexScene_api_file& api) {
            api.begin_geometry("g");
            const SceneArray fa{f.data(), static_cast<uint32_t>(f.size() / 3)};
            api.set_value("f", kFloat3Array, &fa);
            const SceneArray ta{t.data(), static_cast<uint32_t>(t.size())};
            api.set_value("t", kIntArray, &ta);
            const SceneArray ua{u.data(), static_cast<uint32_t>(u.size())};
            api.set_value("u", kIntArray, &ua);
            api.set_value("f2", kFloat3Array, &fa);
            const SceneArray da{d.data(), static_cast<uint32_t>(d.size())};
            api.set_value("d", kDoubleArray, &da);
            const SceneArray f1{f.data(), static_cast<uint32_t>(f.size())};
            api.set_value("f1", kFloatArray, &f1);
            api.begin_list("list");
            for (size_t k = 0; k < 99; ++k) api.add_list_item(kFloat3, &f[3 * k]);
            api.end_list();
            api.end_geometry();
        });
        const std::string whole = dump(vex::parseString(text, "pieces"));
        for (const size_t piece : {size_t{7}, size_t{64}, size_t{4093}, size_t{1} << 20}) {
            const vex::Document p = parsePieces(text, static_cast<unsigned>(piece), piece);
            ASSERT_EQ(dump(p), whole) << piece;
        }
        const vex::Document doc = vex::parseString(text);
        const Block& geo = doc.root.children.at(0).block();
        const NumberArray &fa = arrayAt(geo, 0), &ta = arrayAt(geo, 1), &ua = arrayAt(geo, 2);
        const NumberArray &f2 = arrayAt(geo, 3), &da = arrayAt(geo, 4), &f1 = arrayAt(geo, 5);
        const NumberArray& list = arrayAt(geo, 6);
        EXPECT_EQ(fa.width, 3u);
        EXPECT_EQ(ta.type, NumberArray::Type::Int32);
        EXPECT_EQ(ta.ints, t);
        EXPECT_EQ(ua.ints, u);
        EXPECT_TRUE(geo.children.at(6).statement().values.at(0).listForm);
        if (binary) {
            EXPECT_EQ(fa.tag, 'c');
            EXPECT_TRUE(same(fa.floats, f, f.size()));
            EXPECT_TRUE(same(f2.floats, f, f.size()));
            EXPECT_TRUE(same(f1.floats, f, f.size()));
            EXPECT_TRUE(same(da.doubles, d, d.size()));
            EXPECT_TRUE(same(list.floats, f, 297));
            continue;
        }
        char buf[400];
        ASSERT_EQ(fa.doubles.size(), f.size());
        for (size_t k = 0; k < f.size(); ++k) {
            std::snprintf(buf, sizeof buf, "%g", f[k]);
            ASSERT_EQ(fa.doubles[k], std::strtod(buf, nullptr)) << buf;
        }
        EXPECT_EQ(f2.doubles, fa.doubles);
        EXPECT_EQ(f1.doubles, fa.doubles);
        EXPECT_TRUE(same(list.doubles, fa.doubles, 297));
        ASSERT_EQ(da.doubles.size(), d.size());
        for (size_t k = 0; k < d.size(); ++k) {
            std::snprintf(buf, sizeof buf, "%16.16f", std::fabs(d[k]) < FLT_MAX ? d[k] : -1.0);
            ASSERT_EQ(da.doubles[k], std::strtod(buf, nullptr)) << buf;
        }
    }
}

// A bracket whose numbers turn out to be part of something else: nested brackets, mixed
// element sizes, names and binary blocks after text numbers. The first 40000 numbers fill
// storage pieces before the bracket turns into a list.
TEST(ReaderNumbers, NumbersThatBecomeListsKeepTheirOrder) {
    std::string many;
    for (int k = 0; k < 40000; ++k) many += std::to_string(k) + " ";
    // An array after a nested one reuses the storage and holds only its own numbers.
    const std::string nested = "\"a\" [ " + many + "[ 5 6.5 ] 7 ] ,\n\"z\" [ 9 8 ] ,\n";
    expectSame(shown(nested), "\"a\" [ (" + many + "[2d: 5 6.5 ] 7) ]; \"z\" [2i: 9 8 ]");
    EXPECT_EQ(dump(parsePieces(nested, 3, 11)), outcome(nested, {}));
    expectSame(show(firstOf("\"m\" [ " + many + ", 1 2 ] ,\n")),
               "[ (" + many.substr(0, many.size() - 1) + ") (1 2) ]");
    const Value named = firstOf("\"n\" [ 1.5 2, \"x\" ] ,\n");
    ASSERT_EQ(named.list.size(), 2u);
    EXPECT_EQ(show(named.list[0][0]), "1.5");
    EXPECT_EQ(show(named.list[1][0]), "\"x\"");
    const std::string bin("\x01\x02\x03i\x01\x00\x00\x00\x2a\x00\x00\x00", 12);
    EXPECT_EQ(show(firstOf("\"b\" [\n 1 2,\n 3 4,\n " + bin + " ],\n")),
              "L[ (1 2) (3 4) ([1i: 42 ]) ]");
}

}  // namespace
