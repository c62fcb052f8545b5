// Exact text of the scene file writer's statements, blocks and shader captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "support/WriterHarness.hpp"

namespace {

using vex::test::kAsConstructed;
using vex::test::writerOutput;
using W = vexScene_api_file;

TEST(Writer, DefinitionGroupAtLevelZeroThenStatementForm) {
    EXPECT_EQ(writerOutput([](W& w) {
                  w.begin_group("Body 1", false);
                  const int32_t v = 5;
                  w.set_value("count", kInt, &v);
                  w.end_group();
              }),
              "\n#define group \"Body 1\" {\n count 5\n}\n");
}

TEST(Writer, EveryIndentingPieceStartsWithTheIndentation) {
    EXPECT_EQ(writerOutput([](W& w) {
                  w.begin_group("a", true);
                  w.begin_group("b", true);
                  w.begin_group("c", false);
                  w.end_group();
                  w.end_group();
                  w.end_group();
              }),
              "\ngroup \"a\" {\n\n group \"b\" {\n\n  #define   group \"c\" {\n  }\n }\n}\n");
}

TEST(Writer, IndentationFollowsLineFeedsAndTheModeFlag) {
    const auto body = [](W& w) {
        w.begin_load("m");
        w.begin_load("n");
        w.print_formatted("a\nb\n");
        w.print_formatted("%s", "");
        w.end_load();
        w.end_load();
    };
    EXPECT_EQ(writerOutput(body, 1), "load \"m\" {\n load \"n\" {\n  a\n  b\n   }\n}\n");
    // Bit 22 switches indentation off; that is also the state before any set_mode.
    const std::string flat = "load \"m\" {\nload \"n\" {\na\nb\n}\n}\n";
    EXPECT_EQ(writerOutput(body, 0x400001), flat);
    EXPECT_EQ(writerOutput(body, kAsConstructed), flat);
}

TEST(Writer, VersionBannerAndMessages) {
    EXPECT_EQ(writerOutput([](W& w) {
                  w.version(9);
                  w.version(-1);
                  w.print("100%d done");
                  w.error("bad \"mesh\"");
              }),
              "version 9\n\nversion 20\n\n#print \"100%d done\"\n#error \"bad \"mesh\"\"\n");
}

TEST(Writer, TopLevelBlocksAreRefusedInsideAnObject) {
    EXPECT_EQ(writerOutput([](W& w) {
                  w.begin_object("o", true);
                  EXPECT_FALSE(w.begin_camera(nullptr));
                  EXPECT_FALSE(w.begin_options());
                  EXPECT_FALSE(w.begin_image());
                  EXPECT_FALSE(w.modify_camera("c"));
                  w.end_object();
                  EXPECT_TRUE(w.begin_options());
                  w.end_options();
                  EXPECT_TRUE(w.begin_camera("cam"));
                  EXPECT_FALSE(w.begin_image());
                  w.end_camera();
                  EXPECT_TRUE(w.begin_image());
                  w.end_image();
                  EXPECT_TRUE(w.modify_camera(nullptr));
                  w.end_camera();
              }),
              "object \"o\" {\n #modify }\n\noptions {\n}\n\ncamera \"cam\" {\n}\n\nimage {\n}\n"
              "#modify \ncamera {\n}\n");
}

TEST(Writer, ClosingAnUnopenedTopLevelBlockWritesNothingAndLeavesParameterForm) {
    EXPECT_EQ(writerOutput([](W& w) {
                  w.begin_group("g", true);
                  w.end_camera();
                  const int32_t one = 1;
                  w.set_value("x", kInt, &one);
                  w.end_group();
              }),
              "\ngroup \"g\" {\n \"x\" 1,\n}\n");
}

TEST(Writer, BlockShapesAndTheirContexts) {
    const double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 1.0000001, -2.5, 1};
    const double x = 1.5, y = -2, z = 1e-5;
    const int32_t one = 1;
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_object("obj", false);
                  w.set_value("a", kInt, &one);  // statement form
                  w.begin_geometry("triangle_mesh");
                  w.set_value("b", kInt, &one);  // parameter form
                  w.end_geometry();
                  w.begin_material("mat", true);
                  w.set_value("c", kInt, &one);  // material keeps the object's form
                  w.end_material();
                  w.end_object();
                  w.begin_animation("p", "q");
                  w.end_animation();
                  w.begin_output("a", "b", "c");
                  w.end_output();
                  w.begin_light("l");
                  w.end_light();
                  w.begin_accel("acc");
                  w.end_accel();
                  w.begin_matrix("mx");
                  w.end_matrix();
                  w.begin_material("m2", false);
                  w.end_material();
                  w.use_material("m2");
                  w.transform(m);
                  w.set_transform(m);
                  w.scale(x, y, z);
                  w.rotate(x, y, z);
                  w.translate(x, y, z);
              }),
              "#define object \"obj\" {\n a 1\n geometry \"triangle_mesh\" {\n  \"b\" 1,\n }\n"
              " material \"mat\" {\n  c 1\n }\n}\n"
              "animation \"p\" \"q\" {\n}\noutput \"a\" \"b\" \"c\" {\n}\n\nlight \"l\" {\n}\n"
              "\naccel \"acc\" {\n}\n#define matrix \"mx\" {\n}\n\n#define material \"m2\" {\n}\n"
              "material \"m2\"\n"
              "transform 1 0 0 0 0 1 0 0 0 0 1 0 0.1 1 -2.5 1\n"
              "set transform 1 0 0 0 0 1 0 0 0 0 1 0 0.1 1 -2.5 1\n"
              "scale 1.5 -2 1e-05\nrotate 1.5 -2 1e-05\ntranslate 1.5 -2 1e-05\n");
}

