// The installation lookup against hive files: version choice across the three ways and
// the two hives, validation, buffer limits, port rules, and broken or hostile files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/RegistryPlatform.hpp"
#include "sceneapi/Log.hpp"

namespace {

using namespace vex::test;
namespace reg = vex::platform;

const InstallationRegistry& registry() {
    return InstallationRegistry::instance();
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { vex::log_test::closeLogFile(); }
    void TearDown() override { vex::log_test::closeLogFile(); }

    void user(const std::string& body) { writeFile(cu_, kHeader + body); }
    void machine(const std::string& body) { writeFile(lm_, kHeader + body); }

    // The bin folder chosen for the range, with its version (-1 when none).
    std::pair<std::string, int> chosen(int minVersion, int maxVersion) const {
        int version = -1;
        const std::wstring folder = registry().binFolder(minVersion, maxVersion, &version);
        return {narrow(folder), version};
    }

    TempDir dir_;
    fs::path cu_ = dir_ / "HKEY_CURRENT_USER.reg";
    fs::path lm_ = dir_ / "HKEY_LOCAL_MACHINE.reg";
    ScopedEnv cuEnv_{"VEX_REGISTRY_HKCU", cu_.string()};
    ScopedEnv lmEnv_{"VEX_REGISTRY_HKLM", lm_.string()};
};

TEST_F(RegistryTest, HigherVersionWinsAcrossHivesAndTheCurrentUserWinsATie) {
    const Installation v11(dir_, 11), v12(dir_, 12), v12b(dir_, 12, "b");
    machine(v11.records(kLM));
    user(v12.records(kCU));
    EXPECT_EQ(chosen(11, 12), std::make_pair(v12.bin.string(), 12));
    machine(v12.records(kLM));
    user(v11.records(kCU));
    EXPECT_EQ(chosen(11, 12), std::make_pair(v12.bin.string(), 12));
    user(v12b.records(kCU));
    EXPECT_EQ(chosen(11, 12), std::make_pair(v12b.bin.string(), 12));
    EXPECT_EQ(chosen(11, 11), std::make_pair(std::string(), -1)) << "no 11 any more";
}

TEST_F(RegistryTest, ActivePathThenVersionValueThenScan) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    const std::string both = v11.records(kCU) + v12.records(kCU);
    const std::string path11 = (dir_ / "RayMint 11").string() + "/";
    user(section(kCU, "") + "\"RayMintActivePath\"=" + regString(path11) + "\r\n" + both);
    EXPECT_EQ(chosen(11, 12).second, 11) << "the active path is preferred to the scan";
    user(section(kCU, "") + "\"RayMintVersion\"=\"RayMint 11\"\r\n" + both);
    EXPECT_EQ(chosen(11, 12).second, 11) << "the version value is preferred to the scan";
    user(section(kCU, "") + "\"RayMintActivePath\"=" + regString((dir_ / "RayMint 12").string()) +
         "\r\n\"RayMintVersion\"=\"RayMint 11\"\r\n" + both);
    EXPECT_EQ(chosen(11, 12).second, 12) << "the active path comes before the version value";
    EXPECT_EQ(chosen(11, 11).second, 11) << "an active path outside the range is passed over";
    user(both);
    EXPECT_EQ(chosen(11, 12).second, 12) << "the scan goes from the highest version down";
    EXPECT_EQ(chosen(5, 10).second, -1);
    EXPECT_EQ(chosen(12, 11).second, -1) << "a range whose maximum is below its minimum";
}

TEST_F(RegistryTest, VersionValueWithoutBlankIsReadWhole) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    user(section(kCU, "") + "\"RayMintVersion\"=\"RayMint\"\r\n" + v11.records(kCU) +
         v12.records(kCU));
    EXPECT_EQ(chosen(11, 12).second, 12) << "RayMint alone reads 0, so the scan decides";
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint"), 0);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"11"), 11);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint 12"), 12);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint  7x"), 7);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint -3"), -3);
    EXPECT_EQ(InstallationRegistry::versionFromVersionValue(L"RayMint 4294967307"), INT_MAX)
        << "saturates rather than wrapping to 11";
}

