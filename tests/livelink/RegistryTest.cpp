// The installation lookup against the registry (hive files on POSIX, the system's registry
// on Windows): version choice across the three ways and the two hives, validation, buffer
// limits, value types, port rules; and on POSIX the hive files' locations and broken or
// hostile files.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/RegistryPlatform.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;
namespace reg = vex::platform;

const InstallationRegistry& registry() {
    return InstallationRegistry::instance();
}

// One value line of a key.
std::string value(const std::string& name, const std::string& data) {
    return "\"" + name + "\"=" + data + "\r\n";
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { vex::log_test::closeLogFile(); }
    void TearDown() override { vex::log_test::closeLogFile(); }

    void user(const std::string& body) { hives_.user(body); }
    void machine(const std::string& body) { hives_.machine(body); }
    // The user hive's Corvan key with `values`, then `keys`.
    void corvan(const std::string& values, const std::string& keys) {
        user(section(kCU, "") + values + keys);
    }

    // The bin folder chosen for the range, with its version (-1 when none).
    std::pair<std::string, int> chosen(int minVersion, int maxVersion) const {
        int version = -1;
        const std::wstring folder = registry().binFolder(minVersion, maxVersion, &version);
        return {narrow(folder), version};
    }
    int version(int minVersion = 11, int maxVersion = 12) const {
        return chosen(minVersion, maxVersion).second;
    }

    TempDir dir_;
    TestHives hives_;
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
    corvan(value("RayMintActivePath", regString((dir_ / "RayMint 11").string() + "/")), both);
    EXPECT_EQ(version(), 11) << "the active path is preferred to the scan";
    corvan(value("RayMintVersion", "\"RayMint 11\""), both);
    EXPECT_EQ(version(), 11) << "the version value is preferred to the scan";
    corvan(value("RayMintActivePath", regString((dir_ / "RayMint 12").string())) +
               value("RayMintVersion", "\"RayMint 11\""),
           both);
    EXPECT_EQ(version(), 12) << "the active path comes before the version value";
    EXPECT_EQ(version(11, 11), 11) << "an active path outside the range is passed over";
    corvan(value("RayMintVersion", "\"RayMint\""), both);
    EXPECT_EQ(version(), 12) << "RayMint alone reads 0, so the scan decides";
    user(both);
    EXPECT_EQ(version(), 12) << "the scan goes from the highest version down";
    EXPECT_EQ(version(5, 10), -1);
    EXPECT_EQ(version(12, 11), -1) << "a range whose maximum is below its minimum";
}

// The active path's number saturates rather than wrapping to 11; a path needs a separator
// after the number and the character before it, or it gives -1.
TEST_F(RegistryTest, VersionNumbersFromTheVersionValueAndTheActivePath) {
    using Cases = std::initializer_list<std::pair<const wchar_t*, int>>;
    for (auto [text, version] : Cases{{L"RayMint", 0},
                                      {L"11", 11},
                                      {L"RayMint 12", 12},
                                      {L"RayMint  7x", 7},
                                      {L"RayMint -3", -3},
                                      {L"RayMint 4294967307", INT_MAX}}) {
        EXPECT_EQ(InstallationRegistry::versionFromVersionValue(text), version) << narrow(text);
    }
    for (auto [text, version] : Cases{{L"C:\\Program Files\\Corvan\\RayMint 11\\", 11},
                                      {L"/opt/corvan/RayMint 12/", 12},
                                      {L"/opt/corvan/RayMint 12", 12},
                                      {L"/opt/RayMint/", -1},
                                      {L"RayMint 11", -1},
                                      {L"/usr/11", -1},
                                      {L"", -1},
                                      {L"/opt/raymint11/bin", 0},
                                      {L"/x/RayMint 99999999999/", INT_MAX}}) {
        EXPECT_EQ(InstallationRegistry::versionFromActivePath(text), version) << narrow(text);
    }
}

