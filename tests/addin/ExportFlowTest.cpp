// The export command end to end: fusion-host loads the add-in, clicks the export button,
// and the scene file is checked byte-exact in parts and through rmq-inspect.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "AddinTestSupport.hpp"

namespace fs = std::filesystem;

namespace {

using addintest::readFile;
using addintest::Result;
using addintest::run;

class ExportFlow : public ::testing::Test {
  protected:
    std::string host(const std::string& args) {
        return std::string(FUSION_HOST) + " --addin " + ADDIN_LIBRARY + " --design " +
               VEX_SOURCE_DIR + "/examples/sample-assembly.json " + args;
    }
    addintest::ScratchDir scratch_;
    const fs::path& dir_ = scratch_.path();
};

TEST_F(ExportFlow, SampleAssemblyIsExportedCompletelyAndEverythingReleased) {
    const fs::path file = dir_ / "cart.rmq";
    const Result r = run(host("--audit --export " + file.string()));
    ASSERT_EQ(r.status, 0) << r.out;
    // Only what the add-in keeps by design stays held after the flow.
    EXPECT_NE(r.out.find("audit after export: references: adsk::core::Application 2, "
                         "adsk::core::UserInterface 2; arrays: none"),
              std::string::npos)
        << r.out;
    const std::string scene = readFile(file);
    EXPECT_EQ(scene.rfind("//---corvan:dal:7---\n//---import:dal:1---\n//---id:1---\n", 0), 0u);
    // Millimetres: meter scale 1000, translations in centimetres times 10.
    EXPECT_NE(scene.find(" \"import_up_vector\" 1,\n \"meter_scale\" 1000,\n"), std::string::npos);
    EXPECT_NE(scene.find("\ngroup \"Sample Cart\" {\n\n group \"Sample Cart\" {\n  flags 32769\n"),
              std::string::npos);
    EXPECT_NE(scene.find("transform 1 0 0 0 0 1 0 0 0 0 1 0 -200 40 0 1\n"), std::string::npos);
    // The hidden body is an empty group with its flag word.
    EXPECT_NE(scene.find("group \"Cover\" {\n   flags 33793\n  }\n"), std::string::npos) << scene;
    const Result inspect = run(std::string(RMQ_INSPECT) + " --json " + file.string());
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_NE(inspect.out.find("\"triangles\": 134"), std::string::npos) << inspect.out;
    EXPECT_NE(inspect.out.find("\"errors\": []"), std::string::npos);
}

TEST_F(ExportFlow, TwoExportsInARowWriteTheSameFile) {
    const fs::path a = dir_ / "a.rmq", b = dir_ / "b.rmq";
    const Result r = run(host("--export " + a.string() + " --export " + b.string()));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(a), readFile(b));
    EXPECT_GT(readFile(a).size(), 1000u);
}

TEST_F(ExportFlow, CancelWritesNothing) {
    const fs::path file = dir_ / "never.rmq";
    const Result r = run(host("--cancel --export " + file.string()));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ExportFlow, UnwritablePathsFailTheClick) {
    const Result missing = run(host("--export " + (dir_ / "no" / "x.rmq").string()));
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.out.find("opening file: No such file or directory"), std::string::npos)
        << missing.out;
    EXPECT_NE(missing.out.find("could not open file: \""), std::string::npos) << missing.out;
#ifndef _WIN32
    // A full disk ends the flow with an error instead of a silently short file.
    const Result full = run(host("--export /dev/full"));
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.out.find("closing file: No space left on device"), std::string::npos)
        << full.out;
    EXPECT_NE(full.out.find("could not close file"), std::string::npos) << full.out;
#endif
}

TEST_F(ExportFlow, StandardOutputReceivesOnlyTheSceneAsInTheFile) {
    const fs::path file = dir_ / "cart.rmq";
    ASSERT_EQ(run(host("--export " + file.string())).status, 0);
    const vex::test::CommandResult r =
        vex::test::runCommand(host("-v --export -") + " 2>" + vex::test::kNullDevice);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(file));
}

// A file name of any script, as the host hands it over in UTF-8.
TEST_F(ExportFlow, NonAsciiFileNames) {
    const std::string name = "Wagen f\xc3\xbcr \xe6\xb8\xb2\xe6\x9f\x93.rmq";
    const fs::path file = dir_ / fs::path(std::u8string(name.begin(), name.end()));
    const std::u8string utf8 = file.u8string();
    const Result r =
        run(host("--export " + vex::test::shellQuote(std::string(utf8.begin(), utf8.end()))));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(file).rfind("//---corvan:dal:7---\n", 0), 0u);
}

#ifndef VEX_HOST_NO_ASSIMP
// Real models from Debian's assimp-testmodels: every triangle the host imports reaches the file.
TEST_F(ExportFlow, ImportedModelsKeepTheirTriangleCounts) {
    const std::string models = "/usr/share/assimp/models/";
    for (const std::string model : {"OBJ/box.obj", "OBJ/WusonOBJ.obj", "STL/Spider_ascii.stl"}) {
        if (!fs::exists(models + model)) {
            ADD_FAILURE() << "missing test model " << model;
            continue;
        }
        const fs::path file = dir_ / "model.rmq";
        const Result r = run(std::string(FUSION_HOST) + " --addin " + ADDIN_LIBRARY + " --design " +
                             models + model + " -v --export " + file.string());
        ASSERT_EQ(r.status, 0) << r.out;
        // The host narrates "design ...: ... N triangles".
        const size_t at = r.out.find(" triangles\n");
        ASSERT_NE(at, std::string::npos) << r.out;
        const size_t start = r.out.rfind(' ', at - 1) + 1;
        const std::string count = r.out.substr(start, at - start);
        const Result inspect = run(std::string(RMQ_INSPECT) + " --json " + file.string());
        EXPECT_EQ(inspect.status, 0) << inspect.out;
        EXPECT_NE(inspect.out.find("\"triangles\": " + count + ","), std::string::npos)
            << model << " host: " << count << "\n"
            << inspect.out;
        if (model == "OBJ/box.obj") {
            EXPECT_EQ(count, "12");
        }
    }
}

#endif

}  // namespace