TEST(Writer, SmallStatements) {
    const unsigned char icon[] = {0x01, 0x02, 0xff};
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.id(7);
                  w.flags(4294967295u);
                  w.progress("load", 0.5f);
                  w.icon(icon, 3);
                  w.blob("key", icon, 0);
                  w.attribute("process identifier", "Fusion 360, 0x1f");
                  EXPECT_TRUE(w.render());
              }),
              "id 7\nflags 4294967295\nprogress \"load\" 0.500\n\nicon bX0102ff\nkey bX\n"
              "attribute \"process identifier\" \"Fusion 360, 0x1f\"\n\nrender\n");
}

// Slots that matter only to the live link write nothing, called through the interface as the
// scene graph does, and give the fixed results a caller may test.
TEST(Writer, LiveLinkOnlySlotsWriteNothing) {
    EXPECT_EQ(writerOutput([](W& w) {
                  vexScene_api& api = w;
                  api.reserved_1();
                  api.reserved_58();
                  EXPECT_FALSE(api.connect("localhost", 5000, 1) || api.disconnect() ||
                               api.reserved_4() || api.reserved_64());
                  EXPECT_EQ(api.reserved_51(), 10);
                  EXPECT_EQ(api.reserved_52(), 10);
                  EXPECT_EQ(api.reserved_53(), 0);
              }),
              "");
}

TEST(Writer, NamedAndNumberedShaderDefinitionsAndReferences) {
    const int32_t four = 4;
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_shader("wood", "texture2_rgb");
                  w.set_value("uv_projection", kInt, &four);
                  w.end_shader();
                  w.begin_shader_id("texture2_rgb", 3);
                  w.set_value("uv_projection", kInt, &four);
                  w.set_shader_link("color", 3);
                  w.end_shader();
                  w.shader_ref(0, 3);
                  w.shader_ref(1, 3);
                  w.shader_ref(2, 3);
                  w.shader_ref(3, 3);
                  w.shader_ref(5, 7);
              }),
              "#define shader \"wood\" \"texture2_rgb\" {\n \"uv_projection\" 4,\n}\n"
              "#define shader 3 texture2_rgb {\n \"uv_projection\" 4,\n \"color\" ! 3,\n}\n"
              "surface 3\nshadow 3\nvolume 3\nreflection map 3\n"
              "// assuming surface shader\nsurface  7\n");
}

