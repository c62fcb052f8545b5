// The export command end to end: fusion-host loads the add-in and clicks the export button; the
// scene file is compared whole with the one kept beside this test (data/), and every way the
// flow ends is checked in the program's status and messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "AddinTestSupport.hpp"

namespace fs = std::filesystem;

namespace {

using addintest::readFile;
using addintest::Result;
using addintest::run;

const std::string kSample = VEX_SOURCE_DIR "/examples/sample-assembly.json";

class ExportFlow : public ::testing::Test {
  protected:
    Result host(const std::string& args, const std::string& design = kSample) {
        return run(std::string(FUSION_HOST) + " --addin " + ADDIN_LIBRARY + " --design " + design +
                   " " + args);
    }
    addintest::ScratchDir dir_;
};

// The scene with texture file names reduced to the name of the file, wherever the sources lie.
std::string withoutFolders(std::string scene) {
    const std::string key = "\"texture\" \"";
    for (size_t at = 0; (at = scene.find(key, at)) != std::string::npos; at += key.size()) {
        const size_t start = at + key.size(), end = scene.find('"', start);
        const size_t slash = scene.find_last_of("/\\", end);
        if (slash != std::string::npos && slash > start) scene.erase(start, slash + 1 - start);
    }
    return scene;
}

// Millimetres: meter scale 1000, translations in centimetres times 10; the hidden body is an
// empty group with its flag word; the textured appearance links its texture shader.
TEST_F(ExportFlow, SampleAssemblyIsWrittenWholeTwiceAndEverythingReleased) {
    const fs::path a = dir_ / "a.rmq", b = dir_ / "b.rmq";
    const Result r = host("--audit --export " + a.string() + " --export " + b.string());
    ASSERT_EQ(r.status, 0) << r.out;
    // Only what the add-in keeps by design stays held after the flow.
    EXPECT_NE(r.out.find("audit after export: references: adsk::core::Application 2, "
                         "adsk::core::UserInterface 2; arrays: none"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(withoutFolders(readFile(a)),
              readFile(VEX_SOURCE_DIR "/tests/addin/data/sample-assembly.rmq"));
    EXPECT_EQ(readFile(b), readFile(a));
    // Standard output receives only the scene, as in the file.
    const vex::test::CommandResult out = vex::test::runCommand(
        std::string(FUSION_HOST) + " --addin " + ADDIN_LIBRARY + " --design " + kSample +
        " -v --export - 2>" + vex::test::kNullDevice);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.out, readFile(a));
    // A file name of any script, as the host hands it over in UTF-8.
    const std::string name = "Wagen f\xc3\xbcr \xe6\xb8\xb2\xe6\x9f\x93.rmq";
    const fs::path file = dir_.path() / fs::path(std::u8string(name.begin(), name.end()));
    const std::u8string utf8 = file.u8string();
    ASSERT_EQ(
        host("--export " + vex::test::shellQuote(std::string(utf8.begin(), utf8.end()))).status, 0);
    EXPECT_EQ(readFile(file), readFile(a));
}

#ifndef _WIN32
// A full disk ends the flow with an error instead of a silently short file. (Cancelled and
// unopenable files: AddInLifecycleTest.cpp and fusion-host's tests.)
TEST_F(ExportFlow, AFullDiskIsAnError) {
    const Result full = host("--export /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("closing file: No space left on device"), std::string::npos)
        << full.out;
    EXPECT_NE(full.out.find("could not close file"), std::string::npos) << full.out;
}
#endif

}  // namespace
