// fusion-host end to end with the test add-in: loading, event dispatch, dialogs, failures and the
// reference audit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HostTestSupport.hpp"

namespace {

using hosttest::Result;

std::string quote(const std::string& s) {
    return vex::test::shellQuote(s);
}

Result host(const std::string& args, const std::string& tag,
            const std::string& addin = TEST_ADDIN) {
    return hosttest::run(std::string(FUSION_HOST) + " --addin " + quote(addin) + " " + args, tag);
}

std::string sample() {
    return std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json";
}

std::string named(const std::string& name) {
    return hosttest::write(name + ".json",
                           "{\"document\": \"" + name +
                               "\", \"products\": [{\"type\": \"design\", "
                               "\"root\": \"r\", \"components\": [{\"name\": \"r\"}]}]}");
}

std::string fresh(const std::string& name) {
    auto path = hosttest::scratch(name);
    std::filesystem::remove(path);
    return path.string();
}

TEST(FusionHost, HelpAndBadArguments) {
    Result help = hosttest::run(std::string(FUSION_HOST) + " --help", "help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--export FILE"), std::string::npos);
    Result unknown = host("--frobnicate", "unknown");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err,
              "fusion-host: unknown argument \"--frobnicate\"\ntry fusion-host --help\n");
    Result unit = host("--unit yd", "unit");
    EXPECT_EQ(unit.status, 2);
    EXPECT_NE(unit.err.find("unknown unit \"yd\""), std::string::npos);
    Result missing = host("--export", "missingvalue");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("--export needs a value"), std::string::npos);
}

TEST(FusionHost, MissingOrBrokenAddinLibrary) {
    Result none = host("", "noaddin", "/nonexistent/libraymint_addin.so");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err,
              "fusion-host: add-in library not found: /nonexistent/libraymint_addin.so\n");
    std::string junk = hosttest::write("junk.so", "not a library");
    Result broken = host("", "junkaddin", junk);
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.err.find("fusion-host: cannot load the add-in " + junk), std::string::npos)
        << broken.err;
    // Without its icon folders beside it the add-in gets no button, and the host says why.
    const std::filesystem::path alone = hosttest::scratch("alone");
    std::filesystem::create_directories(alone);
    // (Removed first: the Windows build's library does not overwrite.)
    std::filesystem::remove(alone / "addin.so");
    std::filesystem::copy_file(TEST_ADDIN, alone / "addin.so");
    Result bare = host("", "bareaddin", (alone / "addin.so").string());
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err,
              "fusion-host: host error: button definition rayMint11ExportCommandOnPanelCPP: "
              "resource folder \"./resources/export_command\" not found (" +
                  (alone / "resources" / "export_command").string() +
                  ")\nfusion-host: the add-in's run returned false; no action performed\n");
}

TEST(FusionHost, ExportWritesThroughTheAddinAndAuditIsClean) {
    std::string out = fresh("sample.txt");
    Result r = host("--audit --design " + quote(sample()) + " --export " + quote(out), "export");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(hosttest::read(out),
              "file " + out +
                  "\ndocument Sample Cart v3\nunits mm\ncomponents 8\nbodies 9\n"
                  "triangles 146\nnodes 292\n");
    EXPECT_EQ(r.err,
              "fusion-host: audit after export: references: adsk::core::Application 1, "
              "adsk::core::UserInterface 1; arrays: none\n"
              "fusion-host: audit after stop: references: adsk::core::Application 1; arrays: none\n"
              "fusion-host: audit after unloading: references: none; arrays: none\n");
}

TEST(FusionHost, ActionsRunInOrderAndCancelAnswersOneDialog) {
    std::string a = fresh("first.txt"), b = fresh("second.txt");
    Result r = host(
        "--design " + quote(sample()) + " --cancel --export " + quote(a) + " --export " + quote(b),
        "cancel");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_NE(hosttest::read(b).find("triangles 146"), std::string::npos);
}

TEST(FusionHost, ExportToStandardOutputAndUnitOverride) {
    Result r = host("--design " + quote(sample()) + " --unit in --export -", "stdout");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("file -\ndocument Sample Cart v3\nunits in\n", 0), 0u) << r.out;
}

TEST(FusionHost, NarrationTellsTheClicks) {
    Result r = host("-v --design " + quote(sample()) + " --export -", "verbose");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"fusion-host: design \"Sample Cart v3\": 4 components, 7 occurrences, 9 bodies, 146 "
          "triangles\n",
          "fusion-host: control rayMint11ExportCommandOnPanelCPP added to workspace "
          "FusionRenderEnvironment panel RenderPanel\n",
          "fusion-host: click on rayMint11ExportCommandOnPanelCPP: execute event, 1 handler(s)\n",
          "fusion-host: save dialog (filter \"RayMint scene (*.rmq)\", folder "
          "\"%CSIDL_MYDOCUMENTS%\", name \"Sample Cart v3\") answered with \"-\"\n",
          "fusion-host: stop returned true\n"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n---\n" << r.err;
}

