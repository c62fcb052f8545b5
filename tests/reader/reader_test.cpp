// The reader on what the real writer produces and on hand-made faults: whole trees and errors
// compared with the texts in data/, however the input is cut into pieces; the tree-to-text
// writer gives the same tree back. (Random mutations are the fuzz target's job.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "ReaderTestSupport.hpp"
#include "TestFiles.hpp"
#include "reader/SceneText.hpp"
#include "support/EveryStatement.hpp"

namespace vex::test {
namespace {

using readertest::outcome;
using readertest::quoted;

// Every place a name goes, with a message of several lines, a blob of any bytes and a list of
// every item kind besides.
void writeNames(vexScene_api_file& api, const char* n) {
    api.print("multi\nline %d \"quoted\" text\\");
    api.modify_camera(n);
    api.end_camera();
    api.begin_output("a", n, "c");
    api.end_output();
    api.begin_animation(n, "second");
    api.end_animation();
    api.begin_material(n, false);
    api.end_material();
    api.begin_group(n, false);
    api.attribute(n, "value");
    api.progress(n, 0.5f);
    const unsigned char bytes[] = {0, 1, 0xAB, 0xFF, '\n'};
    api.blob("thumbnail", bytes, sizeof bytes);
    api.use_material(n);
    api.begin_object(n, false);
    api.begin_shader(n, "phong");
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
    const char* texts[] = {n, "two", ""};
    const SceneArray array{texts, 3};
    api.set_value("texts", kStringArray, &array);
    api.end_geometry();
    api.end_object();
    api.begin_list("mixed");
    api.add_list_item(kString, n);
    api.add_list_item(kCapturedText, &checker);
    api.add_list_item(kFloat, c3);
    api.end_list();
    api.end_group();
}

// Every operation of the writer, then `name` wherever a name goes.
void writeEverything(vexScene_api_file& api, const std::string& name) {
    everyStatement(api, false);
    writeNames(api, name.c_str());
}

// Each line of data/reader_cases.txt: an input, a tab, its tree or error. Each must come out the
// same whole, cut at every byte, and cut in three at many places.
TEST(Reader, CasesGiveTheirTreeOrErrorHoweverTheInputIsCut) {
    std::mt19937 rng(5);
    for (const auto& [text, want] :
         caseTable(VEX_SOURCE_DIR "/tests/reader/data/reader_cases.txt")) {
        const std::string whole = outcome(text);
        EXPECT_EQ(whole, want) << quoted(text) << "\ngot: " << quoted(whole);
        for (size_t cut = 1; cut < text.size(); ++cut)
            ASSERT_EQ(outcome(text, {cut}), whole) << quoted(text) << "\ncut at " << cut;
        for (int k = 0; k < 30 && text.size() > 1; ++k) {
            size_t a = 1 + rng() % (text.size() - 1), b = 1 + rng() % (text.size() - 1);
            ASSERT_EQ(outcome(text, {std::min(a, b), std::max(a, b)}), whole) << quoted(text);
        }
    }
    // Deep nesting is refused, not recursed into.
    std::string brackets, groups;
    for (int k = 0; k < 100000; ++k) brackets += "\"a\" [ ";
    for (int k = 0; k < 2100; ++k) groups += "group \"g\" {\n";
    EXPECT_EQ(outcome(brackets), "error in.rmq:1: nesting deeper than 2048 levels");
    EXPECT_EQ(outcome(groups), "error in.rmq:2048: nesting deeper than 2048 levels");
}

// After an error, and after finish, every call throws; a fresh reader works.
TEST(Reader, AnErrorIsStickyAndAFreshReaderWorks) {
    TreeBuilder tree;
    SceneReader reader(tree, "s");
    reader.feed("group \"a\" {\n");
    EXPECT_THROW(reader.feed("}\n}\n"), ParseError);
    EXPECT_THAT([&] { reader.feed("version 9\n"); },
                testing::ThrowsMessage<ParseError>("s:3: '}' without an open block"));
    EXPECT_THROW(reader.finish(), ParseError);
    EXPECT_EQ(outcome("version 9\n"), "1:version 9\n");
    TreeBuilder tree2;
    SceneReader finished(tree2);
    finished.finish();
    EXPECT_THAT([&] { finished.feed("x"); },
                testing::ThrowsMessage<ParseError>("<input>:1: input after the end of input"));
}

// With a plain name, names that must be written as hex and random names of any bytes but zero
// wherever a name goes, in text and binary form, fed whole and in random pieces, and in text
// also without indentation: the tree in data/every_*.txt.
TEST(Reader, EveryWriterOperationReadsBackInTextAndBinary) {
    std::mt19937 rng(3);
    std::vector<std::string> names = {"Body 1", "n\xc3\xa9\"x", "a\nb"};
    while (names.size() < 60) {
        names.emplace_back(rng() % 12, ' ');
        for (auto& c : names.back()) c = static_cast<char>(1 + rng() % 255);
    }
    for (const bool binary : {false, true}) {
        const std::string golden = readFile(VEX_SOURCE_DIR "/tests/reader/data/every_" +
                                            std::string(binary ? "binary" : "text") + ".txt");
        for (size_t k = 0; k < names.size(); ++k) {
            const std::string& name = names[k];
            const auto body = [&](vexScene_api_file& api) { writeEverything(api, name); };
            const std::string text = writerOutput(body, binary ? 3 : 1, binary);
            const bool hex = name.find_first_of("\n\r\"") != std::string::npos ||
                             std::any_of(name.begin(), name.end(), [](char c) { return c & 0x80; });
            std::string want = golden;
            for (size_t at; (at = want.find("NAME")) != std::string::npos;) {
                const bool value = at == 0 || want[at - 1] != 'Q';  // QNAME: no hex mark
                want.replace(at - !value, 4 + !value, (hex && value ? "x" : "") + quoted(name));
            }
            const std::string whole = outcome(text);
            ASSERT_EQ(whole, want) << quoted(name) << (binary ? " binary" : " text");
            for (unsigned seed = 0; seed < (k < 3 ? 20u : 1u); ++seed)  // seed 0: byte by byte
                ASSERT_EQ(outcome(text, readertest::randomCuts(text.size(), seed, 1 + seed * 13)),
                          whole)
                    << seed;
            if (binary) continue;
            EXPECT_EQ(outcome(writerOutput(body, 0x400001)), whole);  // indentation off
        }
    }
}

// What the reader builds from the writer's output comes back unchanged through SceneTextWriter
// (but for line numbers), whose own text is a fixed point; small constructs have exact texts.
TEST(SceneText, TreesComeBackUnchangedAndTextsAreExact) {
    const auto sceneText = [](const std::string& in) {
        std::string out;
        SceneTextWriter(out).document(parseString(in));
        return out;
    };
    const auto withoutLines = [](const std::string& tree) {
        return std::regex_replace(tree, std::regex("(^|\n)[0-9]+:"), "$1");
    };
    for (const int mode : {1, 0x400003, 3}) {  // text indented, binary flat, binary indented
        const std::string original = writerOutput(
            [](vexScene_api_file& api) { writeEverything(api, "n\xc3\xa9\"x"); }, mode, mode & 2);
        const std::string text = sceneText(original);
        EXPECT_EQ(withoutLines(outcome(text)), withoutLines(outcome(original))) << text;
        EXPECT_EQ(sceneText(text), text);
    }
    const std::string data = VEX_SOURCE_DIR "/tests/reader/data/";
    EXPECT_EQ(sceneText(readFile(data + "scene_text_in.rmq")),
              readFile(data + "scene_text_out.rmq"));
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
