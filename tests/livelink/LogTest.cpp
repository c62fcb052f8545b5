// The log, pointed at a folder and a clock of the test's own.
#include <gtest/gtest.h>

#include <regex>

#include "LiveLinkTestSupport.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;

std::wstring g_folder;
int g_folderRequests = 0;
uint64_t g_tick = 0;
bool g_timeWorks = true;

std::wstring testFolder() {
    ++g_folderRequests;
    return g_folder;
}
bool fakeTimeOfDay(char* buffer, size_t size) {
    return std::snprintf(buffer, size, "21:07:09") > 0 && g_timeWorks;
}
// A statement made by the folder lookup itself, as a broken registry file is reported.
std::wstring reportingFolder() {
    VEX_LOG_AT(logERROR, 77) << "found while opening";
    return testFolder();
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vex::log_test::closeLogFile();
        setLogFolderSource(testFolder);
        g_folderRequests = 0;
        g_timeWorks = true;
        g_folder = dir_.path().wstring();
        g_tick = 5000;
        vex::log_test::setClock([] { return g_tick; }, fakeTimeOfDay);
    }
    void TearDown() override {
        vex::log_test::closeLogFile();
        vex::log_test::setClock(nullptr, nullptr);
        setLogFolderSource(nullptr);
    }
    std::string log() const { return readFile(dir_ / "sceneapi.log"); }

    TempDir dir_;
};

TEST_F(LogTest, WholeLog) {
    // What cannot be opened is reported on standard error at every statement. No folder:
    // nothing is logged. Either way every statement asks again until one is given.
    g_folder = (dir_ / "missing").wstring();
    ::testing::internal::CaptureStderr();
    VEX_LOG(logERROR) << "a";
    VEX_LOG(logERROR) << "a";
    const std::string once = "could not open log file:\nopening log: No such file or directory\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), once + once);
    g_folder.clear();
    VEX_LOG(logERROR) << "lost";
    VEX_LOG(logNONE) << "never, and asks nothing";
    VEX_LOG(logERROR) << "lost";
    EXPECT_EQ(g_folderRequests, 4);
    // A trailing separator names the same file.
    g_folder = dir_.path().wstring() + vex::platform::kPathSeparator;
    setLogFolderSource(reportingFolder);
    ASSERT_NE(Output2FILE::log_stream(), nullptr);
    FILELog().begin_line(logWARNING, "/home/dev/src/livelink/Loader.cpp", 42) << "text " << 7;
    g_tick += 1500;
    FILELog().begin_line(logERROR, "C:\\src\\win\\Module.cpp", 9) << std::string("a\0b", 3);
    for (int level = logINFO; level <= logNONE; ++level) {
        g_tick += 499;
        VEX_LOG_AT(static_cast<LogLevel>(level), level) << "level";
    }
    g_timeWorks = false;
    VEX_LOG_AT(logINFO, 5) << "m";
    EXPECT_EQ(g_folderRequests, 5) << "an open log is not looked up again";
    EXPECT_EQ(log(), onDisk("LogTest.cpp:77 - 21:07:09.000 ERROR:  found while opening\n"
                            "Loader.cpp:42 - 21:07:09.000 WARNING:  text 7\n"
                            "Module.cpp:9 - 21:07:09.500 ERROR:  a\0b\n"s
                            "LogTest.cpp:2 - 21:07:09.999 INFO:  level\n"
                            "LogTest.cpp:3 - 21:07:09.498 DEBUG:  level\n"
                            "LogTest.cpp:4 - 21:07:09.997 DEBUG1:  level\n"
                            "LogTest.cpp:5 - 21:07:09.496 DEBUG2:  level\n"
                            "LogTest.cpp:6 - 21:07:09.995 DEBUG3:  level\n"
                            "LogTest.cpp:7 - 21:07:09.494 DEBUG4:  level\n"
                            "LogTest.cpp:5 - Error in NowTime() INFO:  m\n"));
    vex::log_test::setClock(nullptr, nullptr);
    EXPECT_TRUE(std::regex_match(NowTime(), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.000")));
}

TEST_F(LogTest, BelowTwentyMebibytesIsAppendedFromThereOnReplaced) {
    for (uint64_t size : {kLogReplaceSize - 1, kLogReplaceSize, uint64_t{0}}) {
        vex::log_test::closeLogFile();
        writeFile(dir_ / "sceneapi.log", "OLD");
        fs::resize_file(dir_ / "sceneapi.log", size);  // sparse: no 20 MiB written
        VEX_LOG_AT(logINFO, 3) << "x";
        const std::string line = onDisk("LogTest.cpp:3 - 21:07:09.000 INFO:  x\n");
        const std::string text = log();
        const bool kept = size < 20971520u;
        EXPECT_EQ(text.size(), kept ? size + line.size() : line.size()) << size;
        EXPECT_EQ(text.substr(0, 3), size > 0 && kept ? "OLD" : line.substr(0, 3)) << size;
    }
}

TEST(LogText, OutsideTextIsEscapedOneCharacterAtATime) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"/opt/RayMint 11", "/opt/RayMint 11"},
        {L"a\nb\r\x1f\x7f", "a\\x0ab\\x0d\\x1f\\x7f"},
        {L"caf\u00e9 \u4e2d", "caf\xc3\xa9 \xe4\xb8\xad"},
        {std::wstring(1, wchar_t{0x10A}), "\xc4\x8a"},  // low byte a line feed: one character
        {std::wstring(1, wchar_t{0xD800}), "\\u{d800}"},
        {std::wstring(1, wchar_t{0x80}), "\\u{80}"},  // C1 controls
        {std::wstring(1, wchar_t{0x9F}), "\\u{9f}"},
        {std::wstring(1, wchar_t{0xA0}), "\xc2\xa0"},
    };
    for (const auto& [text, logged] : cases) EXPECT_EQ(logText(text), logged) << logged;
#ifndef _WIN32
    // Only a 32-bit wchar_t holds a number above U+10FFFF.
    EXPECT_EQ(logText(std::wstring(1, static_cast<wchar_t>(0x110000))), "\\u{110000}");
#endif
    EXPECT_EQ(logBytes("ok\xff\n"), "ok\\xff\\x0a");
    EXPECT_EQ(logBytes("\xc3\xa9\t"), "\xc3\xa9\\x09");
}

}  // namespace
