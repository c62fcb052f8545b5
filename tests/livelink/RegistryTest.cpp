// The installation lookup against the registry and the start of the renderer.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <regex>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/ProcessPlatform.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;
namespace reg = vex::platform;
using Chosen = std::pair<std::string, int>;

const InstallationRegistry& registry() {
    return InstallationRegistry::instance();
}
const fs::path kProbe = buildPath(PROBE_PATH), kData = buildPath(DATA_DIR);

void expectNoChildren() {
#ifndef _WIN32
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child (or zombie) was left behind";
    EXPECT_EQ(errno, ECHILD);
#endif
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { vex::log_test::closeLogFile(); }
    void TearDown() override { vex::log_test::closeLogFile(); }

    // The bin folder chosen for the range, with its version (-1 when none).
    static Chosen chosen(int minVersion = 11, int maxVersion = 12) {
        int version = -1;
        const std::wstring folder = registry().binFolder(minVersion, maxVersion, &version);
        return {*reg::utf8FromWide(folder), version};
    }

    TempDir dir_;
    TestHives hives_;
    const Installation v11_{dir_, 11}, v12_{dir_, 12};
};

// Per hive the active path, then the version value, then the scan from the highest version
// down; across hives the higher version, the current user on a tie.
TEST_F(RegistryTest, ChoiceOfTheInstallation) {
    const Installation v12b(dir_, 12, "b");
    const std::string both = v11_.records(kCU) + v12_.records(kCU), base = section(kCU, "");
    const std::string named = value("RayMintVersion", "\"RayMint 11\"");
    auto active = [&](const std::string& folder) {
        return base + value("RayMintActivePath", regString((dir_ / folder).string()));
    };
    const struct {
        std::string user, machine;
        int min, max;
        Chosen chosen;
    } cases[] = {
        {v12_.records(kCU), v11_.records(kLM), 11, 12, {v12_.bin.string(), 12}},
        {v11_.records(kCU), v12_.records(kLM), 11, 12, {v12_.bin.string(), 12}},
        {v12b.records(kCU), v12_.records(kLM), 11, 12, {v12b.bin.string(), 12}},
        {v12b.records(kCU), v12_.records(kLM), 11, 11, {"", -1}},
        {active("RayMint 11/") + both, "", 11, 12, {v11_.bin.string(), 11}},
        {base + named + both, "", 11, 12, {v11_.bin.string(), 11}},
        {active("RayMint 12") + named + both, "", 11, 12, {v12_.bin.string(), 12}},
        {active("RayMint 12") + both, "", 11, 11, {v11_.bin.string(), 11}},
        {base + value("RayMintVersion", "\"RayMint\"") + both, "", 11, 12, {v12_.bin.string(), 12}},
        {both, "", 5, 10, {"", -1}},
        {both, "", 12, 11, {"", -1}},
    };
    for (const auto& c : cases) {
        hives_.user(c.user);
        hives_.machine(c.machine);
        EXPECT_EQ(chosen(c.min, c.max), c.chosen) << c.user << c.machine;
    }
    fs::remove(v12_.binName);
    EXPECT_EQ(chosen().second, 11) << "nothing is cached";
}

// The active path's number saturates rather than wrapping to 11; a path needs a separator
// after the number and the character before it, or it gives -1.
TEST(VersionNumbers, FromTheVersionValueAndTheActivePath) {
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint  7x"), 7);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint 4294967307"), INT_MAX);
    for (auto [text, version] : std::initializer_list<std::pair<const wchar_t*, int>>{
             {L"C:\\Corvan\\RayMint 11\\", 11},
             {L"/opt/RayMint/", -1},
             {L"RayMint 11", -1},
             {L"/usr/11", -1},
             {L"/opt/raymint11/bin", 0},
             {L"/x/RayMint 99999999999/", INT_MAX}}) {
        EXPECT_EQ(InstallationRegistry::versionFromActivePath(text), version) << narrow(text);
    }
}