TEST_F(RegistryTest, AnInstallationNeedsItsExecutableAndItsResourceFolder) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    user(v11.records(kCU) + v12.records(kCU));
    EXPECT_EQ(version(), 12);
    fs::remove(v12.binName);
    EXPECT_EQ(version(), 11) << "deleted executable";
    fs::create_directory(v12.binName);
    EXPECT_EQ(version(), 11) << "a directory is no executable";
    fs::remove(v12.binName);
    writeFile(v12.binName, "");
    fs::remove_all(v12.resources);
    writeFile(v12.resources, "");
    EXPECT_EQ(version(), 11) << "resource folder that is a file";
    fs::remove(v12.resources);
    fs::create_directory(v12.resources);
    EXPECT_EQ(version(), 12) << "nothing is cached";
    user(v12.records(kCU, value("BinName", "dword:00000001")));
    EXPECT_EQ(version(), -1) << "an executable that is a number";
    user(section(kCU, "RayMint 12") + value("BinName", regString(v12.binName.string())));
    EXPECT_EQ(version(), -1) << "no resource folder";
}

TEST_F(RegistryTest, NamesIgnoreLetterCaseAndDeletionsCount) {
    const Installation v11(dir_, 11), v12(dir_, 12);
    user("[hkey_current_user\\software\\CORVAN\\raymint 11]\r\n" +
         value("binname", regString(v11.binName.string())) +
         value("RESOURCEFOLDER", regString(v11.resources.string())) + value("BinFolder", "\"/b\""));
    EXPECT_EQ(chosen(11, 11), std::make_pair(std::string("/b"), 11));
    user(v11.records(kCU) + v12.records(kCU) +
         "[-HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12]\r\n");
    EXPECT_EQ(version(), 11) << "a deleted key";
    user(v11.records(kCU) + section(kCU, "RayMint 11") + value("BinFolder", "-"));
    EXPECT_EQ(chosen(11, 12), std::make_pair(std::string(), 11)) << "a deleted value";
}

TEST_F(RegistryTest, BufferLimitsOfTheSearchAndOfTheCallers) {
    const Installation v11(dir_, 11);
    // 260 wide characters with the terminator fit the callers' 520 bytes; one more does not.
    // Characters outside the basic plane take two UTF-16 units, as on Windows.
    const std::string fits(259, 'f'), smile = "\xf0\x9f\x98\x80";
    user(v11.records(kCU, value("BinFolder", regString(fits))));
    EXPECT_EQ(chosen(11, 11), std::make_pair(fits, 11));
    user(v11.records(kCU, value("BinFolder", regString(std::string(260, 'g')))));
    EXPECT_EQ(chosen(11, 11), std::make_pair(std::string(), 11)) << "found, value missing";
    user(v11.records(kCU, value("BinFolder", regString(std::string(257, 'a') + smile))));
    EXPECT_EQ(vex::platform::utf8FromWide(registry().binFolder(11, 11)),
              std::string(257, 'a') + smile)
        << "258 characters in 259 units fit";
    user(v11.records(kCU, value("BinFolder", regString(std::string(258, 'a') + smile))));
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
    user(v11.records(kCU, value("ResourceFolder", regString(longest))));
    EXPECT_EQ(version(11, 11), 11);
    EXPECT_EQ(registry().resourceFolder(11, 11), L"") << "valid, but too long for the caller";
    user(v11.records(kCU, value("ResourceFolder", regString(over))));
    EXPECT_EQ(version(11, 11), -1) << "too long for the search: no valid installation";
}

