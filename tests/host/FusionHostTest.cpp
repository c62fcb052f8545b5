// fusion-host end to end, with the real add-in and with a test add-in that misbehaves:
// arguments, loading, actions in order, dialogs, failures of the add-in, refused designs and the
// reference audit, each run compared whole in its status and messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "HostTestSupport.hpp"

namespace {

using hosttest::Result;

const auto quote = vex::test::shellQuote;

Result host(const std::string& args, const std::string& addin = ADDIN_LIBRARY) {
    // (Standard error goes to a file of this test's own: ctest runs the tests side by side.)
    return hosttest::run(std::string(FUSION_HOST) + " --addin " + quote(addin) + " " + args,
                         testing::UnitTest::GetInstance()->current_test_info()->name());
}

const std::string kSample = " --design " + quote(VEX_SOURCE_DIR "/examples/sample-assembly.json");

// A design whose document name selects the test add-in's behaviour.
std::string named(const std::string& name) {
    return " --design " +
           quote(hosttest::write(name + ".json", "{\"document\": \"" + name +
                                                     "\", \"products\": [{\"type\": \"design\", "
                                                     "\"root\": \"r\", \"components\": [{\"name\": "
                                                     "\"r\"}]}]}"));
}

std::string fresh(const std::string& name) {
    std::filesystem::remove(hosttest::scratch(name));
    return hosttest::scratch(name).string();
}

TEST(FusionHost, RunsAreWholeInStatusAndMessages) {
    const std::string a = fresh("a.rmq"), b = fresh("b.rmq"), c = fresh("c.txt");
    // The loader keeps the real add-in mapped after unloading on Linux (it keeps its application
    // reference there); the test add-in is unloaded with everything it held.
#ifdef _WIN32
    const bool realUnloads = true;
#else
    const bool realUnloads = false;
#endif
    auto audit = [](const std::string& export_, const std::string& stop, bool unloaded) {
        const std::string a = "fusion-host: audit after ";
        return a + "export: references: " + export_ + "\n" + a + "stop: references: " + stop +
               "\n" + a + "unloading: references: " +
               (unloaded ? "none; arrays: none\n" : "adsk::core::Application 1; arrays: none\n");
    };
    const std::string one = "adsk::core::Application 1, adsk::core::UserInterface 1; arrays: none";
    const std::string two = "adsk::core::Application 2, adsk::core::UserInterface 2; arrays: none";
    const std::string stop = "adsk::core::Application 1; arrays: none";
    const std::string thrown =
        "fusion-host: exception std::runtime_error: test add-in failure "
        "(execute of rayMint11ExportCommandOnPanelCPP)\n";
    struct Case {
        std::string args, addin;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"--frobnicate", ADDIN_LIBRARY, 2,
         "fusion-host: unknown argument \"--frobnicate\"\ntry fusion-host --help\n"},
        {"--unit yd", ADDIN_LIBRARY, 2,
         "fusion-host: unknown unit \"yd\" (mm, cm, m, in or ft)\ntry fusion-host --help\n"},
        {"--export", ADDIN_LIBRARY, 2,
         "fusion-host: --export needs a value\ntry fusion-host --help\n"},
        // Each answer is for its click only: the cancelled click leaves no answer behind.
        {"--audit" + kSample + " --cancel --export " + a + " --export " + b, ADDIN_LIBRARY, 0,
         audit(two, stop, realUnloads)
             .insert(0, "fusion-host: audit after export: references: " + two + "\n")},
        // Without a design the handler finds no document.
        {"--audit --export " + c, ADDIN_LIBRARY, 0, audit(one, stop, realUnloads)},
        {"--audit" + named("message") + " --export " + c, TEST_ADDIN, 1,
         "fusion-host: message box: : Live link failed. Reason: \"test\"\n" +
             audit(one, stop, true)},
        // Both clicks reach the handler: the host goes on.
        {named("throw") + " --export " + c + " --export " + c, TEST_ADDIN, 1, thrown + thrown},
        // What the add-in keeps shows after each step; unloading releases it.
        {"--audit" + named("leak") + " --export " + c, TEST_ADDIN, 0,
         audit("adsk::core::Application 1, adsk::core::Document 1, adsk::core::UserInterface 1; "
               "arrays: none",
               "adsk::core::Application 1, adsk::core::Document 1; arrays: none", true)},
        // A host text never handed back is still held after unloading: a failure.
        {"--audit" + named("leak-array") + " --export " + c, TEST_ADDIN, 1,
         "fusion-host: audit after export: references: adsk::core::Application 1, "
         "adsk::core::UserInterface 1; arrays: char 1\nfusion-host: audit after stop: references: "
         "adsk::core::Application 1; arrays: char 1\nfusion-host: audit after unloading: "
         "references: none; arrays: char 1\nfusion-host: host references or arrays still held "
         "after the add-in was unloaded\n"},
    };
    for (const Case& k : cases) {
        const Result r = host(k.args, k.addin);
        EXPECT_EQ(r.status, k.status) << k.args;
        EXPECT_EQ(r.err, k.err) << k.args;
    }
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(hosttest::readFile(b).rfind("//---corvan:dal:7---\n", 0), 0u);
    EXPECT_EQ(hosttest::readFile(c), "document leak-array\n");
    EXPECT_NE(hosttest::run(std::string(FUSION_HOST) + " --help", "help").out.find("--export FILE"),
              std::string::npos);
}

TEST(FusionHost, MissingOrBrokenAddinLibrary) {
    const Result none = host("", "/nonexistent/libraymint_addin.so");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err,
              "fusion-host: add-in library not found: /nonexistent/libraymint_addin.so\n");
    const std::string junk = hosttest::write("junk.so", "not a library");
    const Result broken = host("", junk);
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.err.find("fusion-host: cannot load the add-in " + junk), std::string::npos)
        << broken.err;
    // Without its icon folders beside it the add-in gets no button, and the host says why.
    const std::filesystem::path alone = hosttest::scratch("alone");
    std::filesystem::create_directories(alone);
    // (Removed first: the Windows build's library does not overwrite.)
    std::filesystem::remove(alone / "addin.so");
    std::filesystem::copy_file(TEST_ADDIN, alone / "addin.so");
    const Result bare = host("", (alone / "addin.so").string());
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err,
              "fusion-host: host error: button definition rayMint11ExportCommandOnPanelCPP: "
              "resource folder \"./resources/export_command\" not found (" +
                  (alone / "resources" / "export_command").string() +
                  ")\nfusion-host: the add-in's run returned false; no action performed\n");
}

// A design the host refuses: exit status 2, the file and the place in the message, and neither
// export of the command line happens (a new file is not created, an old one keeps its bytes).
TEST(FusionHost, RefusedDesignExportsNothing) {
    const std::string created = fresh("created.rmq"), kept = hosttest::write("kept.rmq", "old");
    const std::string self = hosttest::write(
        "refused.json",
        "{\"document\": \"d\", \"products\": [{\"type\": \"design\", \"root\": \"r\", "
        "\"components\": [{\"name\": \"r\", \"occurrences\": [{\"component\": \"r\"}]}]}]}");
    const Result r =
        host("--design " + quote(self) + " --export " + quote(created) + " --export " + kept);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "fusion-host: " + self +
                         ": /products/0/components/0/occurrences/0/component: component \"r\" "
                         "places itself (occurrence cycle)\nfusion-host: nothing exported\n");
    EXPECT_FALSE(std::filesystem::exists(created));
    EXPECT_EQ(hosttest::readFile(kept), "old");
}

}  // namespace