TEST(FusionHost, MessageBoxGivesFailureStatus) {
    std::string out = fresh("message.txt");
    Result r = host("--design " + quote(named("message")) + " --export " + quote(out), "message");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fusion-host: message box: : Live link failed. Reason: \"test\"\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(FusionHost, ExceptionOutOfHandlerIsSurvivedAndGivesFailureStatus) {
    std::string a = fresh("throw-a.txt");
    Result r = host("--design " + quote(named("throw")) + " --export " + quote(a) + " --export -",
                    "throw");
    EXPECT_EQ(r.status, 1);
    const std::string line =
        "fusion-host: exception std::runtime_error: test add-in failure (execute of "
        "rayMint11ExportCommandOnPanelCPP)\n";
    EXPECT_EQ(r.err, line + line);  // both clicks reached the handler: the host went on
}

TEST(FusionHost, AuditShowsWhatTheAddinKeeps) {
    Result r = host("--audit --design " + quote(named("leak")) + " --export -", "leak");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.err.find(
            "audit after export: references: adsk::core::Application 1, adsk::core::Document 1, "
            "adsk::core::UserInterface 1; arrays: none"),
        std::string::npos)
        << r.err;
    Result a = host("--audit --design " + quote(named("leak-array")) + " --export -", "leakarray");
    EXPECT_EQ(a.status, 1);
    EXPECT_NE(
        a.err.find(
            "audit after unloading: references: none; arrays: char 1\n"
            "fusion-host: host references or arrays still held after the add-in was unloaded\n"),
        std::string::npos)
        << a.err;
}

// A design the host refuses: exit status 2, the file and the place in the message, and neither
// export of the command line happens (a new file is not created, an old one keeps its bytes).
struct Hostile {
    std::string name;
    std::string file;  // written to the scratch folder; "/..." names a file that is not there
    std::string text;
    std::string message;  // after "fusion-host: FILE"
};

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

std::string design(const std::string& components, const std::string& top = "") {
    return "{\"document\": \"d\", " + top +
           "\"products\": [{\"type\": \"design\", \"root\": \"r\", \"components\": [" + components +
           "]}]}";
}

std::string meshDesign(const std::string& mesh, const std::string& top = "") {
    return design("{\"name\": \"r\", \"bodies\": [{\"name\": \"B\", \"faces\": [{\"meshes\": [" +
                      mesh + "]}]}]}",
                  top);
}

std::string placing(const std::string& transform) {
    return design("{\"name\": \"r\", \"occurrences\": [{\"component\": \"a\", \"transform\": " +
                  transform + "}]}, {\"name\": \"a\"}");
}

// Components r, c1, c2, ... each placing the next one `times` times.
std::string chain(int length, int times) {
    std::string components;
    for (int i = 0; i < length; ++i) {
        std::string occurrence = "{\"component\": \"c" + std::to_string(i + 1) + "\"}";
        std::string list = occurrence;
        for (int k = 1; k < times; ++k) list += ", " + occurrence;
        components += (i ? ", " : "") + std::string("{\"name\": \"") +
                      (i ? "c" + std::to_string(i) : "r") + "\", \"occurrences\": [" +
                      (i + 1 < length ? list : "") + "]}";
    }
    return design(components);
}

