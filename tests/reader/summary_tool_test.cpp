// rmq-inspect run as a real process on files written by the writer.
#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <sstream>

#include "ReaderTestSupport.hpp"
#include "TestFiles.hpp"
#include "preview/Preview.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class RmqInspect : public ::testing::Test {
  protected:
    std::string file(const std::string& name, const std::string& content) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Writes a scene through the wrapper and the file target, as the export does.
    std::string scene(const std::string& name, bool binary, bool withError) {
        const std::string path = dir_ + "/" + name;
        vex::LightFileFactory target(path);
        {
            vex::vexSceneapi_oo out(target);
            out.api()->set_mode(binary ? 3 : 1);
            vexScene_api& api = *out.api();
            api.begin_load("import");
            out.set_bool("adjust_camera", false);
            out.set_double("scale", 0.1);
            api.end_load();
            api.begin_camera(nullptr);
            out.set_float("fov", 40);
            api.end_camera();
            out.begin_group("Root \"A\"");
            out.flags(5);
            api.begin_group("Sub\xc3\xa9", false);
            api.begin_object("Bolt", false);
            api.begin_geometry("triangle_mesh");
            std::vector<vex::vexSceneapi_oo::Float3> v(5, {0, 1, 2});
            out.set_float3_array("vertices", v);
            out.set_int_array("triangles", {0, 1, 2, 2, 3, 4, 0, 2, 4});
            api.end_geometry();
            api.end_object();
            api.end_group();
            api.begin_object("Bolt", true);
            api.use_material("steel");
            api.end_object();
            api.begin_object("Plate", true);
            const int metal = out.new_shader("metal");
            out.end_shader();
            api.begin_material("steel", false);
            api.shader_ref(0, metal);
            api.end_material();
            api.end_object();
            if (withError) {
                out.error("invalid mesh in \"Plate\" at\n\tsecond line");
                out.error("second error");
            }
            out.end_group();
        }
        target.close();
        return path;
    }

    Result run(const std::vector<std::string>& args,
               const std::string& input = vex::test::kNullDevice) {
        using vex::test::shellQuote;
        std::string command = shellQuote(RMQ_INSPECT);
        for (const auto& a : args) command += " " + shellQuote(a);
        const std::string err = dir_ + "/err";
        const vex::test::CommandResult c =
            vex::test::runCommand(command + " <" + shellQuote(input) + " 2>" + shellQuote(err));
        Result r{c.status, c.out, slurp(err)};
#ifdef _WIN32
        // The tool prints text lines, which end in CR LF there.
        for (std::string* text : {&r.out, &r.err})
            for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;)
                text->erase(at, 1);
#endif
        return r;
    }

    vex::test::TempDir temp_;
    std::string dir_ = temp_.path().string();
};

const char kSummaryTail[] =
    "camera\n"
    "  \"fov\" = 40\n"
    "groups: 2 (1 definitions)\n"
    "objects: 1 plain, 1 definitions, 1 instances\n"
    "geometries: 1\n"
    "triangles: 3\n"
    "vertices: 5\n"
    "materials: 1 (1 references)\n"
    "shaders: 1 defined, 0 captured\n";

TEST_F(RmqInspect, SummaryOfAWellFormedFileInTextAndBinary) {
    for (const bool binary : {false, true}) {
        const std::string path = scene(binary ? "b.rmq" : "t.rmq", binary, false);
        const Result r = run({path});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "file: " + path +
                             "\nformat version: 9\n"
                             "load \"import\"\n"
                             "  \"adjust_camera\" = off\n"
                             "  \"scale\" = 0.1\n" +
                             kSummaryTail + "errors: 0\n");
    }
}