// Texts are read whatever type they were stored under; they end at the first NUL.
TEST_F(RegistryTest, TextsOfAnyStoredType) {
    const Installation v11(dir_, 11);
    // `text` as UTF-16LE bytes with a NUL, stored under `type`.
    auto stored = [](const std::string& type, const std::string& text) {
        std::string out = "hex(" + type + "):";
        char byte[8];
        for (char c : text + '\0') {
            std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
            out += byte;
        }
        return out.substr(0, out.size() - 1);
    };
    const struct {
        std::string binFolder, expected;
    } cases[] = {
        {stored("2", "/expand/%X%"), "/expand/%X%"},  // REG_EXPAND_SZ, not expanded
        {stored("3", "/binary"), "/binary"},
        {stored("7", "/first") + ",2f,00,00,00,00,00", "/first"},  // REG_MULTI_SZ
        {"hex:2f,00,62,00", "/b"},                                 // no NUL
        {"hex:2f,00,62", "/"},                                     // a dangling byte
        {"dword:00620041", "Ab"},
        {"hex:00,00,41,00", ""},
    };
    for (const auto& c : cases) {
        user(v11.records(kCU, value("BinFolder", c.binFolder)));
        EXPECT_EQ(chosen(11, 11), std::make_pair(c.expected, 11)) << c.binFolder;
    }
    // The search reads the installation's paths the same way.
    user(section(kCU, "RayMint 11") + value("BinName", stored("2", v11.binName.string())) +
         value("ResourceFolder", stored("0", v11.resources.string())));
    EXPECT_EQ(version(11, 11), 11);
    EXPECT_EQ(registry().resourceFolder(11, 11), wide(v11.resources.string()));
}

TEST_F(RegistryTest, ValuesForCallersAndTheFoundKey) {
    const Installation v11(dir_, 11);
    user(v11.records(kCU));
    EXPECT_EQ(registry().binName(11, 11), wide(v11.binName.string()));
    EXPECT_EQ(registry().resourceFolder(5, 20), wide(v11.resources.string()));
    EXPECT_EQ(registry().binName(12, 20), L"");
    reg::RegKey key = nullptr;
    int found = 99;
    EXPECT_EQ(registry().findInstallationKey(12, 20, key, found), 1168);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(found, 99) << "left as the caller set it";
    ASSERT_EQ(registry().findInstallationKey(5, 20, key, found), 0);
    EXPECT_EQ(found, 11);
    uint32_t size = 0;
    EXPECT_EQ(reg::regQueryValueEx(key, L"BinFolder", nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, (v11.bin.string().size() + 1) * 2);
    EXPECT_EQ(reg::regCloseKey(key), 0);
}

TEST_F(RegistryTest, PortsAsNumbersOrDecimalTexts) {
    const Installation v11(dir_, 11);
    auto ports = [&](const std::string& values, int status, int first, int last) {
        SCOPED_TRACE(values);
        user(v11.records(kCU, values));
        int readFirst = -1, readLast = -1;
        EXPECT_EQ(registry().liveLinkPorts(5, 20, readFirst, readLast), status);
        EXPECT_EQ(std::make_pair(readFirst, readLast), std::make_pair(first, last));
    };
    // The two port values; an empty one is left out.
    auto values = [](const std::string& first, const std::string& last = "") {
        return (first.empty() ? "" : value("LiveLinkPort", first)) +
               (last.empty() ? "" : value("LiveLinkMaxPort", last));
    };
    ports(values("dword:0000c350", "dword:0000c35a"), 0, 50000, 50010);
    ports(values("\"50000\"", "\"50010\""), 0, 50000, 50010);
    ports(values("\"9999\"", "\"10001\""), 0, 9999, 10001);
    ports(values("dword:0000270f", "dword:00002711"), 0, 9999, 10001);
    ports(values("\" 7000 \"", "\"+7001\""), 0, 7000, 7001);
    ports(values("dword:00002000", "dword:00001000"), 0, 8192, 4096);
    // Mixed types give no usable range, nor does a maximum that is no port.
    ports(values("dword:00002000", "\"9000\""), -1, 8192, -1);
    ports(values("\"8192\"", "dword:00002328"), -1, 8192, -1);
    ports(values("dword:00002000"), -1, 8192, -1);
    ports(values("\"7000\"", "\"99999999999999999999\""), -1, 7000, -1);
    // Port texts are read into 512 bytes: 255 characters.
    ports(
        values("\"" + std::string(250, '0') + "50000\"", "\"" + std::string(251, '0') + "50000\""),
        -1, 50000, -1);
    // Not a port: missing, never port 0 or a wrapped number, nor a text that is no number.
    for (const std::string& missing :
         {std::string(), values("dword:00000000", "dword:00000010"),
          values("dword:00010000", "dword:00010010"), values("dword:ffffffff"),
          values("\"abc\"", "\"50010\""), values("\"50000x\""), values("\"-50000\""),
          values("\"\""), values("hex:50,c3,00")}) {
        ports(missing, -2, -1, -1);
    }
    // A number is any value of exactly 4 bytes, as the registry hands back data whatever
    // its type: binary data, and even a text of one character with its NUL.
    ports(values("hex:50,c3,00,00", "hex:5a,c3,00,00"), 0, 50000, 50010);
    ports(values("hex:50,c3,00,00", "\"50010\""), -1, 50000, -1);
    ports(values("\"7\"", "\"8\""), 0, '7', '8');
    user("");
    int first = -1, last = -1;
    EXPECT_EQ(registry().liveLinkPorts(5, 20, first, last), -3);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(-1, -1));
}

