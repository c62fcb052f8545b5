// Malformed input: each fault is reported as "FILE:LINE: message", never a crash or a hang;
// thousands of mutations of valid files end either in a tree or in a ParseError.
#include <gtest/gtest.h>

#include <random>

#include "ReaderTestSupport.hpp"

namespace {

using readertest::dump;
using readertest::writeScene;

struct Bad {
    std::string input;
    int line;
    std::string message;  // a piece of the message
};

std::string bin(char tag, uint32_t count, size_t dataBytes) {
    std::string s("\x01\x02\x03", 3);
    s += tag;
    for (int k = 0; k < 4; ++k) s += static_cast<char>(count >> (8 * k));
    return s + std::string(dataBytes, '\x7f');
}

TEST(ReaderErrors, MalformedInputsNameFileLineAndFault) {
    const std::vector<Bad> cases = {
        {"group \"a\" {\n", 2, "'group' block opened at line 1 is not closed"},
        {"group \"a\" {\n}\n}\n", 3, "'}' without an open block"},
        {"version 9\n@\n", 2, "unexpected character '@'"},
        {"version 9\nfoo bar\n", 2, "unknown word 'bar'"},
        {"\"n\" \x07,\n", 1, "unexpected byte 0x07"},
        {"\"a\xc3\xa9\" 1,\n", 1, "non-text byte 0xc3 in a quoted name"},
        {"\"ab\n", 1, "line break inside a quoted name"},
        {"\"ab", 1, "unterminated quoted name"},
        {"group xX414 {\n}\n", 1, "xX name with an odd number of hex digits"},
        {"group xX41zz {\n}\n", 1, "bad hex digit in xX name"},
        {"icon bX0\n", 1, "bX blob with an odd number of hex digits"},
        {"\"v\" [ " + bin('f', 3, 11), 1, "truncated binary block: 2 of 3 values present"},
        {"\"v\" [ " + bin('f', 0xFFFFFFFFu, 64), 1, "of 4294967295 values present"},
        {"\"v\" [ " + bin('r', 2, 3), 1, "truncated binary block: 0 of 2 values"},
        {"\"v\" [ \x01\x02\x03", 1, "truncated binary block header"},
        {"\"v\" [ \x01\x02\x04", 1, "bad binary block tag"},
        {"\"v\" [ \x01\x02\x03q", 1, "unknown binary block type 'q'"},
        {"\"v\" [ " + bin('c', 4, 16), 1, "not a multiple of 3"},
        {"\"v\" [ " + bin('i', 1, 4) + "7 ] ,\n", 1, "expected ']' after a binary block"},
        {"\"v\" " + bin('i', 1, 4) + " ,\n", 1, "unexpected binary block in statement"},
        {"\"v\" [ 1,,2 ] ,\n", 1, "empty element"},
        {"\"v\" [ 1,2, ] ,\n", 1, "',' before ']'"},
        {"\"v\" [ 1,2 ,\n", 2, "'[' opened at line 1 is not closed"},
        {"\"v\" 1\n\"w\" 2,\n", 1, "expected ',' at the end of parameter \"v\""},
        {"flags 1,\n", 1, "unexpected ',' in statement 'flags'"},
        {"#define camera \"c\" {\n}\n", 1, "expected group, object, matrix, material or shader"},
        {"#modify group \"c\" {\n}\n", 1, "expected camera after #modify"},
        {"#define group \"g\"\n", 1, "expected '{' after #define group"},
        {"#include \"x\"\n", 1, "unknown directive '#include'"},
        {"# define\n", 1, "'#' without a directive"},
        {"group 3 {\n}\n", 1, "bad header of group block"},
        {"options \"o\" {\n}\n", 1, "bad header of options block"},
        {"#define shader 1 2 {\n}\n", 1, "bad header of #define shader block"},
        {"surface 3 {\n}\n", 1, "'{' must follow the shader type name"},
        {"\"s\" ! 1 2,\n", 1, "must be followed by a shader id or a captured shader"},
        {"\"s\" 1 ! 2,\n", 1, "unexpected '!'"},
        {"#error \"open\n", 1, "unterminated #error text"},
        {"#print \"a\x01\"\n", 1, "non-text byte 0x01 in #print text"},
        {"#error oops\n", 1, "expected '\"' after #error"},
        {"version 1.2.3\n", 1, "malformed number '1.2.3'"},
        {"version +1\n", 1, "malformed number '+1'"},
        {"version 1e999\n", 1, "number out of range"},
        {"version " + std::string(500, '9') + "\n", 1, "number longer than 400 characters"},
        {std::string(2000, 'w') + "\n", 1, "word longer than 1024 characters"},
        {"/ comment\n", 1, "unexpected character '/'"},
        {"\"a\" \"t\" {\n \"b\" 1,\n", 3, "'captured shader' block opened at line 1"},
        {"[ 1 ] ,\n", 1, "unexpected '[' at the start of a statement"},
        {"\n\n\"a\" [\n 1, \"x\" {\n", 5, "not closed"},
        {std::string("version 9\n\0\n", 12), 2, "unexpected byte 0x00"},
        {"\"b\" [ " + bin('f', 2, 8) + "] ,\n}\n", 2, "'}' without an open block"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 60));
        try {
            vex::parseString(c.input, "bad.rmq");
            ADD_FAILURE() << "accepted";
        } catch (const vex::ParseError& e) {
            EXPECT_EQ(e.file(), "bad.rmq");
            EXPECT_EQ(e.line(), c.line) << e.what();
            EXPECT_NE(e.message().find(c.message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()),
                      "bad.rmq:" + std::to_string(c.line) + ": " + e.message());
        }
    }
}