// One installation key per version in data/lookup.reg: texts of every stored type, the
// buffers of the search (2048 bytes) and of the callers (520 bytes, 512 for port texts),
// invalid paths, ports as numbers, texts and neither. The whole answer is data/lookup.txt.
TEST_F(RegistryTest, ValuesOfEveryKindAndSize) {
    const Installation v1(dir_, 1);
    const std::string exe = v1.binName.string(), res = v1.resources.string();
    // `text` as UTF-16LE bytes with a NUL, stored under `type`.
    auto stored = [](const std::string& type, const std::string& text) {
        std::string out = "hex(" + type + ")";
        char byte[8];
        for (char c : text + '\0') {
            std::snprintf(byte, sizeof byte, "%c%02x,00", out.back() == ')' ? ':' : ',', c);
            out += byte;
        }
        return out;
    };
    std::string longest = res;  // the padding "/." keeps naming the same directory
    while (longest.size() + 2 <= 1023) longest += "/.";
    longest.resize(1023, '/');
    std::string records = readFile(kData / "lookup.reg");
    for (const auto& [from, to] : {std::pair("@EXE_EXPAND@"s, stored("2", exe)),
                                   {"@RES_BINARY@", stored("0", res)},
                                   {"@RES_1023@", regString(longest)},
                                   {"@RES_1024@", regString(longest + "/")},
                                   {"@EXE@", regString(exe)},
                                   {"@RES@", regString(res)}}) {
        records = replaced(records, from, to);
    }
    hives_.user(records);
    std::string answers;
    for (int v = 1; v <= 28; ++v) {
        int first = -1, last = -1;
        const int status = registry().liveLinkPorts(v, v, first, last);
        const auto [folder, found] = chosen(v, v);
        answers += std::to_string(v) + ": " + std::to_string(found) + " [" + folder + "] [" +
                   narrow(registry().binName(v, v)) + "] [" +
                   narrow(registry().resourceFolder(v, v)) + "] ports " + std::to_string(status) +
                   " " + std::to_string(first) + " " + std::to_string(last) + "\n";
    }
    EXPECT_EQ(replaced(replaced(answers, exe, "@EXE@"), res, "@RES@"),
              readFile(kData / "lookup.txt"));
    reg::RegKey key = nullptr;
    int found = 99;
    EXPECT_EQ(registry().findInstallationKey(30, 40, key, found), 1168);
    EXPECT_EQ(std::pair(key, found), std::pair(reg::RegKey(nullptr), 99)) << "left as it was";
    ASSERT_EQ(registry().findInstallationKey(3, 3, key, found), 0);
    EXPECT_EQ(found, 3);
    EXPECT_EQ(reg::regCloseKey(key), 0);
}

// Starts detached, without arguments, with the caller's environment and current
// directory, and on POSIX in a session of its own with none of the host's files, a clean
// signal state, and no child left behind, as the renderer expects.
TEST_F(RegistryTest, LaunchStartsTheExecutableAsTheRendererExpects) {
    ProbeReport probe(dir_);
    ScopedEnv mark("VEX_PROBE_MARK", "inherited environment");
    EXPECT_FALSE(registry().launchRenderer(11, 12)) << "no installation";
    hives_.user(section(kCU, "RayMint 11") + value("BinName", regString(kProbe.string())) +
                value("ResourceFolder", regString(v11_.resources.string())));
    std::string expected =
        "1 " + kProbe.string() + " " + fs::current_path().string() + " inherited environment ";
#ifdef _WIN32
    // The system makes the command line from the application name (Wine quotes it).
    expected += "\"" + kProbe.string() + "\"";
    ASSERT_TRUE(registry().launchRenderer(11, 12));
#else
    expected += "/dev/null,/dev/null,/dev/null, SIGTERM unblocked, SIGPIPE default";
    const int hostFile = ::dup(STDERR_FILENO);  // open and inheritable
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    struct sigaction ignore {
    }, previousPipe{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previousPipe);
    const bool started = registry().launchRenderer(11, 12);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(hostFile);
    ASSERT_TRUE(started);
#endif
    expectNoChildren();
    auto report = probe.report();
    EXPECT_EQ(report["started"], expected);
#ifndef _WIN32
    EXPECT_NE(report["ppid"], std::to_string(::getpid()));
    EXPECT_NE(report["sid"], std::to_string(::getsid(0)));
#endif
}

