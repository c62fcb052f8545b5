// fusion-host end to end with the test add-in: loading, event dispatch, dialogs, failures and the
// reference audit.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostTestSupport.hpp"

namespace {

using hosttest::Result;

std::string quote(const std::string& s) {
    return "'" + s + "'";
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
    std::filesystem::copy_file(TEST_ADDIN, alone / "addin.so",
                               std::filesystem::copy_options::overwrite_existing);
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

TEST(FusionHost, BadDesignExportsNothing) {
    std::string out = fresh("bad.txt");
    std::string design = hosttest::write(
        "bad-index.json",
        "{\"document\": \"d\", \"products\": [{\"type\": \"design\", \"root\": \"r\", "
        "\"components\": [{\"name\": \"r\", \"bodies\": [{\"name\": \"B\", \"faces\": "
        "[{\"meshes\": [{\"coordinates\": [0,0,0], \"indices\": [0,0,1]}]}]}]}]}]}");
    Result r = host("--design " + quote(design) + " --export " + quote(out), "baddesign");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(
        r.err,
        "fusion-host: " + design +
            ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices/2: index 1 out of range: "
            "the mesh has 1 nodes\nfusion-host: nothing exported\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    Result model = host("--design /nonexistent/model.obj --export " + quote(out), "badmodel");
    EXPECT_EQ(model.status, 2);
    EXPECT_EQ(model.err,
              "fusion-host: /nonexistent/model.obj: cannot read: no such file\nfusion-host: "
              "nothing exported\n");
}

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

TEST(FusionHost, WithoutDesignTheHandlerFindsNoDocument) {
    std::string out = fresh("nodoc.txt");
    Result r = host("--audit --export " + quote(out), "nodoc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