TEST(ReaderErrors, DeepNestingIsRefusedNotRecursedInto) {
    std::string deep;
    for (int k = 0; k < 100000; ++k) deep += "\"a\" [ ";
    EXPECT_THROW(vex::parseString(deep), vex::ParseError);
    std::string groups;
    for (int k = 0; k < 300; ++k) groups += "group \"g\" {\n";
    try {
        vex::parseString(groups, "deep");
        ADD_FAILURE();
    } catch (const vex::ParseError& e) {
        EXPECT_NE(e.message().find("nesting deeper than 256 levels"), std::string::npos);
        EXPECT_EQ(e.line(), 256);
    }
}

// A line feed inside binary data counts as a line, as in every line-oriented tool.
TEST(ReaderErrors, LineNumbersCountEveryLineFeed) {
    std::string s = "\"v\" [ " + bin('i', 1, 0) + "\n\n\n\n] ,\nbogus!\n";
    try {
        vex::parseString(s, "f");
        ADD_FAILURE();
    } catch (const vex::ParseError& e) {
        EXPECT_EQ(e.line(), 6) << e.what();  // four line feeds in the data, then "] ,"
    }
}

TEST(ReaderErrors, AnErrorIsStickyAndAFreshReaderWorks) {
    vex::TreeBuilder tree;
    vex::SceneReader reader(tree, "s");
    reader.feed("group \"a\" {\n");
    EXPECT_THROW(reader.feed("}\n}\n"), vex::ParseError);
    try {
        reader.feed("version 9\n");
        ADD_FAILURE();
    } catch (const vex::ParseError& e) {
        EXPECT_EQ(std::string(e.what()), "s:3: '}' without an open block");
    }
    EXPECT_THROW(reader.finish(), vex::ParseError);
    const vex::Document ok = vex::parseString("version 9\n");
    EXPECT_EQ(ok.root.children.size(), 1u);
}

// A file whose last statement lacks its line feed is complete; an open parameter is not.
TEST(ReaderErrors, EndOfInputBoundaries) {
    EXPECT_EQ(vex::parseString("version 9").root.children.size(), 1u);
    EXPECT_EQ(vex::parseString("#print \"x\"").root.children.size(), 1u);
    EXPECT_EQ(vex::parseString("// only a comment").header.size(), 1u);
    EXPECT_EQ(vex::parseString("").root.children.size(), 0u);
    EXPECT_THROW(vex::parseString("\"v\" 1"), vex::ParseError);
    EXPECT_THROW(vex::parseString("\"v\" [ 1 ]"), vex::ParseError);
    vex::TreeBuilder tree;
    vex::SceneReader reader(tree);
    reader.finish();
    EXPECT_THROW(reader.feed("x"), vex::ParseError);
}