TEST_F(RegistryTest, VersionFromActivePath) {
    EXPECT_EQ(
        InstallationRegistry::versionFromActivePath(L"C:\\Program Files\\Corvan\\RayMint 11\\"),
        11);
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/opt/corvan/RayMint 12/"), 12);
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/opt/corvan/RayMint 12"), 12);
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/opt/RayMint/"), -1)
        << "separator right after the character";
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"RayMint 11"), -1) << "no separator";
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/usr/11"), -1) << "no character";
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L""), -1);
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/opt/raymint11/bin"), 0);
    EXPECT_EQ(InstallationRegistry::versionFromActivePath(L"/x/RayMint 99999999999/"), INT_MAX);
}

TEST_F(RegistryTest, AnInstallationNeedsItsExecutableAndItsResourceFolder) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    user(v11.records(kCU) + v12.records(kCU));
    EXPECT_EQ(chosen(11, 12).second, 12);
    fs::remove(v12.binName);
    EXPECT_EQ(chosen(11, 12).second, 11) << "deleted executable";
    fs::create_directory(v12.binName);
    EXPECT_EQ(chosen(11, 12).second, 11) << "a directory is no executable";
    fs::remove(v12.binName);
    writeFile(v12.binName, "");
    fs::remove_all(v12.resources);
    writeFile(v12.resources, "");
    EXPECT_EQ(chosen(11, 12).second, 11) << "resource folder that is a file";
    fs::remove(v12.resources);
    fs::create_directory(v12.resources);
    EXPECT_EQ(chosen(11, 12).second, 12) << "nothing is cached";
    user(v12.records(kCU, "\"BinName\"=dword:00000001\r\n"));
    EXPECT_EQ(chosen(11, 12).second, -1) << "an executable that is a number";
    user(section(kCU, "RayMint 12") + "\"BinName\"=" + regString(v12.binName.string()) + "\r\n");
    EXPECT_EQ(chosen(11, 12).second, -1) << "no resource folder";
}

TEST_F(RegistryTest, NamesAreComparedWithoutLetterCase) {
    const Installation v11(dir_, 11);
    user("[hkey_current_user\\software\\CORVAN\\raymint 11]\r\n\"binname\"=" +
         regString(v11.binName.string()) + "\r\n\"RESOURCEFOLDER\"=" +
         regString(v11.resources.string()) + "\r\n\"BinFolder\"=\"/b\"\r\n");
    EXPECT_EQ(chosen(11, 11), std::make_pair(std::string("/b"), 11));
}

TEST_F(RegistryTest, BufferLimitsOfTheSearchAndOfTheCallers) {
    const Installation v11(dir_, 11);
    // 260 wide characters with the terminator fit the callers' 520 bytes; one more does not.
    const std::string fits(259, 'f'), tooLong(260, 'g');
    user(v11.records(kCU, "\"BinFolder\"=" + regString(fits) + "\r\n"));
    EXPECT_EQ(chosen(11, 11), std::make_pair(fits, 11));
    user(v11.records(kCU, "\"BinFolder\"=" + regString(tooLong) + "\r\n"));
    EXPECT_EQ(chosen(11, 11), std::make_pair(std::string(), 11)) << "found, value missing";
    // Characters outside the basic plane take two UTF-16 units, as on Windows.
    const std::string smile = "\xf0\x9f\x98\x80";
    user(v11.records(kCU, "\"BinFolder\"=" + regString(std::string(257, 'a') + smile) + "\r\n"));
    EXPECT_EQ(chosen(11, 11).first.size(), 258u) << "258 characters in 259 units fit";
    user(v11.records(kCU, "\"BinFolder\"=" + regString(std::string(258, 'a') + smile) + "\r\n"));
    EXPECT_EQ(chosen(11, 11).first.size(), 0u) << "259 characters in 260 units do not";

    // The search reads the resource folder into 2048 bytes: 1023 characters at most. The
    // padding "/." keeps naming the same directory.
    auto padded = [&](size_t length) {
        std::string p = v11.resources.string();
        while (p.size() + 2 <= length) p += "/.";
        if (p.size() < length) p += "/";
        return p;
    };
    const std::string longest = padded(1023), over = padded(1024);
    ASSERT_EQ(longest.size(), 1023u);
    ASSERT_EQ(over.size(), 1024u);
    user(v11.records(kCU, "\"ResourceFolder\"=" + regString(longest) + "\r\n"));
    EXPECT_EQ(chosen(11, 11).second, 11);
    EXPECT_EQ(registry().resourceFolder(11, 11), L"") << "valid, but too long for the caller";
    user(v11.records(kCU, "\"ResourceFolder\"=" + regString(over) + "\r\n"));
    EXPECT_EQ(chosen(11, 11).second, -1) << "too long for the search: no valid installation";
}

