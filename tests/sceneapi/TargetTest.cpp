// The object wrapper and the file target: construction, numbering, header, paths, standard
// output, closing and the numeric locale; the capture buffer and log texts beneath them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <stdexcept>

#include "sceneapi/Log.hpp"
#include "support/WriterHarness.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using namespace vex::test;

// The scene tests and the sample scene below show the other calls forwarded.
TEST(Wrapper, NumbersFromOneAgainAfterSetApi) {
    const double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
    EXPECT_EQ(written([&](vex::vexSceneapi_oo& out) {
                  EXPECT_EQ(out.next_id(), 1);
                  EXPECT_EQ(out.new_shader("texture2_rgb"), 1);
                  out.end_shader();
                  EXPECT_EQ(out.new_shader("noise"), 2);
                  out.end_shader();
                  EXPECT_EQ(out.set_api(out.api()), 0);
                  EXPECT_EQ(out.next_id(), 1);
                  EXPECT_EQ(out.new_shader("texture2_rgb"), 1);
                  out.end_shader();
                  out.transform(m, true);
                  out.progress("walk", 0.25f);
                  out.set_matrix_array("m", {});
                  out.set_double_array("da", {1, 2});
                  out.set_float3_array("f3a", {});
                  EXPECT_THAT([&] { out.set_cstring("a", "b"); },
                              testing::ThrowsMessage<std::invalid_argument>(
                                  testing::StrEq("const char * are deprecated")));
              }),
              "id 1\n#define shader 1 texture2_rgb {\n}\n#define shader 2 noise {\n}\n"
              "id 1\n#define shader 1 texture2_rgb {\n}\n"
              "set transform 1 0 0 0 0 1 0 0 0 0 1 0 5 6 7 1\n"
              "progress \"walk\" 0.250\n\n"
              "\"m\" [ ] ,\n\"da\" [ 1.0000000000000000,2.0000000000000000 ] ,\n\"f3a\" [ ] ,\n");
}

TEST(FileFactory, WritesHeaderAndScene) {
    TempDir dir;
    // A path with non-ASCII characters; an existing file is replaced.
    const fs::path file = dir.path() / fs::path(u8"Szene f\u00fcr \u6e32\u67d3.rmq");
    writeFile(file, "old contents, longer than the new file " + std::string(4000, 'x'));
    CaptureStderr();
    {
        vex::LightFileFactory target(utf8(file));
        {
            vex::vexSceneapi_oo out(target);
            out.api()->set_mode(1);
            out.begin_group("g");
            out.end_group();
        }
        target.close();
        EXPECT_EQ(target.scene_api(), nullptr);
        target.close();  // and the destructor: closed once, nothing reported
    }
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(readFile(file), kEmptyScene + "\ngroup \"g\" {\n}\n");
}

