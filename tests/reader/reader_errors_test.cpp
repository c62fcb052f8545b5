// Malformed input: each fault is reported as "FILE:LINE: message", never a crash or a hang.
// (Mutations of valid files are in reader_roundtrip_test.cpp, which writes them.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReaderTestSupport.hpp"

namespace {

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
    const auto repeat = [](const std::string& s, int n) {
        std::string out;
        while (n-- > 0) out += s;
        return out;
    };
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
        // A line feed inside binary data counts as a line, as in every line-oriented tool.
        {"\"v\" [ " + bin('i', 1, 0) + "\n\n\n\n] ,\nbogus!\n", 6, "unexpected '!' in \"bogus\""},
        // A file whose last statement lacks its line feed is complete; an open parameter is not.
        {"\"v\" 1", 1, "unexpected end of input in statement \"v\" of line 1"},
        {"\"v\" [ 1 ]", 1, "unexpected end of input in statement \"v\""},
        // Deep nesting is refused, not recursed into.
        {repeat("\"a\" [ ", 100000), 1, "nesting deeper than 2048 levels"},
        {repeat("group \"g\" {\n", 2100), 2048, "nesting deeper than 2048 levels"},
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
    for (const char* complete : {"version 9", "#print \"x\""})
        EXPECT_EQ(vex::parseString(complete).root.children.size(), 1u) << complete;
    EXPECT_EQ(vex::parseString("// only a comment").header.size(), 1u);
    EXPECT_EQ(vex::parseString("").root.children.size(), 0u);
}

// After an error, and after finish, every call throws; a fresh reader works.
TEST(ReaderErrors, AnErrorIsStickyAndAFreshReaderWorks) {
    vex::TreeBuilder tree;
    vex::SceneReader reader(tree, "s");
    reader.feed("group \"a\" {\n");
    EXPECT_THROW(reader.feed("}\n}\n"), vex::ParseError);
    EXPECT_THAT([&] { reader.feed("version 9\n"); },
                testing::ThrowsMessage<vex::ParseError>("s:3: '}' without an open block"));
    EXPECT_THROW(reader.finish(), vex::ParseError);
    EXPECT_EQ(vex::parseString("version 9\n").root.children.size(), 1u);
    vex::TreeBuilder tree2;
    vex::SceneReader finished(tree2);
    finished.finish();
    EXPECT_THAT([&] { finished.feed("x"); },
                testing::ThrowsMessage<vex::ParseError>("<input>:1: input after the end of input"));
}

}  // namespace