TEST_F(RegistryTest, ValuesForCallersAndTheFoundKey) {
    const Installation v11(dir_, 11);
    user(v11.records(kCU));
    EXPECT_EQ(registry().binName(11, 11), wide(v11.binName.string()));
    EXPECT_EQ(registry().resourceFolder(5, 20), wide(v11.resources.string()));
    EXPECT_EQ(registry().binName(12, 20), L"");
    reg::RegKey key = nullptr;
    int version = 99;
    EXPECT_EQ(registry().findInstallationKey(12, 20, key, version), 1168);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(version, 99) << "left as the caller set it";
    ASSERT_EQ(registry().findInstallationKey(5, 20, key, version), 0);
    EXPECT_EQ(version, 11);
    uint32_t size = 0;
    EXPECT_EQ(reg::regQueryValueEx(key, L"BinFolder", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, (v11.bin.string().size() + 1) * 2);
    EXPECT_EQ(reg::regCloseKey(key), 0);
}

TEST_F(RegistryTest, PortsAsNumbersOrDecimalTexts) {
    const Installation v11(dir_, 11);
    struct Case {
        std::string values;
        int status, first, last;
    } cases[] = {
        {"\"LiveLinkPort\"=dword:0000c350\r\n\"LiveLinkMaxPort\"=dword:0000c35a\r\n", 0, 50000,
         50010},
        {"\"LiveLinkPort\"=\"50000\"\r\n\"LiveLinkMaxPort\"=\"50010\"\r\n", 0, 50000, 50010},
        {"\"LiveLinkPort\"=\"9999\"\r\n\"LiveLinkMaxPort\"=\"10001\"\r\n", 0, 9999, 10001},
        {"\"LiveLinkPort\"=dword:0000270f\r\n\"LiveLinkMaxPort\"=dword:00002711\r\n", 0, 9999,
         10001},
        {"\"LiveLinkPort\"=\" 7000 \"\r\n\"LiveLinkMaxPort\"=\"+7001\"\r\n", 0, 7000, 7001},
        {"\"LiveLinkPort\"=dword:00002000\r\n\"LiveLinkMaxPort\"=dword:00001000\r\n", 0, 8192,
         4096},
        // Mixed types give no usable range.
        {"\"LiveLinkPort\"=dword:00002000\r\n\"LiveLinkMaxPort\"=\"9000\"\r\n", -1, 8192, -1},
        {"\"LiveLinkPort\"=\"8192\"\r\n\"LiveLinkMaxPort\"=dword:00002328\r\n", -1, 8192, -1},
        {"\"LiveLinkPort\"=dword:00002000\r\n", -1, 8192, -1},
        {"", -2, -1, -1},
        // Not a port: missing, never port 0 or a wrapped number.
        {"\"LiveLinkPort\"=dword:00000000\r\n\"LiveLinkMaxPort\"=dword:00000010\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=dword:00010000\r\n\"LiveLinkMaxPort\"=dword:00010010\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=dword:ffffffff\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=\"abc\"\r\n\"LiveLinkMaxPort\"=\"50010\"\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=\"50000x\"\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=\"-50000\"\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=\"\"\r\n", -2, -1, -1},
        {"\"LiveLinkPort\"=\"7000\"\r\n\"LiveLinkMaxPort\"=\"99999999999999999999\"\r\n", -1, 7000,
         -1},
        {"\"LiveLinkPort\"=hex:50,c3,00,00\r\n", -2, -1, -1},
        // Port texts are read into 512 bytes: 255 characters.
        {"\"LiveLinkPort\"=\"" + std::string(250, '0') + "50000\"\r\n\"LiveLinkMaxPort\"=\"" +
             std::string(251, '0') + "50000\"\r\n",
         -1, 50000, -1},
    };
    for (const Case& c : cases) {
        user(v11.records(kCU, c.values));
        int first = -1, last = -1;
        EXPECT_EQ(registry().liveLinkPorts(5, 20, first, last), c.status) << c.values;
        EXPECT_EQ(first, c.first) << c.values;
        EXPECT_EQ(last, c.last) << c.values;
    }
    fs::remove(cu_);
    int first = -1, last = -1;
    EXPECT_EQ(registry().liveLinkPorts(5, 20, first, last), -3);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
}

TEST_F(RegistryTest, QueryValueBehavesLikeTheRegistry) {
    user(
        section(kCU, "K") + "@=\"def\"\r\n\"S\"=\"a\\\"\\\\\xc3\xa9\"\r\n\"D\"=dword:0000c350\r\n" +
        "\"H\"=hex(7):61,00,00,00,\\\r\n  00,00\r\n\"B\"=hex:\r\n\"Gone\"=\"x\"\r\n\"Gone\"=-\r\n" +
        "\"Twice\"=\"1\"\r\n\"twice\"=\"2\"\r\n");
    reg::RegKey key = nullptr;
    ASSERT_EQ(
        reg::regOpenKeyEx(reg::kHkeyCurrentUser, L"SOFTWARE\\Corvan\\K", 0, reg::kKeyRead, &key),
        0);
    uint8_t buffer[64];
    uint32_t type = 0, size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, L"S", &type, buffer, &size), 0);
    EXPECT_EQ(type, reg::kRegSz);
    const uint8_t expected[] = {'a', 0, '"', 0, '\\', 0, 0xE9, 0, 0, 0};
    ASSERT_EQ(size, sizeof expected);
    EXPECT_EQ(std::memcmp(buffer, expected, size), 0) << "UTF-16LE with its terminator";
    size = 9;
    EXPECT_EQ(reg::regQueryValueEx(key, L"S", &type, buffer, &size), reg::kErrorMoreData);
    EXPECT_EQ(size, 10u);
    size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, L"d", &type, buffer, &size), 0);
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(buffer[0] | buffer[1] << 8 | buffer[2] << 16 | buffer[3] << 24, 50000);
    size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, L"H", &type, buffer, &size), 0);
    EXPECT_EQ(type, reg::kRegMultiSz);
    EXPECT_EQ(size, 6u) << "continued hex line";
    size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, L"B", &type, buffer, &size), 0);
    EXPECT_EQ(type, reg::kRegBinary);
    EXPECT_EQ(size, 0u);
    size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, nullptr, &type, buffer, &size), 0);
    EXPECT_EQ(size, 8u) << "the default value";
    size = sizeof buffer;
    EXPECT_EQ(reg::regQueryValueEx(key, L"Gone", &type, buffer, &size), reg::kErrorFileNotFound);
    size = sizeof buffer;
    ASSERT_EQ(reg::regQueryValueEx(key, L"TWICE", &type, buffer, &size), 0);
    EXPECT_EQ(buffer[0], '2') << "a later line replaces the value";
    EXPECT_EQ(reg::regQueryValueEx(key, L"S", &type, buffer, nullptr), reg::kErrorInvalidParameter);
    EXPECT_EQ(reg::regCloseKey(key), 0);
    EXPECT_EQ(reg::regQueryValueEx(nullptr, L"S", &type, buffer, &size), reg::kErrorInvalidHandle);
    // Parents exist through their sub-keys; missing keys do not.
    ASSERT_EQ(reg::regOpenKeyEx(reg::kHkeyCurrentUser, L"SOFTWARE", 0, reg::kKeyRead, &key), 0);
    reg::RegKey sub = nullptr;
    EXPECT_EQ(reg::regOpenKeyEx(key, L"corvan\\k\\", 0, reg::kKeyRead, &sub), 0);
    reg::regCloseKey(sub);
    EXPECT_EQ(reg::regOpenKeyEx(key, L"Corvan\\K2", 0, reg::kKeyRead, &sub),
              reg::kErrorFileNotFound);
    EXPECT_EQ(sub, nullptr);
    EXPECT_EQ(reg::regOpenKeyEx(key, L"Corv", 0, reg::kKeyRead, &sub), reg::kErrorFileNotFound);
    reg::regCloseKey(key);
    EXPECT_EQ(reg::regOpenKeyEx(reg::kHkeyLocalMachine, L"SOFTWARE", 0, reg::kKeyRead, &key),
              reg::kErrorFileNotFound)
        << "the machine hive file does not exist";
}