std::vector<std::string> validFiles() {
    const auto scene = [](vexScene_api_file& api) {
        api.print("banner");
        api.version(9);
        api.begin_group("g", false);
        api.flags(3);
        api.begin_object("o", true);
        api.begin_shader(nullptr, "diffuse");
        const float c[3] = {0.5f, 0.25f, 1};
        api.set_value("color", kFloat3, c);
        api.end_shader();
        CaptureBuffer* d = api.captured_text();
        api.begin_material("m", false);
        api.shader_text(0, d);
        api.end_material();
        api.begin_geometry("triangle_mesh");
        const float v[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
        const SceneArray va{v, 4};
        api.set_value("vertices", kFloat3Array, &va);
        const int32_t t[] = {0, 1, 2, 0, 2, 3};
        const SceneArray ta{t, 6};
        api.set_value("triangles", kIntArray, &ta);
        const double dd[] = {0.5, 2};
        const SceneArray da{dd, 2};
        api.set_value("d", kDoubleArray, &da);
        api.set_value("s", kCapturedText, &d);
        api.end_geometry();
        api.end_object();
        api.begin_list("w");
        for (int k = 0; k < 8; ++k) api.add_list_item(kInt, &k);
        api.end_list();
        api.error("bad \"thing\"");
        const unsigned char b[] = {1, 2, 3};
        api.icon(b, 3);
        api.attribute("k\xff", "v");
        api.end_group();
    };
    return {writeScene(false, scene), writeScene(true, scene)};
}

// Parsing whole or in pieces must agree: the same tree, or the same error.
std::string outcome(const std::string& text, unsigned seed, size_t piece) {
    try {
        return dump(piece == 0 ? vex::parseString(text, "pieces")
                               : readertest::parsePieces(text, seed, piece));
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}

TEST(ReaderErrors, MutationsNeverCrashAndAgreeWithPiecewiseReading) {
    std::mt19937 rng(2024);
    int accepted = 0, rejected = 0;
    const auto check = [&](const std::string& m) {
        const std::string whole = outcome(m, 0, 0);
        (whole.rfind("error ", 0) == 0 ? rejected : accepted)++;
        // Feeding in pieces is checked on a sample; every mutation is read whole.
        if (rng() % 4 == 0) {
            const unsigned seed = static_cast<unsigned>(rng());
            ASSERT_EQ(outcome(m, seed, 1 + seed % 9), whole) << m;
        }
    };
    const std::string huge[] = {std::string("\x01\x02\x03"
                                            "f\xff\xff\xff\xff",
                                            8),
                                std::string("\x01\x02\x03"
                                            "r\x00\x00\x00\x40",
                                            8),
                                std::string("\x01\x02\x03"
                                            "c\xfc\xff\xff\xff",
                                            8)};
    for (const std::string& valid : validFiles()) {
        ASSERT_EQ(outcome(valid, 0, 0).rfind("error", 0), std::string::npos);
        for (size_t cut = 0; cut < valid.size(); ++cut) check(valid.substr(0, cut));
        for (int k = 0; k < 1500; ++k) {
            std::string m = valid;
            const int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits; ++e) {
                const size_t at = rng() % m.size();
                switch (rng() % 5) {
                    case 0:
                        m[at] = static_cast<char>(rng());
                        break;
                    case 1:
                        m[at] = static_cast<char>(m[at] ^ (1 << (rng() % 8)));
                        break;
                    case 2:
                        m.insert(at, huge[rng() % 3]);
                        break;
                    case 3:
                        m.erase(at, 1 + rng() % 8);
                        break;
                    default:
                        m.insert(at, 1, "{}[],!\"\n \x01#/x"[rng() % 13]);
                        break;
                }
                if (m.empty()) m = "x";
            }
            check(m);
        }
        // Counts of the file's own binary blocks made huge.
        for (size_t at = valid.find("\x01\x02\x03"); at != std::string::npos;
             at = valid.find("\x01\x02\x03", at + 1)) {
            std::string m = valid;
            m.replace(at + 4, 4, "\xff\xff\xff\x0f");
            check(m);
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(rejected, 1000);
}

}  // namespace