TEST(Writer, CapturedShaderReappearsAtTheLevelOfUse) {
    std::string captured;
    const float color[3] = {0.8f, 0.1f, 0.1f};
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_group("a", true);
                  w.begin_group("b", true);
                  w.begin_shader(nullptr, "diffuse");
                  w.set_value("color", kFloat3, color);
                  w.end_shader();
                  CaptureBuffer* text = w.captured_text();
                  ASSERT_NE(text, nullptr);
                  captured = text->text();
                  EXPECT_FALSE(text->binary);
                  w.shader_text(0, text);
                  w.shader_text(4, text);
                  w.shader_text(0, nullptr);
                  w.end_group();
                  w.end_group();
              }),
              "\ngroup \"a\" {\n\n group \"b\" {\n"
              "  surface   \"diffuse\" {\n   \"color\" 0.8 0.1 0.1,\n  }  \n"
              "  // assuming surface shader\n"
              "  surface   \"diffuse\" {\n   \"color\" 0.8 0.1 0.1,\n  }  \n"
              " }\n}\n");
    EXPECT_EQ(captured, "\"diffuse\" {\n \"color\" 0.8 0.1 0.1,\n}");
}

TEST(Writer, NestedCapturesWithPushAndPop) {
    std::string inner, outer;
    const int32_t one = 1;
    const std::string out = writerOutput([&](W& w) {
        w.begin_shader(nullptr, "layered");
        w.push_capture();
        w.begin_shader(nullptr, "noise");
        w.set_value("k", kInt, &one);
        w.end_shader();
        CaptureBuffer* innerText = w.captured_text();
        w.pop_capture();
        w.set_text_link("layer", innerText);
        w.end_shader();
        inner = innerText->text();
        outer = w.captured_text()->text();
        w.set_text_link("top", w.captured_text());
    });
    EXPECT_EQ(inner, "\"noise\" {\n \"k\" 1,\n}");
    EXPECT_EQ(outer, "\"layered\" {\n \"layer\" !  \"noise\" {\n  \"k\" 1,\n } ,\n}");
    EXPECT_EQ(out, "\"top\" ! " + outer + ",\n");
}

// The indenting write: `level` spaces in front and after every line feed with more behind it.
std::string indentedAt(const std::string& text, int level) {
    const std::string pad(static_cast<size_t>(level), ' ');
    std::string out = pad;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\n' && i + 1 < text.size()) out += pad;
    }
    return out;
}

std::string hex(const std::string& text) {
    std::string out = "xX";
    for (unsigned char c : text)
        out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
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
        std::function<void(W&, CaptureBuffer*, const char* tail)> call;
        // What the operation adds, given the buffer before it and the text at its end.
        std::function<std::string(const std::string& before, const std::string& tail)> adds;
    };
    const Case cases[] = {
        {"shader_text", "t", [](W& w, CaptureBuffer* b, const char*) { w.shader_text(0, b); },
         [](const std::string& t, const std::string&) {
             return " surface " + indentedAt(t + " surface ", 1) + " \n";
         }},
        {"shader_text, binary", "caf\xc3\xa9",
         [](W& w, CaptureBuffer* b, const char*) { w.shader_text(0, b); },
         [](const std::string& t, const std::string&) { return " surface " + t + " surface  \n"; }},
        {"set_text_link", "t", [](W& w, CaptureBuffer* b, const char*) { w.set_text_link("x", b); },
         [](const std::string& t, const std::string&) {
             return " \"x\" ! " + indentedAt(t + " \"x\" ! ", 1) + " ,\n";
         }},
        {"captured text value", "t",
         [](W& w, CaptureBuffer* b, const char*) { w.set_value("v", kCapturedText, &b); },
         [](const std::string& t, const std::string&) {
             return " \"v\" " + indentedAt(t + " \"v\" ", 2) + ",\n";
         }},
        {"print", "t", [](W& w, CaptureBuffer* b, const char*) { w.print(b->text()); },
         [](const std::string& t, const std::string&) {
             return " #print \"" + indentedAt(t, 1) + "\"\n";
         }},
        {"error", "t", [](W& w, CaptureBuffer* b, const char*) { w.error(b->text()); },
         [](const std::string& t, const std::string&) {
             return " #error \"" + indentedAt(t, 1) + "\"\n";
         }},
        {"encoded name", "t",
         [](W& w, CaptureBuffer* b, const char*) { w.use_material(b->text()); },
         [](const std::string& t, const std::string&) { return " material " + hex(t) + "\n"; }},
        {"two names", "t",
         [](W& w, CaptureBuffer*, const char* tail) { w.begin_animation(tail, tail); },
         [](const std::string&, const std::string& n) {
             return " animation \"" + n + "\"  \"" + n + "\" {\n";
         }},
        {"name and text value", "t",
         [](W& w, CaptureBuffer*, const char* tail) { w.set_value(tail, kString, tail); },
         [](const std::string&, const std::string& n) {
             return " \"" + n + "\" \"" + n + "\",\n";
         }},
        {"text array", "t",
         [](W& w, CaptureBuffer*, const char* tail) {
             const char* texts[2] = {tail, tail};
             const SceneArray a{texts, 2};
             w.set_value("a", kStringArray, &a);
         },
         [](const std::string&, const std::string& n) {
             return " \"a\" [ \"" + n + "\",\n\"" + n + "\" \n] ,\n";
         }},
        {"int array", "t",
         [](W& w, CaptureBuffer*, const char* tail) {
             const SceneArray a{tail, 2};  // "ffffffff": 0x66666666 twice
             w.set_value("i", kIntArray, &a);
         },
         [](const std::string&, const std::string&) {
             return " \"i\" [ 1717986918,1717986918 ] ,\n";
         }},
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
                w.print_formatted("%s", std::string(fill, 'f').c_str());
                const std::string before(b->data, static_cast<size_t>(b->length));
                const std::string tail(fill, 'f');
                const int capacity = b->capacity;
                c.call(w, b, b->data + b->length - fill);
                grew += b->capacity != capacity;
                ASSERT_EQ(std::string(b->data, static_cast<size_t>(b->length)),
                          before + c.adds(before, tail))
                    << c.what << ", filler " << fill;
            });
        }
        EXPECT_GT(grew, 0) << c.what << ": the buffer never had to grow";
    }
}