TEST_F(RmqInspect, ErrorStatementsGiveExitOneAndTheirText) {
    const std::string path = scene("e.rmq", false, true);
    const Result r = run({path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("errors: 2\n"
                         "  #error \"invalid mesh in \\\"Plate\\\" at\\x0a\\x09second line\"\n"
                         "  #error \"second error\"\n"),
              std::string::npos)
        << r.out;
}

TEST_F(RmqInspect, TreeShowsGroupsObjectsNamesAndFlags) {
    const Result r = run({"--tree", scene("t.rmq", true, false)});
    EXPECT_EQ(r.status, 0);
    const std::string tree = r.out.substr(r.out.find("tree:\n"));
    EXPECT_EQ(tree,
              "tree:\n"
              "  group \"Root \\\"A\\\"\"  flags 5\n"
              "    #define group \"Sub\\xc3\\xa9\"\n"
              "      #define object \"Bolt\"\n"
              "    object \"Bolt\"\n"
              "    object \"Plate\"\n");
}

TEST_F(RmqInspect, JsonEscapesNamesAndCarriesTheSameCounts) {
    const std::string path = scene("j.rmq", false, true);
    const Result r = run({"--json", "--tree", path});
    EXPECT_EQ(r.status, 1);
    const std::string& o = r.out;
    EXPECT_EQ(o.substr(0, 2), "{\n");
    EXPECT_EQ(o.substr(o.size() - 2), "}\n");
    for (const char* piece : {
             "\"version\": 9,",
             "\"loads\": [{\"name\": \"import\", \"options\": {\"adjust_camera\": false, "
             "\"scale\": 0.1}}]",
             "\"cameras\": [{\"name\": null, \"options\": {\"fov\": 40}}]",
             "\"groups\": {\"total\": 2, \"definitions\": 1}",
             "\"objects\": {\"plain\": 1, \"definitions\": 1, \"instances\": 1}",
             "\"triangles\": 3,",
             "\"vertices\": 5,",
             "\"errors\": [\"invalid mesh in \\\"Plate\\\" at\\n\\tsecond line\", \"second "
             "error\"]",
             "{\"kind\": \"group\", \"define\": false, \"name\": \"Root \\\"A\\\"\", \"flags\": 5",
             "\"name\": \"Sub\xc3\xa9\"",
         })
        EXPECT_NE(o.find(piece), std::string::npos) << piece << "\nin\n" << o;
}

TEST_F(RmqInspect, JsonKeepsInvalidUtf8AndControlBytesValid) {
    const std::string path = file("n.rmq", "group xX41ff0122e282ac {\n}\n");
    const Result r = run({"--json", "--tree", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"name\": \"A\\u00ff\\u0001\\\"\xe2\x82\xac\""), std::string::npos)
        << r.out;
}

TEST_F(RmqInspect, MalformedFileGivesExitTwoAndNoSummary) {
    const std::string text = slurp(scene("m.rmq", true, false));
    const size_t block = text.find("\x01\x02\x03");
    ASSERT_NE(block, std::string::npos);
    const std::string truncated = file("trunc.rmq", text.substr(0, block + 12));
    Result r = run({truncated});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("rmq-inspect: " + truncated + ":", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("truncated binary block"), std::string::npos);

    r = run({file("brace.rmq", "version 9\ngroup \"a\" {\n")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("brace.rmq:3: unexpected end of input: 'group' block opened at line 2"),
              std::string::npos)
        << r.err;
}

TEST_F(RmqInspect, ReadsStandardInput) {
    const std::string path = scene("s.rmq", true, false);
    const Result r = run({"-"}, path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("file: <stdin>\nformat version: 9\n", 0), 0u);
    const Result bad = run({"-"}, file("bad.rmq", "}\n"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "rmq-inspect: <stdin>:1: '}' without an open block\n");
    // Binary blocks holding CR LF and the byte that ends a text stream on Windows.
    const std::string blocks = dir_ + "/blocks.rmq";
    {
        vex::LightFileFactory target(blocks);
        vex::vexSceneapi_oo out(target);
        out.api()->set_mode(3);
        out.api()->begin_object("o", false);
        out.api()->begin_geometry("triangle_mesh");
        const float crlf = std::bit_cast<float>(0x0a0d0a0du),
                    end = std::bit_cast<float>(0x1a1a1a1au);
        out.set_float3_array("vertices", {{crlf, end, crlf}, {end, crlf, end}});
        out.api()->end_geometry();
        out.api()->end_object();
    }
    const Result fromFile = run({"--tree", blocks}), fromPipe = run({"--tree", "-"}, blocks);
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    EXPECT_EQ(fromPipe.out, "file: <stdin>" + fromFile.out.substr(fromFile.out.find('\n')));
    EXPECT_NE(fromPipe.out.find("vertices: 2\n"), std::string::npos) << fromPipe.out;
}

TEST_F(RmqInspect, UsageErrorsAndHelp) {
    Result r = run({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no FILE given"), std::string::npos);
    EXPECT_NE(r.err.find("usage: rmq-inspect"), std::string::npos);
    r = run({"--frobnicate", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option '--frobnicate'"), std::string::npos);
    r = run({"a", "b"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("more than one FILE"), std::string::npos);
    r = run({dir_ + "/missing.rmq"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.rmq: cannot open: No such file or directory"), std::string::npos)
        << r.err;
    r = run({dir_});  // a directory opens but cannot be read
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: rmq-inspect [--tree] [--json] [--png PICTURE.png [--size WxH]] "
                          "FILE|-\n",
                          0),
              0u);
    EXPECT_NE(r.out.find("Exit status: 0"), std::string::npos);
}

#ifdef _WIN32
// The Windows build has no image library: a picture is refused, and nothing is printed.
TEST_F(RmqInspect, PngIsRefusedWithoutImageFiles) {
    const std::string path = file("empty.rmq", "");
    const std::string png = dir_ + "/box.png";
    const Result r = run({"--png", png, path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "rmq-inspect: " + png + ": PNG and JPEG files are not available in this build\n");
    EXPECT_EQ(r.out, "");
}
#else
// --png renders the scene into the file and says what was drawn; --size is checked before
// anything is read.
TEST_F(RmqInspect, PngRendersAnySceneFileAtTheSizeAsked) {
    const std::string path = file(
        "box.rmq",
        "group \"G\" {\n object \"Quad\" {\n  geometry \"triangles\" {\n   \"vertices\" [ 0 0 "
        "0,1 0 0,1 1 0,0 1 0,5 5 5 ] ,\n   \"triangles\" [ 0,1,2,0,2,3,4,4,4 ] ,\n  }\n }\n}\n");
    const std::string png = dir_ + "/box.png";
    for (const auto& [size, w, h] :
         {std::tuple{"64x48", 64, 48}, {"1x1", 1, 1}, {"8192x2", 8192, 2}}) {
        Result r = run({"--png", png, "--size", size, path});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string tail =
            "picture: \"" + png + "\" " + size +
            ": 1 object, 2 triangles, default view; left out: 1 bad triangle\n";
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail);
        const vex::preview::Image image = vex::preview::readPng(png);
        EXPECT_EQ(image.width, w);
        EXPECT_EQ(image.height, h);
    }
    Result r = run({"--json", "--png", png, path});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"picture\": {\"file\": \"" + png +
                         "\", \"width\": 1024, \"height\": 768, \"drawn\": \"1 object"),
              std::string::npos)
        << r.out;

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string> >{
             {"--png", png, "--size", "0x10", path},
             {"--png", png, "--size", "10x0", path},
             {"--png", png, "--size", "8193x10", path},
             {"--png", png, "--size", "10x8193", path},
             {"--png", png, "--size", "99999999999x10", path},
             {"--png", png, "--size", "-5x5", path},
             {"--png", png, "--size", "+5x5", path},
             {"--png", png, "--size", "5x5x5", path},
             {"--png", png, "--size", "x5", path},
             {"--png", png, "--size", "5", path},
             {"--png", png, "--size", " 5x5", path},
             {"--size", "5x5", path},
             {"--size", "1024x768", path},
             {path, "--png"},
         }) {
        r = run(args);
        EXPECT_EQ(r.status, 2) << args[args.size() - 2];
        EXPECT_NE(r.err.find("usage: rmq-inspect"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    r = run({"--png", dir_ + "/no/such/folder.png", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot create " + dir_ + "/no/such/folder.png"), std::string::npos)
        << r.err;
}

#endif

}  // namespace