TEST_F(RegistryTest, QueryValueBehavesLikeTheRegistry) {
    user(section(kCU, "K") + "@=\"def\"\r\n" + value("S", "\"a\\\"\\\\\xc3\xa9\"") +
         value("D", "dword:0000c350") + value("H", "hex(7):61,00,00,00,\\\r\n  00,00") +
         value("B", "hex:") + value("Gone", "\"x\"") + value("Gone", "-") +
         value("Twice", "\"1\"") + value("twice", "\"2\""));
    reg::RegKey key = nullptr;
    ASSERT_EQ(
        reg::regOpenKeyEx(reg::kHkeyCurrentUser, L"SOFTWARE\\Corvan\\K", 0, reg::kKeyRead, &key),
        0);
    uint8_t buffer[64];
    // Status, type and size of a value read into `capacity` bytes of the buffer.
    auto query = [&](const wchar_t* name, uint32_t capacity = sizeof buffer) {
        uint32_t type = 0, size = capacity;
        const long status = reg::regQueryValueEx(key, name, &type, buffer, &size);
        return std::tuple(status, type, size);
    };
    EXPECT_EQ(query(L"S"), std::tuple(0L, reg::kRegSz, 10u));
    const uint8_t expected[] = {'a', 0, '"', 0, '\\', 0, 0xE9, 0, 0, 0};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0) << "UTF-16LE with its terminator";
    EXPECT_EQ(std::get<2>(query(L"S", 9)), 10u) << "the size needed";
    EXPECT_EQ(std::get<0>(query(L"S", 9)), reg::kErrorMoreData);
    EXPECT_EQ(query(L"d"), std::tuple(0L, reg::kRegDword, 4u));
    EXPECT_EQ(buffer[0] | buffer[1] << 8 | buffer[2] << 16 | buffer[3] << 24, 50000);
    EXPECT_EQ(query(L"H"), std::tuple(0L, reg::kRegMultiSz, 6u)) << "continued hex line";
    EXPECT_EQ(query(L"B"), std::tuple(0L, reg::kRegBinary, 0u));
    EXPECT_EQ(query(nullptr), std::tuple(0L, reg::kRegSz, 8u)) << "the default value";
    EXPECT_EQ(std::get<0>(query(L"Gone")), reg::kErrorFileNotFound);
    EXPECT_EQ(query(L"TWICE"), std::tuple(0L, reg::kRegSz, 4u));
    EXPECT_EQ(buffer[0], '2') << "a later line replaces the value";
    uint32_t type = 0, size = sizeof buffer;
    EXPECT_EQ(reg::regQueryValueEx(key, L"S", &type, buffer, nullptr), reg::kErrorInvalidParameter);
    EXPECT_EQ(reg::regCloseKey(key), 0);
    EXPECT_EQ(reg::regQueryValueEx(nullptr, L"S", &type, buffer, &size), reg::kErrorInvalidHandle);
    // Parents exist through their sub-keys; missing keys do not.
    ASSERT_EQ(reg::regOpenKeyEx(reg::kHkeyCurrentUser, L"SOFTWARE", 0, reg::kKeyRead, &key), 0);
    reg::RegKey sub = nullptr;
    EXPECT_EQ(reg::regOpenKeyEx(key, L"corvan\\k\\", 0, reg::kKeyRead, &sub), 0);
    reg::regCloseKey(sub);
    for (const wchar_t* missing : {L"Corvan\\K2", L"Corv"}) {
        sub = nullptr;
        EXPECT_EQ(reg::regOpenKeyEx(key, missing, 0, reg::kKeyRead, &sub), reg::kErrorFileNotFound);
        EXPECT_EQ(sub, nullptr);
    }
    reg::regCloseKey(key);
    EXPECT_EQ(reg::regOpenKeyEx(reg::kHkeyLocalMachine, L"SOFTWARE", 0, reg::kKeyRead, &key),
              reg::kErrorFileNotFound)
        << "the machine hive is empty";
}