TEST(Writer, CaptureWithAnEncodedNameIsCopiedByteForByte) {
    const int32_t one = 1;
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_group("g", true);
                  w.begin_group("h", true);
                  w.begin_shader(nullptr, "caf\xc3\xa9");
                  w.set_value("k", kInt, &one);
                  w.end_shader();
                  EXPECT_TRUE(w.captured_text()->binary);
                  w.shader_text(0, w.captured_text());
                  w.end_group();
                  w.end_group();
              }),
              "\ngroup \"g\" {\n\n group \"h\" {\n"
              "  surface xX636166c3a9 {\n \"k\" 1,\n}  \n }\n}\n");
}

TEST(Writer, NameEncoding) {
    const auto materialLine = [](const char* name) {
        return writerOutput([&](W& w) { w.use_material(name); });
    };
    EXPECT_EQ(materialLine("caf\xc3\xa9"), "material xX636166c3a9\n");
    EXPECT_EQ(materialLine("a\"b"), "material xX612262\n");
    EXPECT_EQ(materialLine("two\nlines\r"), "material xX74776f0a6c696e65730d\n");
    EXPECT_EQ(materialLine(" {spaces} \\ ok "), "material \" {spaces} \\ ok \"\n");
    EXPECT_EQ(materialLine(""), "material \"\"\n");
}

// Decodes what the name write produced for a use_material line.
std::string decodeName(const std::string& line) {
    const std::string body = line.substr(9, line.size() - 10);
    if (body.size() >= 2 && body.front() == '"') return body.substr(1, body.size() - 2);
    EXPECT_EQ(body.substr(0, 2), "xX");
    std::string out;
    for (size_t i = 2; i + 1 < body.size(); i += 2)
        out += static_cast<char>(std::stoi(body.substr(i, 2), nullptr, 16));
    EXPECT_EQ(body.size() % 2, 0u);
    return out;
}

