// The live-link library loader with test libraries built by this project: file names and
// their order, the entry point, reuse and release, and its log lines.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/raymintlive_loader.hpp"
#include "sceneapi/Log.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;

uint64_t fixedTicks() {
    return 777;
}
bool fixedTime(char* buffer, size_t size) {
    std::snprintf(buffer, size, "10:00:00");
    return true;
}

std::string pointerText(const void* p) {
    std::ostringstream out;
    out << p;
    return out.str();
}

std::string line(int number, const std::string& level, const std::string& message) {
    return "raymintlive_loader.cpp:" + std::to_string(number) + " - 10:00:00.000 " + level + ":  " +
           message;
}

const fs::path kFull = buildPath(LIVE_FULL);

// A handle of the library at `path` if it is loaded, null otherwise; close a non-null one.
void* loaded(const fs::path& path) {
    return loadedLibrary(path);
}

template <class T>
T hook(void* handle, const char* name) {
    void* symbol = librarySymbol(handle, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<T>(symbol);
}

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vex::log_test::closeLogFile();
        vex::log_test::setClock(fixedTicks, fixedTime);
        install(11);
    }
    void TearDown() override {
        vex_release_live_api();
        vex::log_test::closeLogFile();
        vex::log_test::setClock(nullptr, nullptr);
    }

    void install(int version) {
        fs::create_directories(bin_);
        fs::create_directories(resources_);
        writeFile(dir_ / "raymint", "#!/bin/sh\n");
        hives_.user(installationSection(kCU, version, dir_ / "raymint", resources_, bin_));
    }
    static void place(const fs::path& library, const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(library, as, fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> log() const { return logLines(resources_ / "sceneapi.log"); }

    TempDir dir_;
    fs::path bin_ = dir_ / "bin";
    fs::path resources_ = dir_ / "resources";
    fs::path lib64_ = bin_ / ("vexraymintlive6_64"s + kLibrarySuffix);
    fs::path lib32_ = bin_ / ("vexraymintlive6_32"s + kLibrarySuffix);
    TestHives hives_;
};

TEST_F(LoaderTest, SixtyFourBitFileOnlyIsLoadedFromTheBinFolder) {
    place(kFull, lib64_);
    vexScene_api* scene = vex_get_scene_api(11, 12);
    ASSERT_NE(scene, nullptr);
    void* handle = loaded(lib64_);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(static_cast<const void*>(scene),
              hook<const void* (*)()>(handle, "live_test_scene")());
    const void* root = hook<const void* (*)()>(handle, "live_test_root")();
    EXPECT_EQ(log(), (std::vector<std::string>{
                         line(153, "DEBUG4", bin_.string()),
                         line(218, "DEBUG4", "initialize shared handle: " + pointerText(handle)),
                         line(245, "DEBUG4", "Raymint live: " + pointerText(root)),
                     }));
    closeLibrary(handle);
}

TEST_F(LoaderTest, QueryInterfaceComesFromTheSameLoadedLibrary) {
    place(kFull, lib64_);
    ASSERT_NE(vex_get_scene_api(11, 12), nullptr);
    vexQuery_api* query = vex_get_query_api(11, 12);
    // Once loaded, the range is not looked at again.
    EXPECT_EQ(vex_get_query_api(30, 40), query);
    void* handle = loaded(lib64_);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(static_cast<const void*>(query),
              hook<const void* (*)()>(handle, "live_test_query")());
    EXPECT_EQ(hook<int (*)()>(handle, "live_test_init_calls")(), 1) << "loaded once";
    const auto lines = log();
    ASSERT_EQ(lines.size(), 5u);
    const std::regex state(
        "raymintlive_loader\\.cpp:282 - 10:00:00\\.000 DEBUG4:  "
        "vex_get_query_api -> raymint_live_loader: 0x[0-9a-f]+");
    EXPECT_TRUE(std::regex_match(lines[3], state)) << lines[3];
    EXPECT_EQ(lines[3], lines[4]);

    // Releasing destroys the root object with 1 and unloads the library.
    vex_release_live_api();
    EXPECT_EQ(hook<int (*)()>(handle, "live_test_destroy_calls")(), 1);
    EXPECT_EQ(hook<int (*)()>(handle, "live_test_last_destroy_flags")(), 1);
    closeLibrary(handle);
    EXPECT_EQ(loaded(lib64_), nullptr) << "still loaded after release";
    vex_release_live_api();  // nothing loaded: nothing happens

    // Nothing loaded: the query request logs the null state, then loads again.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    ASSERT_NE(vex_get_query_api(11, 12), nullptr);
    EXPECT_EQ(
        log().front(),
        line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: " + pointerText(nullptr)));
}

TEST_F(LoaderTest, ThirtyTwoBitNameIsTriedFirstAndABrokenFileIsPassedOver) {
    place(kFull, lib64_);
    place(kFull, lib32_);
    ASSERT_NE(vex_get_scene_api(11, 12), nullptr);
    void* h32 = loaded(lib32_);
    EXPECT_NE(h32, nullptr);
    EXPECT_EQ(loaded(lib64_), nullptr);
    if (h32 != nullptr) closeLibrary(h32);
    vex_release_live_api();

    // A file of another width, or no library at all, simply fails to load.
    writeFile(lib32_,
              "\x7f"
              "ELF but not really");
    ASSERT_NE(vex_get_scene_api(11, 12), nullptr);
    void* h64 = loaded(lib64_);
    EXPECT_NE(h64, nullptr);
    if (h64 != nullptr) closeLibrary(h64);
}

TEST_F(LoaderTest, LibraryInTheCurrentDirectory) {
    const fs::path cwd = dir_ / "cwd";
    place(kFull, cwd / lib64_.filename());
    writeFile(cwd / lib32_.filename(), "");
    const fs::path previous = fs::current_path();
    fs::current_path(cwd);
    vexScene_api* scene = vex_get_scene_api(11, 12);
    fs::current_path(previous);
    ASSERT_NE(scene, nullptr);
    void* handle = loaded(cwd / lib64_.filename());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(log().at(1), line(218, "DEBUG4", "initialize shared handle: " + pointerText(handle)));
    closeLibrary(handle);
}

TEST_F(LoaderTest, BeforeVersionSixTheNamesLackTheSixAndTheUnderscore) {
    install(5);
    place(kFull, bin_ / ("vexraymintlive64"s + kLibrarySuffix));
    place(kFull, lib64_);
    ASSERT_NE(vex_get_scene_api(5, 5), nullptr);
    void* old = loaded(bin_ / ("vexraymintlive64"s + kLibrarySuffix));
    EXPECT_NE(old, nullptr);
    EXPECT_EQ(loaded(lib64_), nullptr);
    if (old != nullptr) closeLibrary(old);
    EXPECT_EQ(liveLinkBaseName(5), L"vexraymintlive");
    EXPECT_EQ(liveLinkBaseName(6), L"vexraymintlive6_");
    EXPECT_EQ(liveLinkBaseName(-1), L"vexraymintlive");
}

TEST_F(LoaderTest, NoLibraryFile) {
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         line(153, "DEBUG4", bin_.string()),
                         line(218, "DEBUG4", "initialize shared handle: " + pointerText(nullptr)),
                         line(234, "WARNING", "NO shared handle"),
                     }));
    // The failed state was released, so the next request looks again.
    place(kFull, lib64_);
    EXPECT_NE(vex_get_scene_api(11, 12), nullptr);
}