TEST(FileFactory, UnopenablePathsThrowWithThePathAndFullDisksAreReported) {
    TempDir dir;
    const std::pair<std::string, int> cases[] = {
        {utf8(dir.path() / "no such folder" / "x.rmq"), ENOENT},
#ifdef _WIN32
        {utf8(dir.path()), EACCES},
#else
        {dir.path().string(), EISDIR},
#endif
        // Bytes that are not UTF-8 cannot name a file on a wide-character system.
        {utf8(dir.path()) + "/bad\xff\xfe.rmq", EILSEQ},
    };
    for (const auto& [path, error] : cases) {
        CaptureStderr();
        EXPECT_THAT([&] { vex::LightFileFactory target(path); },
                    testing::ThrowsMessage<std::runtime_error>(
                        testing::StrEq("could not open file: \"" + path + "\"")));
        EXPECT_EQ(GetCapturedStderr(), "opening file: " + std::string(std::strerror(error)) + "\n");
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
#ifndef _WIN32
    // A full disk is reported, not left silently short.
    for (bool viaClose : {true, false}) {  // the destructor reports it without throwing
        CaptureStderr();
        {
            vex::LightFileFactory target("/dev/full");
            vex::vexSceneapi_oo out(target);
            out.api()->set_mode(1);
            out.set_int_array("triangles", std::vector<int>(100000, 7));
            if (viaClose) {
                EXPECT_THAT([&] { target.close(); }, testing::ThrowsMessage<std::runtime_error>(
                                                         testing::StrEq("could not close file")));
            }
        }
        EXPECT_EQ(GetCapturedStderr(), "closing file: No space left on device\n");
    }
#endif
}

// "-" sends only the scene to standard output, even as its descriptor 0 (standard input
// closed). Text printed to standard output after "-" took it over lands on standard error,
// after what was printed there before. Text printed before is still in stdio's buffer here,
// because standard output is a pipe, and goes to standard error first; the Windows C library
// writes it through at each call, so it has left already.
TEST(FileFactory, DashSendsOnlyTheSceneToStandardOutputUnchanged) {
    TempDir dir;
    const fs::path err = dir.path() / "stderr";
#ifdef _WIN32
    const auto r = runCommand(shellQuote(STDOUT_SCENE_PROGRAM) + " 2>" + shellQuote(err.string()));
    EXPECT_EQ(r.out, "printed before the scene\r\n" + kEmptyScene);
    EXPECT_EQ(readFile(err), "on standard error\r\nprinted during the scene\r\n");
#else
    const auto r =
        runCommand(shellQuote(STDOUT_SCENE_PROGRAM) + " 2>" + shellQuote(err.string()) + " <&-");
    EXPECT_EQ(r.out, kEmptyScene);
    EXPECT_EQ(readFile(err),
              "printed before the scene\non standard error\nprinted during the scene\n");
#endif
    EXPECT_EQ(r.status, 0);
    // The sample tool's scene, to a file and to standard output: binary array blocks hold
    // every byte value, line ends among them, and must arrive unchanged through a pipe.
    const std::string file = (dir.path() / "sample.rmq").string();
    const std::string tool = shellQuote(RMQ_SAMPLE);
    const std::string quiet = std::string(" 2>") + kNullDevice;
    const std::string sample =
        readFile(std::string(VEX_SOURCE_DIR) + "/tests/sceneapi/data/sample.rmq");
    for (const std::string flags : {" ", " --binary "}) {
        ASSERT_EQ(runCommand(tool + flags + shellQuote(file)).status, 0);
        const auto r = runCommand(tool + flags + "-" + quiet);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, readFile(file)) << flags;
    }
    EXPECT_EQ(runCommand(tool + " -" + quiet).out, sample);
    EXPECT_EQ(runCommand(tool + quiet).status, 2);
    EXPECT_EQ(runCommand(tool + " --bogus x" + quiet).status, 2);
#ifndef _WIN32
    EXPECT_EQ(runCommand(tool + " /dev/full" + quiet).status, 1);
#endif
}

TEST(FileFactory, NumericLocaleIsCWhileWritingAndRestoredAfter) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8"))
        GTEST_SKIP() << "no German locale, with its decimal comma, on this machine";
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    EXPECT_EQ(written([](vex::vexSceneapi_oo& out) {
                  out.api()->print_formatted("%g %.2f\n", 0.5, 1.25);
                  out.set_double("d", 0.5);
                  out.set_float("f", 0.5f);
                  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
              }),
              "0.5 1.25\n\"d\" 0.5000000000000000,\n\"f\" 0.5,\n");
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), before);
    std::setlocale(LC_NUMERIC, "C");
}

// Captured text stays text, bytes with an explicit length make the buffer binary; log lines
// take outside text with control characters escaped, C1 ones included.
TEST(Text, CaptureBufferFlagAndLogEscapes) {
    CaptureBuffer b;
    b.append("ab");
    b.appendText("cd", 1);
    EXPECT_FALSE(b.binary);
    b.append("e\0f", 3);
    b.appendText("g", 1);
    EXPECT_TRUE(b.binary);
    EXPECT_EQ(std::string(b.data, static_cast<size_t>(b.length)), std::string("abce\0fg", 7));
    EXPECT_EQ(logText(std::wstring{L'\x1f', L' ', L'~', L'\x7f', L'\x80', L'\x9f', L'\xa0'}),
              "\\x1f ~\\x7f\\u{80}\\u{9f}\xc2\xa0");
}

}  // namespace