TEST(ProcessStart, WhatCannotBeExecutedIsNotReportedAsStarted) {
    TempDir dir;
    writeFile(dir / "plain", "not a program\n");
    writeFile(dir / "script", "#!/nonexistent/interpreter\n");
    fs::permissions(dir / "script", fs::perms::owner_all);
    for (const std::wstring& path :
         {(dir / "missing").wstring(), (dir / "plain").wstring(), dir.path().wstring(),
          (dir / "script").wstring(), std::wstring(), std::wstring(1, wchar_t{0xD800}),
          kProbe.wstring() + L'\0' + L"x"}) {  // an embedded NUL would start another program
        EXPECT_FALSE(vex::platform::startDetachedProcess(path)) << narrow(path);
    }
    expectNoChildren();
}

#ifndef _WIN32
// Each broken, hostile or odd hive file is reported once, in the log of the installation
// still found (here in the machine hive), and never blocks the lookup; the good keys and
// lines of a readable file still count.
TEST_F(RegistryTest, BrokenHiveFilesAreReportedAndIgnored) {
    const Installation v9(dir_, 9);
    hives_.machine(v9.records(kLM));
    const fs::path& cu = hives_.userFile();
    const std::string text = kHeader + v11_.records(kCU), ignored = "; the hive is ignored\n";
    std::string le = "\xff\xfe";
    for (char c : text) le += {c, '\0'};
    const struct {
        std::string bytes;
        int version;
        std::string report;  // the lines of the log
    } cases[] = {
        {text + readFile(kData / "broken.reg"), 11, readFile(kData / "broken.log")},
        {v11_.records(kCU), 9,
         "line 1: not a registry file (no \"Windows Registry Editor Version 5.00\")\n"},
        {text + "\"Z\"=\"\xff\xfe\xc0\x80\"\r\n", 9, "is not UTF-8 or UTF-16 text" + ignored},
        {text + "\"LiveLinkPort\"=\"1\0\"\r\n"s, 11, "line 8: NUL character\n"},
        {kHeader + value("BinName", "\"/bin/sh\"") + v11_.records(kCU), 11,
         "line 3: value outside any key\n"},
        {text + std::string(1u << 20, ';'), 9, "is larger than 1048576 bytes" + ignored},
        {kHeader, 9, ""},
        {le, 11, ""},
        {"\xef\xbb\xbf" + text, 11, ""},
        {le + "x", 9, "is not UTF-8 or UTF-16 text" + ignored},
        {"fifo", 9, "is not a regular file" + ignored},
        {"directory", 9, "is not a regular file" + ignored},
    };
    for (const auto& c : cases) {
        vex::log_test::closeLogFile();
        fs::remove(v9.resources / "sceneapi.log");
        fs::remove(v11_.resources / "sceneapi.log");
        fs::remove_all(cu);
        EXPECT_TRUE(c.bytes != "fifo" || ::mkfifo(cu.c_str(), 0600) == 0);
        if (c.bytes == "directory") fs::create_directory(cu);
        if (c.bytes != "fifo" && c.bytes != "directory") writeFile(cu, c.bytes);
        VEX_LOG(logINFO) << "probe";  // opens the log, so the lookup's reports are written
        EXPECT_EQ(chosen(5, 20).second, c.version) << c.report;
        std::string expected, line;
        for (std::istringstream lines(c.report); std::getline(lines, line);)
            expected += "ERROR:  registry file " + cu.string() + ": " + line + "\n";
        const fs::path log = fs::path(narrow(registry().resourceFolder(5, 20))) / "sceneapi.log";
        EXPECT_EQ(
            std::regex_replace(readFile(log), std::regex(".*INFO:  probe\n|\\S+ - \\S+ "), ""),
            expected);
    }
}
#endif  // !_WIN32

}  // namespace