TEST(Writer, RandomNamesAreQuotedOrHexAndDecodeBack) {
    std::mt19937 rng(3);
    int hexCount = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string name;
        const size_t n = rng() % 24;
        for (size_t k = 0; k < n; ++k) {
            // Mostly printable text, sometimes the bytes that force encoding.
            const unsigned r = rng() % 100;
            const char c =
                r < 90 ? static_cast<char>(0x20 + rng() % 95) : static_cast<char>(1 + rng() % 255);
            name += c;
        }
        const std::string line = writerOutput([&](W& w) { w.use_material(name.c_str()); });
        ASSERT_EQ(decodeName(line), name);
        const bool special = name.find_first_of("\n\r\"") != std::string::npos ||
                             std::any_of(name.begin(), name.end(), [](char c) {
                                 return static_cast<unsigned char>(c) >= 0x80;
                             });
        ASSERT_EQ(line.compare(9, 2, "xX") == 0, special) << line;
        hexCount += special;
    }
    EXPECT_GT(hexCount, 100);
}

TEST(Writer, LongTextsAreNeverCut) {
    const std::string longName(2'000'000, 'n');
    const std::string out = writerOutput([&](W& w) {
        w.begin_group(longName.c_str(), true);
        w.print_formatted("%s|%s", longName.c_str(), "end");
    });
    EXPECT_EQ(out, "\ngroup \"" + longName + "\" {\n " + longName + "|end");
}

TEST(Writer, ManyLinesAtADeepLevelAreAllIndented) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "x\n";
    const std::string out = writerOutput([&](W& w) {
        for (int i = 0; i < 40; ++i) w.begin_load("l");
        w.print_formatted("%s", text.c_str());
    });
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += std::string(i, ' ') + "load \"l\" {\n";
    const std::string pad(40, ' ');
    for (int i = 0; i < 100000; ++i) expected += pad + "x\n";
    EXPECT_EQ(out, expected);
}

// The writer batches its output in a 1 MiB buffer and hands blocks over half of it to the
// stream directly; either way an owner that writes to the stream after `flush` keeps its place.
TEST(Writer, OwnerWritesAfterFlushKeepTheirPlace) {
    for (size_t n : {size_t{1}, size_t{1} << 19, (size_t{1} << 19) + 1, (size_t{1} << 20) - 1,
                     size_t{1} << 20, (size_t{1} << 20) + 1}) {
        const std::string first(n, 'a'), second(n, 'b');
        vex::test::MemoryStream memory;
        {
            vexScene_api_file w(memory.stream(), false);
            w.print_formatted("start|");
            w.print_formatted("%s", first.c_str());
            w.flush();
            std::fprintf(memory.stream(), "|owner 1|");
            w.print_formatted("|");
            w.print_formatted("%s", second.c_str());
            w.flush();
            std::fprintf(memory.stream(), "|owner 2|");
            w.print_formatted("end");
        }
        std::fprintf(memory.stream(), "|owner 3|");
        ASSERT_EQ(memory.text(), "start|" + first + "|owner 1||" + second + "|owner 2|end|owner 3|")
            << n;
    }
}

TEST(Writer, NullStreamAcceptsEverythingAndWritesNothing) {
    vexScene_api_file w(nullptr, true);
    const int32_t one = 1;
    const float f3[3] = {1, 2, 3};
    const SceneArray empty{nullptr, 0};
    EXPECT_TRUE(w.begin_group("g", false));
    w.set_value("a", kInt, &one);
    w.set_value("b", kFloat3Array, &empty);
    w.begin_shader(nullptr, "t");
    w.set_value("c", kFloat3, f3);
    w.begin_list("l");
    w.add_list_item(kInt, &one);
    w.end_list();
    w.print_formatted("%d", 1);
    w.end_shader();
    CaptureBuffer* captured = w.captured_text();
    ASSERT_NE(captured, nullptr);
    EXPECT_EQ(captured->length, 0);
    EXPECT_STREQ(captured->text(), "");
    w.shader_text(0, captured);
    w.end_group();
    w.flush();
    EXPECT_EQ(w.writeError(), 0);
}

// Every caller pairs its calls; stray ends must be harmless and leave the level at 0, so
// what follows is written as if they had not happened.
TEST(Writer, UnbalancedEndsAreHarmless) {
    const int32_t one = 1;
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.end_group();
                  w.end_shader();
                  w.pop_capture();
                  w.end_list();
                  w.end_object();
                  w.end_load();
                  w.begin_group("g", true);
                  w.set_value("x", kInt, &one);
                  w.end_group();
              }),
              "}\n}\n ],\n}\n}\n\ngroup \"g\" {\n x 1\n}\n");
}

}  // namespace