TEST_F(RegistryTest, DeletedKeysAndValues) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    user(v11.records(kCU) + v12.records(kCU) +
         "[-HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12]\r\n");
    EXPECT_EQ(chosen(11, 12).second, 11);
    user(v11.records(kCU) + section(kCU, "RayMint 11") + "\"BinFolder\"=-\r\n");
    EXPECT_EQ(chosen(11, 12), std::make_pair(std::string(), 11));
}

TEST_F(RegistryTest, HiveLocations) {
    const Installation v11(dir_, 11);
    const std::string records = kHeader + v11.records(kCU);
    {
        ScopedEnv cu("VEX_REGISTRY_HKCU", std::nullopt);
        ScopedEnv lm("VEX_REGISTRY_HKLM", "");
        ScopedEnv config("XDG_CONFIG_HOME", (dir_ / "config").string());
        writeFile(dir_ / "config" / "corvan" / "HKEY_CURRENT_USER.reg", records);
        EXPECT_EQ(chosen(11, 11).second, 11) << "$XDG_CONFIG_HOME/corvan";
    }
    {
        ScopedEnv cu("VEX_REGISTRY_HKCU", std::nullopt);
        ScopedEnv lm("VEX_REGISTRY_HKLM", "");
        ScopedEnv config("XDG_CONFIG_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", (dir_ / "home").string());
        writeFile(dir_ / "home" / ".config" / "corvan" / "HKEY_CURRENT_USER.reg", records);
        EXPECT_EQ(chosen(11, 11).second, 11) << "~/.config/corvan";
    }
    {
        ScopedEnv cu("VEX_REGISTRY_HKCU", "");
        ScopedEnv lm("VEX_REGISTRY_HKLM", (dir_ / "machine.reg").string());
        writeFile(dir_ / "machine.reg", kHeader + v11.records(kLM));
        EXPECT_EQ(chosen(11, 11).second, 11);
        writeFile(dir_ / "machine.reg", kHeader + v11.records(kCU));
        EXPECT_EQ(chosen(11, 11).second, -1) << "keys of the other hive are not read";
    }
}