std::vector<Hostile> hostileDesigns() {
    const std::string mesh0 = ": /products/0/components/0/bodies/0/faces/0/meshes/0";
    const std::string occ0 = ": /products/0/components/0/occurrences/0";
    const int deep = 100000;
    // Each texture adds three levels: the property, its texture and the texture's properties.
    const int textures = deep / 3;
    return {
        {"index", "bad-index.json", meshDesign("{\"coordinates\": [0,0,0], \"indices\": [0,0,1]}"),
         mesh0 + "/indices/2: index 1 out of range: the mesh has 1 nodes"},
        {"number", "number.json", meshDesign("{\"box\": {\"min\": [0,0,0], \"max\": [1,1e400,1]}}"),
         mesh0 + "/box/max/1: number overflow parsing '1e400'"},
        {"cameranumber", "camera-number.json",
         design("{\"name\": \"r\"}", "\"camera\": {\"eye\": [-1e400, 0, 0]}, "),
         ": /camera/eye/0: number overflow parsing '-1e400'"},
        {"boxcorner", "box-corner.json",
         meshDesign("{\"box\": {\"min\": [-1e38,0,0], \"max\": [1,1,1]}}"),
         mesh0 + "/box/min/0: length out of range (at most 3.4e37 cm)"},
        {"boxunit", "box-unit.json",
         meshDesign("{\"box\": {\"min\": [0,0,0], \"max\": [1,1e36,1]}}",
                    "\"lengthUnit\": \"m\", "),
         mesh0 + "/box/max/1: length out of range (at most 3.4e37 cm)"},
        {"normal", "normal.json",
         meshDesign("{\"coordinates\": [0,0,0], \"normals\": [0,0,-1e39], \"indices\": []}"),
         mesh0 + "/normals/2: number out of float range"},
        {"cameraup", "camera-up.json",
         design("{\"name\": \"r\"}", "\"camera\": {\"up\": [0, 1e39, 0]}, "),
         ": /camera/up/1: number out of float range"},
        {"matrixcell", "matrix-cell.json", placing("[1e39,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1]"),
         occ0 + "/transform/0: number out of float range"},
        {"translation", "translation.json", placing("[1,0,0,0, 0,1,0,4e37, 0,0,1,0, 0,0,0,1]"),
         occ0 + "/transform/7: length out of range (at most 3.4e37 cm)"},
        {"scale", "scale.json", placing("{\"scale\": 1e39}"),
         occ0 + "/transform/scale: number out of float range"},
        {"deeptexture", "deep-texture.json",
         "{\"document\": \"d\", \"products\": [], \"appearances\": [{\"id\": \"a\", \"name\": "
         "\"A\", \"properties\": [" +
             repeat("{\"id\": \"p\", \"type\": \"color\", \"texture\": {\"properties\": [",
                    textures) +
             repeat("]}}", textures) + "]}]}",
         ": /appearances/0/properties/0" + repeat("/texture/properties/0", 332) +
             ": nested deeper than 1000 levels"},
        {"deeparray", "deep-array.json", repeat("[", deep) + repeat("]", deep),
         ": " + repeat("/0", 1000) + ": nested deeper than 1000 levels"},
        {"chain", "chain.json", chain(20000, 1),
         ": /products/0/components/1000/occurrences/0: occurrences nested deeper than 1000 "
         "levels"},
        {"self", "self.json",
         design("{\"name\": \"r\", \"occurrences\": [{\"component\": \"r\"}]}"),
         occ0 + "/component: component \"r\" places itself (occurrence cycle)"},
        {"doubling", "doubling.json", chain(25, 2),
         ": /products/0/components/0: component \"r\" places more than 1000000 occurrences, "
         "counted over every placement"},
#ifdef VEX_HOST_NO_ASSIMP
        {"objposition", "position.obj", "v 0 0 0\n",
         ": cannot read: this build opens only .json designs (no model import)"},
#else
        {"objposition", "position.obj", "v 0 0 0\nv 1 0 0\nv 0 1e39 0\nf 1 2 3\n",
         ": mesh 0, vertex 2: position out of range (at most 3.4e37 cm)"},
        {"nomodel", "/nonexistent/model.obj", "", ": cannot read: no such file"},
#endif
    };
}

class HostileDesign : public testing::TestWithParam<Hostile> {};

TEST_P(HostileDesign, IsRefusedWithFileAndPlaceAndNothingWritten) {
    const Hostile& c = GetParam();
    std::string file = c.file[0] == '/' ? c.file : hosttest::write(c.file, c.text);
    std::string created = fresh(c.name + ".rmq"),
                kept = hosttest::write(c.name + "-old.rmq", "old");
    Result r =
        host("--design " + quote(file) + " --export " + quote(created) + " --export " + quote(kept),
             "hostile-" + c.name);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "fusion-host: " + file + c.message + "\nfusion-host: nothing exported\n");
    EXPECT_FALSE(std::filesystem::exists(created));
    EXPECT_EQ(hosttest::read(kept), "old");
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileDesign, testing::ValuesIn(hostileDesigns()),
                         [](const testing::TestParamInfo<Hostile>& info) {
                             return info.param.name;
                         });

#ifndef VEX_HOST_NO_ASSIMP
TEST(FusionHost, ImportedModelsReachTheAddin) {
    Result spider = host("--unit mm --design " +
                             quote(std::string(ASSIMP_MODELS) + "/OBJ/spider.obj") + " --export -",
                         "spider");
    EXPECT_EQ(spider.status, 0) << spider.err;
    EXPECT_NE(spider.out.find("units mm\n"), std::string::npos) << spider.out;
    EXPECT_NE(spider.out.find("triangles 1368\n"), std::string::npos) << spider.out;
    Result box =
        host("--design " +
                 quote(std::string(ASSIMP_MODELS) + "/glTF2/BoxTextured-glTF/BoxTextured.gltf") +
                 " --export -",
             "gltf");
    EXPECT_EQ(box.status, 0) << box.err;
    EXPECT_NE(box.out.find("triangles 12\n"), std::string::npos) << box.out;
}

#endif

TEST(FusionHost, WithoutDesignTheHandlerFindsNoDocument) {
    std::string out = fresh("nodoc.txt");
    Result r = host("--audit --export " + quote(out), "nodoc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
