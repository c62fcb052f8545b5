// Exact text and binary output of the scene file writer: statements, blocks, shader
// captures, names, and the values of every type code, arrays and lists.
#include <gtest/gtest.h>

#include <functional>

#include "support/EveryStatement.hpp"

namespace {

using namespace vex::test;
using W = vexScene_api_file;

std::string golden(const char* name) {
    return readFile(std::string(VEX_SOURCE_DIR) + "/tests/sceneapi/data/" + name);
}

TEST(Writer, EveryStatementAndValue) {
    const auto everyStatement = [](W& w) { vex::test::everyStatement(w); };
    EXPECT_EQ(writerOutput(everyStatement), golden("statements.rmq"));
    const std::string flat = writerOutput(everyStatement, 0x400001);
    EXPECT_EQ(flat, golden("statements-flat.rmq"));
    EXPECT_EQ(writerOutput(everyStatement, -1), flat);  // unindented until set_mode
    EXPECT_EQ(writerOutput(everyStatement, 3), golden("statements-binary.rmq"));
    vexScene_api_file silent(nullptr, true);
    everyStatement(silent);
    EXPECT_STREQ(silent.captured_text()->text(), "");
}

// The indenting write: `level` spaces in front and after every line feed with more behind it.
std::string indentedAt(const std::string& text, int level) {
    const std::string pad(static_cast<size_t>(level), ' ');
    std::string out = pad;
    for (size_t i = 0; i < text.size(); ++i)
        out += text[i] + (text[i] == '\n' && i + 1 < text.size() ? pad : "");
    return out;
}

// Text handed to an operation that lies in the capture buffer the operation writes into
// (after a nested capture without push_capture, writes go on into the inner buffer). The
// buffer grows, and moves, during the operation for some filler lengths; what it then holds
// must be exact: a buffer object is read when its piece is written, a text pointer as it was
// when the operation was called.
TEST(Writer, TextFromTheGrowingCaptureBufferIsCopiedFirst) {
    struct Case {
        const char* what;
        const char* type;  // of the inner shader; a non-ASCII one makes the buffer binary
        std::function<void(W&, CaptureBuffer*, const char* filler)> call;
        // What the operation adds, given the buffer before it and the filler at its end.
        std::function<std::string(const std::string&, const std::string&)> adds;
    };
    const Case cases[] = {
        {"shader_text", "t", [](W& w, CaptureBuffer* b, auto) { w.shader_text(0, b); },
         [](auto& t, auto&) { return " surface " + indentedAt(t + " surface ", 1) + " \n"; }},
        {"binary shader_text", "caf\xc3\xa9",
         [](W& w, CaptureBuffer* b, auto) { w.shader_text(0, b); },
         [](auto& t, auto&) { return " surface " + t + " surface  \n"; }},
        {"print", "t", [](W& w, CaptureBuffer* b, auto) { w.print(b->text()); },
         [](auto& t, auto&) { return " #print \"" + indentedAt(t, 1) + "\"\n"; }},
        {"name and text", "t", [](W& w, auto, const char* f) { w.set_value(f, kString, f); },
         [](auto&, auto& f) { return " \"" + f + "\" \"" + f + "\",\n"; }},
        {"text array", "t",
         [](W& w, auto, const char* f) {
             const char* texts[2] = {f, f};
             const SceneArray a{texts, 2};
             w.set_value("a", kStringArray, &a);
         },
         [](auto&, auto& f) { return " \"a\" [ \"" + f + "\",\n\"" + f + "\" \n] ,\n"; }},
        {"scalar", "t", [](W& w, auto, const char* f) { w.set_value("i", kInt2, f); },
         [](auto&, auto&) { return std::string(" \"i\" 1717986918 1717986918,\n"); }},
        {"int array", "t",
         [](W& w, auto, const char* f) {
             const SceneArray a{f, 2};  // "ffffffff": 0x66666666 twice
             w.set_value("i", kIntArray, &a);
         },
         [](auto&, auto&) { return std::string(" \"i\" [ 1717986918,1717986918 ] ,\n"); }},
    };
    const int32_t one = 1;
    for (const Case& c : cases) {
        int grew = 0;
        for (size_t fill = 8; fill < 1200; fill += 7) {
            writerOutput([&](W& w) {
                w.begin_shader(nullptr, "outer");
                w.begin_shader(nullptr, c.type);
                w.set_value("k", kInt, &one);
                w.end_shader();
                CaptureBuffer* b = w.captured_text();
                const std::string filler(fill, 'f');
                w.print_formatted("%s", filler.c_str());
                const std::string before(b->data, static_cast<size_t>(b->length));
                const int capacity = b->capacity;
                c.call(w, b, b->data + b->length - fill);
                grew += b->capacity != capacity;
                ASSERT_EQ(std::string(b->data, static_cast<size_t>(b->length)),
                          before + c.adds(before, filler))
                    << c.what << ", filler " << fill;
            });
        }
        EXPECT_GT(grew, 0) << c.what << ": the buffer never had to grow";
    }
}

// Beyond the writer's buffers and its inline indentation: a name over half its output buffer,
// a text over its first format buffer with lines at 70 levels, and a long text array there
// (nine elements on its first line, then eight, each later line starting with the indentation).
TEST(Writer, LongTextsAreNeitherCutNorLeftUnindented) {
    const std::string name(600'000, 'n'), indent(70, ' ');
    std::string lines, expected = "\ngroup \"" + name + "\" {\n";
    for (int i = 1; i < 69; ++i) expected += std::string(i, ' ') + "load \"l\" {\n";
    expected += std::string(69, ' ') + "geometry \"m\" {\n";
    std::vector<int32_t> ints(2001);
    expected += indent + "\"a\" [ ";
    for (uint32_t i = 0; i < ints.size(); ++i) {
        ints[i] = static_cast<int32_t>(i * 2654435761u) >> (i % 32);  // every length, both signs
        expected += std::to_string(ints[i]) + (i + 1 < ints.size() ? "," : " ");
        if (i != 0 && i % 8 == 0) expected += "\n" + indent;
    }
    expected += "] ,\n";
    for (int i = 0; i < 3000; ++i) lines += "x\n", expected += indent + "x\n";
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_group(name.c_str(), true);
                  for (int i = 1; i < 69; ++i) w.begin_load("l");
                  w.begin_geometry("m");
                  value(w, kIntArray, ints);
                  w.print_formatted("%s", lines.c_str());
              }),
              expected);
}

// Counts beyond 16 bits, of an array and of the items a list collects.
TEST(ValueEncoding, LargeBinaryBlocksAreWrittenWhole) {
    std::vector<float> big(300000);
    std::iota(big.begin(), big.end(), 0.f);
    const std::string raw(reinterpret_cast<const char*>(big.data()), big.size() * 4);
    const SceneArray triples{big.data(), 100000};
    EXPECT_EQ(writerOutput([&](W& w) { w.set_value("v", kFloat3Array, &triples); }, 3),
              "\"v\" [ " + bytes({1, 2, 3, 'c', 0xE0, 0x93, 4, 0}) + raw + "] ,\n");
    EXPECT_EQ(writerOutput(
                  [&](W& w) {
                      w.begin_list("f");
                      for (const float& f : big) w.add_list_item(kFloat, &f);
                      w.end_list();
                  },
                  3),
              "\"f\" [\n " + bytes({1, 2, 3, 'f', 0xE0, 0x93, 4, 0}) + raw + " ],\n");
}

}  // namespace