TEST_F(LoaderTest, LibraryWithoutEntryPointOrWithANullRootIsReleasedAgain) {
    for (const fs::path& library : {buildPath(LIVE_NO_ENTRY), buildPath(LIVE_NULL_ENTRY)}) {
        vex::log_test::closeLogFile();
        fs::remove(resources_ / "sceneapi.log");
        place(library, lib64_);
        EXPECT_EQ(vex_get_scene_api(11, 12), nullptr) << library;
        EXPECT_EQ(loaded(lib64_), nullptr) << library << " was not released";
        const auto lines = log();
        ASSERT_EQ(lines.size(), 3u) << library;
        EXPECT_EQ(lines[0], line(153, "DEBUG4", bin_.string()));
        EXPECT_TRUE(std::regex_match(
            lines[1], std::regex("raymintlive_loader\\.cpp:218 - 10:00:00\\.000 DEBUG4:  "
                                 "initialize shared handle: 0x[0-9a-f]+")))
            << lines[1];
        EXPECT_EQ(lines[2], line(245, "DEBUG4", "Raymint live: " + pointerText(nullptr)));
        EXPECT_EQ(vex_get_query_api(11, 12), nullptr);
    }
}

TEST_F(LoaderTest, NoInstallationInTheRangeLoadsAndLogsNothing) {
    place(kFull, lib64_);
    EXPECT_EQ(vex_get_scene_api(12, 20), nullptr);
    EXPECT_EQ(loaded(lib64_), nullptr);
    EXPECT_FALSE(fs::exists(resources_ / "sceneapi.log"));
}

TEST_F(LoaderTest, HostileBinFolderIsLoggedOnOneLine) {
    // No such folder is needed: the folder is logged before anything is loaded from it.
    const fs::path odd = dir_ / "b\x1b[2Jin";
    hives_.user(installationSection(kCU, 11, dir_ / "raymint", resources_, odd));
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log().at(0), line(153, "DEBUG4", (dir_ / "b\\x1b[2Jin").string()));
}

}  // namespace