TEST_F(RegistryTest, LaunchWithoutInstallationStartsNothing) {
    EXPECT_FALSE(registry().launchRenderer(11, 12));
#ifndef _WIN32
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
#endif
}

#ifndef _WIN32
// The hive files of the POSIX seam.
TEST_F(RegistryTest, HiveLocations) {
    const Installation v11(dir_, 11);
    const std::string records = kHeader + v11.records(kCU);
    {
        ScopedEnv cu("VEX_REGISTRY_HKCU", std::nullopt), lm("VEX_REGISTRY_HKLM", "");
        ScopedEnv config("XDG_CONFIG_HOME", (dir_ / "config").string());
        writeFile(dir_ / "config" / "corvan" / "HKEY_CURRENT_USER.reg", records);
        EXPECT_EQ(version(11, 11), 11) << "$XDG_CONFIG_HOME/corvan";
    }
    {
        ScopedEnv cu("VEX_REGISTRY_HKCU", std::nullopt), lm("VEX_REGISTRY_HKLM", "");
        ScopedEnv config("XDG_CONFIG_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", (dir_ / "home").string());
        writeFile(dir_ / "home" / ".config" / "corvan" / "HKEY_CURRENT_USER.reg", records);
        EXPECT_EQ(version(11, 11), 11) << "~/.config/corvan";
    }
    ScopedEnv cu("VEX_REGISTRY_HKCU", ""), lm("VEX_REGISTRY_HKLM", (dir_ / "machine.reg").string());
    writeFile(dir_ / "machine.reg", kHeader + v11.records(kLM));
    EXPECT_EQ(version(11, 11), 11);
    writeFile(dir_ / "machine.reg", kHeader + v11.records(kCU));
    EXPECT_EQ(version(11, 11), -1) << "keys of the other hive are not read";
}

// Broken files: reported in the log of the installation that is still found (here in
// the machine hive), the broken parts count as missing.
class BrokenHiveTest : public RegistryTest {
  protected:
    void SetUp() override {
        RegistryTest::SetUp();
        machine(good_.records(kLM));
        registry();  // sets where the log goes
    }
    // The log of the installation that is chosen now.
    std::string log() const {
        return readFile(fs::path(narrow(registry().resourceFolder(5, 20))) / "sceneapi.log");
    }
    // Logs one line so that the log opens and the reports of the lookup are written.
    void touchLog() { VEX_LOG(logINFO) << "probe"; }

    Installation good_{dir_, 9};
    const fs::path& cu_ = hives_.userFile();
};

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
    touchLog();
    EXPECT_EQ(version(5, 20), 11) << "the good lines of the key still count";
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