TEST_F(RegistryTest, LaunchWithoutInstallationStartsNothing) {
    EXPECT_FALSE(registry().launchRenderer(11, 12));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// Broken files: reported in the log of the installation that is still found (here in
// the machine hive), the broken parts count as missing.
class BrokenHiveTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        machine(good_.records(kLM));
    }
    // The log of the installation that is chosen now.
    std::string log() const {
        return readFile(fs::path(narrow(registry().resourceFolder(5, 20))) / "sceneapi.log");
    }
    // Logs one line so that the log opens and the reports of the lookup are written.
    void touchLog() { VEX_LOG(logINFO) << "probe"; }

    Installation good_{dir_, 9};
};

TEST_F(BrokenHiveTest, FileWithoutHeaderIsIgnoredAndReported) {
    const Installation v11(dir_, 11);
    writeFile(cu_, v11.records(kCU));
    registry();
    touchLog();
    EXPECT_EQ(chosen(5, 20).second, 9);
    const std::string text = log();
    EXPECT_NE(
        text.find("ERROR:  registry file " + cu_.string() +
                  ": line 1: not a registry file (no \"Windows Registry Editor Version 5.00\")\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("ERROR:", text.find("ERROR:") + 1), std::string::npos)
        << "one report for the many reads of one lookup: " << text;
}

TEST_F(BrokenHiveTest, BrokenLinesAreReportedWithTheirNumbersAndSkipped) {
    const Installation v11(dir_, 11);
    user(v11.records(kCU,
                     "\"LiveLinkPort\"=dword:xyz\r\n"
                     "\"LiveLinkMaxPort\"=dword:123456789\r\n"
                     "\"A\"=\"bad \\n escape\"\r\n"
                     "\"B\"=\"x\" trailing\r\n"
                     "\"C\"=hex:1,zz\r\n"
                     "\"D\"=hex(q):00\r\n"
                     "\"E\"=qword:1\r\n"
                     "\"F\" \"G\"\r\n"
                     "garbage\r\n") +
         "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\Open\r\n\"X\"=\"1\"\r\n");
    registry();
    touchLog();
    EXPECT_EQ(chosen(5, 20).second, 11) << "the good lines of the key still count";
    int first = -1, last = -1;
    EXPECT_EQ(registry().liveLinkPorts(5, 20, first, last), -2);
    const std::string text = log();
    const std::string prefix = "registry file " + cu_.string() + ": line ";
    for (const char* line :
         {"7: dword value is not 1 to 8 hex digits", "8: dword value is not 1 to 8 hex digits",
          "9: unknown value syntax", "10: text after the closing quote", "11: unreadable hex bytes",
          "12: unreadable hex value type", "13: unknown value syntax", "14: value without \"=\"",
          "15: unreadable line", "17: key line without \"]\"; its values are ignored"}) {
        EXPECT_NE(text.find(prefix + line + "\n"), std::string::npos) << line << "\n" << text;
    }
}

TEST_F(BrokenHiveTest, HostileFilesAreIgnoredWithoutHarm) {
    const Installation v11(dir_, 11);
    const std::string good = kHeader + v11.records(kCU);
    struct Case {
        std::string name;
        std::string bytes;
        const char* report;
    } cases[] = {
        {"invalid UTF-8", good + "\"Z\"=\"\xff\xfe\xc0\x80\"\r\n", "is not UTF-8 or UTF-16 text"},
        {"NUL in a line",
         kHeader + v11.records(kCU, std::string("\"LiveLinkPort\"=\"1") + '\0' + "\"\r\n"),
         "NUL character"},
        {"value before any key",
         std::string(kHeader) + "\"BinName\"=\"/bin/sh\"\r\n" + v11.records(kCU),
         "value outside any key"},
        {"empty file", "", "not a registry file"},
        {"only a header", kHeader, nullptr},
        {"huge file", good + std::string(1u << 20, ';'), "is larger than 1048576 bytes"},
        {"overlong line", good + "\"Long\"=\"" + std::string(200000, 'x') + "\r\n",
         "unknown value syntax"},
    };
    for (const Case& c : cases) {
        vex::log_test::closeLogFile();
        fs::remove(good_.resources / "sceneapi.log");
        fs::remove(v11.resources / "sceneapi.log");
        writeFile(cu_, c.bytes);
        touchLog();
        const int version = chosen(5, 20).second;
        if (c.name == "NUL in a line" || c.name == "value before any key" ||
            c.name == "overlong line") {
            EXPECT_EQ(version, 11) << c.name;
        } else {
            EXPECT_EQ(version, 9) << c.name;
        }
        const std::string text = log();
        if (c.report != nullptr) {
            EXPECT_NE(text.find(c.report), std::string::npos) << c.name << "\n" << text;
        } else {
            EXPECT_EQ(text.find("registry file"), std::string::npos) << c.name << "\n" << text;
        }
    }
}

TEST_F(BrokenHiveTest, RegistryEditorExportsInUtf16AreRead) {
    const Installation v11(dir_, 11);
    const std::string text = kHeader + v11.records(kCU);
    std::string le = "\xff\xfe", be = "\xfe\xff";
    for (char c : text) {
        le += c, le += '\0';
        be += '\0', be += c;
    }
    writeFile(cu_, le);
    EXPECT_EQ(chosen(5, 20).second, 11);
    writeFile(cu_, be);
    EXPECT_EQ(chosen(5, 20).second, 11);
    writeFile(cu_, "\xef\xbb\xbf" + text);
    EXPECT_EQ(chosen(5, 20).second, 11) << "UTF-8 with a byte-order mark";
    writeFile(cu_, le + "x");
    EXPECT_EQ(chosen(5, 20).second, 9) << "odd length";
    writeFile(cu_, le.substr(0, le.size() - 2) + std::string("\x00\xd8", 2));
    EXPECT_EQ(chosen(5, 20).second, 9) << "lone surrogate";
    touchLog();
    EXPECT_NE(log().find("is not UTF-8 or UTF-16 text"), std::string::npos);
}

TEST_F(BrokenHiveTest, HivePathsThatAreNoFilesDoNotBlock) {
    ASSERT_EQ(::mkfifo(cu_.c_str(), 0600), 0);
    touchLog();
    EXPECT_EQ(chosen(5, 20).second, 9);
    EXPECT_NE(log().find("is not a regular file; the hive is ignored"), std::string::npos) << log();
    fs::remove(cu_);
    fs::create_directory(cu_);
    vex::log_test::closeLogFile();
    touchLog();
    EXPECT_EQ(chosen(5, 20).second, 9);
    const std::string text = log();
    const std::string report = "registry file " + cu_.string() + ": is not a regular file";
    const size_t at = text.find(report);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NE(text.find(report, at + 1), std::string::npos) << "a directory too: " << text;
}

TEST_F(BrokenHiveTest, FuzzedFilesNeverCrashOrInventAnInstallation) {
    const Installation v11(dir_, 11);
    const std::string good = kHeader + v11.records(kCU,
                                                   "\"LiveLinkPort\"=dword:0000c350\r\n"
                                                   "\"LiveLinkMaxPort\"=\"50010\"\r\n"
                                                   "\"H\"=hex(2):41,00,\\\r\n  00,00\r\n");
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % bytes.size();
            switch (random() % 4) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.erase(at, 1 + random() % 16);
                    break;
                case 2:
                    bytes.insert(at, 1, "[]\"\\=@,:-\r\n\0"[random() % 12]);
                    break;
                default:
                    bytes.resize(at);
                    break;
            }
            if (bytes.empty()) bytes = "x";
        }
        writeFile(cu_, bytes);
        // A mutated value is just another value; an installation must still be valid.
        const int version = chosen(5, 20).second;
        EXPECT_TRUE(version == 9 || version == 11) << round;
        int first = -1, last = -1;
        const int status = registry().liveLinkPorts(5, 20, first, last);
        EXPECT_TRUE(first == -1 || (first >= 1 && first <= 65535)) << status;
        EXPECT_TRUE(last == -1 || (last >= 1 && last <= 65535)) << status;
    }
}

}  // namespace
