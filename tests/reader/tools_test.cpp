// rmq-sample and rmq-inspect run as real processes: whole outputs compared with data/, and every
// way the command line or the file can be wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ReaderTestSupport.hpp"
#include "TestFiles.hpp"
#include "preview/Preview.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex::test {
namespace {

const std::string kData = VEX_SOURCE_DIR "/tests/reader/data/";

using Result = CaughtResult;

class Tools : public ::testing::Test {
  protected:
    std::string file(const std::string& name, const std::string& content) {
        writeFile(dir_ / name, content);
        return (dir_ / name).string();
    }
    Result run(const std::string& program, const std::vector<std::string>& args,
               const std::string& input = kNullDevice) {
        std::string command = shellQuote(program);
        for (const auto& a : args) command += " " + shellQuote(a);
        return runCaught(command + " <" + shellQuote(input), dir_ / "err");
    }
    Result inspect(const std::vector<std::string>& args, const std::string& input = kNullDevice) {
        return run(RMQ_INSPECT, args, input);
    }

    TempDir dir_;
};

// The sample scene, written in text and binary form by rmq-sample: its tree, and its summary.
TEST_F(Tools, SampleReadsBackToItsTreeAndSummary) {
    const std::string path = (dir_ / "sample.rmq").string();
    for (const bool binary : {false, true}) {
        const Result s = run(RMQ_SAMPLE, binary ? std::vector<std::string>{"--binary", path}
                                                : std::vector<std::string>{path});
        ASSERT_EQ(s.status, 0) << s.err;
        if (!binary) {
            std::string tree = readertest::show(parseFile(path));
            tree.replace(tree.find(wrapperBanner()), wrapperBanner().size(), "BANNER");
            EXPECT_EQ(tree, readFile(kData + "sample.tree"));
        }
        const Result r = inspect({"--tree", path});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "file: " + path + readFile(kData + "sample.txt").substr(13));
    }
}

// Read from standard input: the text and JSON summaries; #error statements give exit status 1.
TEST_F(Tools, InspectSummarisesAsTextAndJson) {
    for (const char* golden : {"scene.txt", "scene.json"}) {
        const Result r =
            inspect({golden[6] == 'j' ? "--json" : "--tree", "--tree", "-"}, kData + "scene.rmq");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, readFile(kData + golden));
    }
    // Binary blocks holding CR LF and the byte that ends a text stream on Windows.
    std::string block(
        "\x01\x02\x03"
        "c\x06\0\0\0",
        8);
    for (int k = 0; k < 6; ++k) block += k % 2 ? "\x1a\x1a\x1a\x1a" : "\x0d\x0a\x0d\x0a";
    const std::string blocks =
        file("blocks.rmq", "object \"o\" {\n geometry \"triangle_mesh\" {\n  \"vertices\" [ " +
                               block + " ] ,\n }\n}\n");
    const Result fromFile = inspect({"--tree", blocks}),
                 fromPipe = inspect({"--tree", "-"}, blocks);
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_EQ(fromPipe.out, "file: <stdin>" + fromFile.out.substr(fromFile.out.find('\n')));
    EXPECT_NE(fromPipe.out.find("vertices: 2\n"), std::string::npos) << fromPipe.out;
}

// Wrong command lines and files: exit status 2, the fault on standard error, nothing printed.
TEST_F(Tools, FaultsGiveExitTwoAndTheirMessage) {
    const std::string path = (dir_ / "b.rmq").string();
    ASSERT_EQ(run(RMQ_SAMPLE, {"--binary", path}).status, 0);
    const std::string sample = readFile(path);
    const std::string png = (dir_ / "p.png").string(), box = kData + "scene.rmq";
    struct Case {
        std::vector<std::string> args;
        std::string input, err;  // a piece of standard error
    };
    std::vector<Case> cases = {
        {{}, kNullDevice, "no FILE given"},
        {{"--frobnicate", "x"}, kNullDevice, "unknown option '--frobnicate'"},
        {{"a", "b"}, kNullDevice, "more than one FILE"},
        {{(dir_ / "missing.rmq").string()},
         kNullDevice,
         "missing.rmq: cannot open: No such file or directory"},
        {{dir_.path().string()}, kNullDevice, "rmq-inspect: "},  // opens, but cannot be read
        {{"-"}, file("bad.rmq", "}\n"), "rmq-inspect: <stdin>:1: '}' without an open block\n"},
        {{file("t.rmq", sample.substr(0, sample.find("\x01\x02\x03") + 12))},
         kNullDevice,
         "truncated binary block"},
        {{file("brace.rmq", "version 9\ngroup \"a\" {\n")},
         kNullDevice,
         "brace.rmq:3: unexpected end of input: 'group' block opened at line 2"},
#ifdef _WIN32
        // The Windows build has no image library: a picture is refused.
        {{"--png", png, box},
         kNullDevice,
         "rmq-inspect: " + png + ": PNG and JPEG files are not available in this build\n"},
#else
        {{"--size", "5x5", box}, kNullDevice, "usage: rmq-inspect"},
        {{box, "--png"}, kNullDevice, "usage: rmq-inspect"},
        {{"--png", (dir_ / "no/such/folder.png").string(), box},
         kNullDevice,
         "cannot create " + (dir_ / "no/such/folder.png").string()},
#endif
    };
#ifndef _WIN32  // --size is checked before anything is read
    for (const char* size : {"0x10", "10x0", "8193x10", "10x8193", "99999999999x10", "-5x5", "+5x5",
                             "5x5x5", "x5", "5", " 5x5"})
        cases.push_back({{"--png", png, "--size", size, box}, kNullDevice, "usage: rmq-inspect"});
#endif
    for (const auto& c : cases) {
        const Result r = inspect(c.args, c.input);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.out, "") << c.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    const Result help = inspect({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out,
                testing::AllOf(testing::StartsWith("usage: rmq-inspect [--tree] [--json] "
                                                   "[--png PICTURE.png [--size WxH]] FILE|-\n"),
                               testing::HasSubstr("Exit status: 0")));
}

#ifndef _WIN32
// --png renders any scene file at the size asked and says what was drawn.
TEST_F(Tools, InspectRendersPictures) {
    const std::string png = (dir_ / "box.png").string();
    const std::string scene =
        file("box.rmq",
             "object \"Quad\" {\n geometry \"triangles\" {\n  \"vertices\" [ 0 0 0,1 0 0,1 1 0,0 1 "
             "0,5 5 5 ] ,\n  \"triangles\" [ 0,1,2,0,2,3,4,4,4 ] ,\n }\n}\n");
    for (const auto& [size, w, h] :
         {std::tuple{"64x48", 64, 48}, {"1x1", 1, 1}, {"8192x2", 8192, 2}}) {
        const Result r = inspect({"--png", png, "--size", size, scene});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(r.out.find("picture")),
                  "picture: \"" + png + "\" " + size +
                      ": 1 object, 2 triangles, default view; left out: 1 bad triangle\n");
        EXPECT_EQ(preview::readPng(png).width * 10000 + preview::readPng(png).height,
                  w * 10000 + h);
    }
    const Result r = inspect({"--json", "--png", png, scene});
    EXPECT_NE(r.out.find("\"picture\": {\"file\": \"" + png +
                         "\", \"width\": 1024, \"height\": 768, \"drawn\": \"1 object"),
              std::string::npos)
        << r.out;
}
#endif

}  // namespace
}  // namespace vex::test