// Each broken, hostile or odd hive file is reported once, in the log of the installation
// still found, and never blocks the lookup; the good keys of a readable file still count.
TEST_F(BrokenHiveTest, HostileFilesAreIgnoredWithoutHarm) {
    const Installation v11(dir_, 11);
    const std::string text = kHeader + v11.records(kCU), good = text;
    std::string le = "\xff\xfe", be = "\xfe\xff";
    for (char c : text) {
        le += {c, '\0'};
        be += {'\0', c};
    }
    const std::string noFile = "registry file " + cu_.string() + ": is not a regular file";
    const struct {
        std::string name, bytes;
        int version;
        std::string report;                    // what the log says; empty for nothing
        std::function<void()> make = nullptr;  // makes the hive path instead of `bytes`
    } cases[] = {
        {"no header", v11.records(kCU), 9,
         "ERROR:  registry file " + cu_.string() +
             ": line 1: not a registry file (no \"Windows Registry Editor Version 5.00\")\n"},
        {"invalid UTF-8", good + "\"Z\"=\"\xff\xfe\xc0\x80\"\r\n", 9,
         "is not UTF-8 or UTF-16 text"},
        {"NUL in a line", kHeader + v11.records(kCU, "\"LiveLinkPort\"=\"1\0\"\r\n"s), 11,
         "NUL character"},
        {"value before any key", kHeader + value("BinName", "\"/bin/sh\"") + v11.records(kCU), 11,
         "value outside any key"},
        {"empty file", "", 9, "not a registry file"},
        {"only a header", kHeader, 9, ""},
        {"huge file", good + std::string(1u << 20, ';'), 9, "is larger than 1048576 bytes"},
        {"overlong line", good + "\"Long\"=\"" + std::string(200000, 'x') + "\r\n", 11,
         "unknown value syntax"},
        {"UTF-16LE", le, 11, ""},
        {"UTF-16BE", be, 11, ""},
        {"UTF-8 with a byte-order mark", "\xef\xbb\xbf" + text, 11, ""},
        {"UTF-16 of odd length", le + "x", 9, "is not UTF-8 or UTF-16 text"},
        {"lone surrogate", le.substr(0, le.size() - 2) + "\x00\xd8"s, 9,
         "is not UTF-8 or UTF-16 text"},
        {"a fifo", "", 9, noFile + "; the hive is ignored",
         [&] { ASSERT_EQ(::mkfifo(cu_.c_str(), 0600), 0); }},
        {"a directory", "", 9, noFile, [&] { fs::create_directory(cu_); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vex::log_test::closeLogFile();
        fs::remove(good_.resources / "sceneapi.log");
        fs::remove(v11.resources / "sceneapi.log");
        fs::remove_all(cu_);
        c.make ? c.make() : writeFile(cu_, c.bytes);
        touchLog();
        EXPECT_EQ(version(5, 20), c.version);
        const std::string log = this->log();
        if (c.report.empty()) {
            EXPECT_EQ(log.find("registry file"), std::string::npos) << log;
            continue;
        }
        const size_t at = log.find(c.report);
        EXPECT_NE(at, std::string::npos) << log;
        EXPECT_EQ(log.find("ERROR:", log.find("ERROR:") + 1), std::string::npos)
            << "one report for the many reads of one lookup: " << log;
    }
}

TEST_F(BrokenHiveTest, FuzzedFilesNeverCrashOrInventAnInstallation) {
    const Installation v11(dir_, 11);
    const std::string good = kHeader + v11.records(kCU,
                                                   "\"LiveLinkPort\"=dword:0000c350\r\n"
                                                   "\"LiveLinkMaxPort\"=\"50010\"\r\n"
                                                   "\"H\"=hex(2):41,00,\\\r\n  00,00\r\n");
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        writeFile(cu_, mutated(good, random, std::string_view("[]\"\\=@,:-\r\n", 12)));
        // A mutated value is just another value; an installation must still be valid.
        const int found = version(5, 20);
        EXPECT_TRUE(found == 9 || found == 11) << round;
        int first = -1, last = -1;
        const int status = registry().liveLinkPorts(5, 20, first, last);
        EXPECT_TRUE(first == -1 || (first >= 1 && first <= 65535)) << status;
        EXPECT_TRUE(last == -1 || (last >= 1 && last <= 65535)) << status;
    }
}

#endif  // !_WIN32

}  // namespace
