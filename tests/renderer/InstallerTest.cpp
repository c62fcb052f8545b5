// raymint-install: the hive file it writes (exact text, merge with what is there), what the
// add-in's registry reader then finds, the installed files, and its refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "RendererTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "renderer/Installer.hpp"

namespace vex::test {
namespace {

using raymint::HiveRecord;

HiveRecord record(const std::string& prefix = "/opt/rm") {
    HiveRecord r;
    r.version = 11;
    r.binFolder = prefix + "/bin";
    r.binName = prefix + "/bin/raymint";
    r.resourceFolder = prefix + "/resources";
    r.firstPort = 50000;
    r.lastPort = 50010;
    return r;
}

std::string merge(const std::string& existing, const HiveRecord& r) {
    std::string out;
    std::string error;
    if (!raymint::mergeHive(existing, r, out, error)) return "ERROR: " + error;
    return out;
}

const std::string kOurKeys =
    "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\n"
    "\"RayMintVersion\"=\"RayMint 11\"\n"
    "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11]\n"
    "\"BinName\"=\"/opt/rm/bin/raymint\"\n"
    "\"BinFolder\"=\"/opt/rm/bin\"\n"
    "\"ResourceFolder\"=\"/opt/rm/resources\"\n"
    "\"LiveLinkPort\"=dword:0000c350\n"
    "\"LiveLinkMaxPort\"=dword:0000c35a\n";

std::string narrow(const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += static_cast<char>(c);
    return out;
}

TEST(InstallerHive, NewFileHasExactlyTheRecords) {
    EXPECT_EQ(merge("", record()), "Windows Registry Editor Version 5.00\n" + kOurKeys);

    HiveRecord machine = record("/srv/a \"b\"\\c");
    machine.localMachine = true;
    machine.version = 12;
    machine.firstPort = 1;
    machine.lastPort = 65535;
    EXPECT_EQ(merge("", machine),
              "Windows Registry Editor Version 5.00\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan]\n"
              "\"RayMintVersion\"=\"RayMint 12\"\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 12]\n"
              "\"BinName\"=\"/srv/a \\\"b\\\"\\\\c/bin/raymint\"\n"
              "\"BinFolder\"=\"/srv/a \\\"b\\\"\\\\c/bin\"\n"
              "\"ResourceFolder\"=\"/srv/a \\\"b\\\"\\\\c/resources\"\n"
              "\"LiveLinkPort\"=dword:00000001\n"
              "\"LiveLinkMaxPort\"=dword:0000ffff\n");
}

TEST(InstallerHive, MergeReplacesOnlyThisVersionsKey) {
    const std::string existing =
        "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\r\n"
        "\"RayMintVersion\"=\"RayMint 12\"\r\n"
        "\"RayMintActivePath\"=\"/opt/corvan/RayMint 12/\"\r\n"
        "\"raymintversion\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\r\n"
        "[hkey_current_user\\software\\corvan\\raymint 11]\r\n"
        "\"BinName\"=\"/old/bin/raymint\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11\\Extra]\r\n"
        "\"x\"=dword:1\r\n"
        "[-HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11\\Old]\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 110]\r\n"
        "\"BinName\"=\"/keep/110\"\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12]\r\n"
        "\"BinName\"=\"/opt/corvan/RayMint 12/bin/raymint\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 11]\r\n"
        "\"BinName\"=\"/other/hive\"\r\n";
    EXPECT_EQ(merge(existing, record()),
              "Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\r\n"
              "\"RayMintActivePath\"=\"/opt/corvan/RayMint 12/\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 110]\r\n"
              "\"BinName\"=\"/keep/110\"\r\n"
              "; a comment\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12]\r\n"
              "\"BinName\"=\"/opt/corvan/RayMint 12/bin/raymint\"\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 11]\r\n"
              "\"BinName\"=\"/other/hive\"\r\n" +
                  kOurKeys);

    // Merging again changes nothing.
    const std::string once = merge(existing, record());
    EXPECT_EQ(merge(once, record()), once);
}

TEST(InstallerHive, Utf16FilesAreReadAndWrittenAsUtf8) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\SOFTWARE\\K\xc3\xbc]\r\n";
    std::string utf16 = "\xff\xfe";
    for (unsigned char c : std::string("Windows Registry Editor Version 5.00\r\n"
                                       "[HKEY_CURRENT_USER\\SOFTWARE\\K")) {
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    utf16 += std::string("\xfc\0]\0\r\0\n\0", 8);
    EXPECT_EQ(merge(utf16, record()), text + kOurKeys);
}

TEST(InstallerHive, RefusesWhatItCannotWriteOrDoesNotUnderstand) {
    EXPECT_EQ(merge("not a hive\n", record()),
              "ERROR: the hive file is not a registry file (its first line is not \"Windows "
              "Registry Editor Version 5.00\")");
    EXPECT_EQ(merge("Windows Registry Editor Version 5.00\n\xff\n", record()),
              "ERROR: the hive file is not UTF-8 or UTF-16 text");
    HiveRecord r = record();
    r.version = 4;
    EXPECT_EQ(merge("", r), "ERROR: version 4 is not within 5 to 99");
    r.version = 100;
    EXPECT_EQ(merge("", r), "ERROR: version 100 is not within 5 to 99");
    EXPECT_EQ(merge("", record("/a\nb")), "ERROR: BinName holds a control character");
    EXPECT_EQ(merge("", record("/\xc3")),
              "ERROR: BinName \"/\xc3/bin/raymint\" is not valid UTF-8");
    const std::string longPrefix = "/" + std::string(250, 'p');
    EXPECT_EQ(merge("", record(longPrefix)).substr(0, 16), "ERROR: BinName \"");
    EXPECT_NE(merge("", record(longPrefix)).find("longer than 259 characters"), std::string::npos);
}

class InstallerProgram : public ::testing::Test {
  protected:
    TempDir dir;
    fs::path prefix = dir / "Ray Mint";
    fs::path hive = dir / "hives" / "HKEY_CURRENT_USER.reg";
};

TEST_F(InstallerProgram, InstallsFilesAndTheAddInFindsThem) {
    writeFile(hive,
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
              "\"Keep\"=\"me\"\n");
    const RunResult r =
        run(RAYMINT_INSTALL_EXE, {"--prefix", prefix.string(), "--hive", hive.string(), "--version",
                                  "12", "--ports", "41000-41003", "--idle", "7"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string p = prefix.string();
    EXPECT_EQ(r.output, "installed RayMint 12 in " + p + " (ports 41000-41003)\nrecorded in " +
                            hive.string() +
                            " under HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12\n");
    EXPECT_EQ(readFile(hive),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
              "\"Keep\"=\"me\"\n"
              "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\n"
              "\"RayMintVersion\"=\"RayMint 12\"\n"
              "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12]\n"
              "\"BinName\"=\"" +
                  p +
                  "/bin/raymint\"\n"
                  "\"BinFolder\"=\"" +
                  p +
                  "/bin\"\n"
                  "\"ResourceFolder\"=\"" +
                  p +
                  "/resources\"\n"
                  "\"LiveLinkPort\"=dword:0000a028\n"
                  "\"LiveLinkMaxPort\"=dword:0000a02b\n");
    EXPECT_EQ(readFile(prefix / "etc" / "raymint.conf"),
              "# RayMint stand-in renderer settings, written by raymint-install.\n"
              "version = 12\nports = 41000-41003\nidle = 7\nclient_timeout = 30\n"
              "max_stream_bytes = 4294967296\n");
    struct stat st {};
    ASSERT_EQ(::stat((prefix / "bin" / "raymint").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_EQ(readFile(prefix / "bin" / "raymint"), readFile(RAYMINT_EXE));
    EXPECT_EQ(readFile(prefix / "bin" / "vexraymintlive6_64.so"), readFile(RAYMINT_LIBRARY));
    EXPECT_TRUE(fs::is_directory(prefix / "resources"));
    EXPECT_TRUE(fs::is_directory(prefix / "var" / "instances"));
    EXPECT_TRUE(fs::is_directory(prefix / "var" / "output"));

    // The add-in's own reader of hive files takes the records as written.
    ScopedEnv user("VEX_REGISTRY_HKCU", hive.string());
    ScopedEnv machine("VEX_REGISTRY_HKLM", "");
    const InstallationRegistry& registry = InstallationRegistry::instance();
    int version = 0;
    EXPECT_EQ(narrow(registry.binFolder(11, 12, &version)), p + "/bin");
    EXPECT_EQ(version, 12);
    EXPECT_EQ(narrow(registry.binName(11, 12)), p + "/bin/raymint");
    EXPECT_EQ(narrow(registry.resourceFolder(11, 12)), p + "/resources");
    int first = 0;
    int last = 0;
    EXPECT_EQ(registry.liveLinkPorts(5, 20, first, last), InstallationRegistry::kPortsRead);
    EXPECT_EQ(first, 41000);
    EXPECT_EQ(last, 41003);

    // A second version beside it keeps the first.
    const RunResult again =
        run(RAYMINT_INSTALL_EXE, {"--prefix", (dir / "eleven").string(), "--hive", hive.string()});
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(narrow(registry.binName(12, 12)), p + "/bin/raymint");
    EXPECT_EQ(narrow(registry.binName(11, 11)), (dir / "eleven").string() + "/bin/raymint");
}

TEST_F(InstallerProgram, KnobsAndMachineHiveGoWhereTheyBelong) {
    const RunResult r =
        run(RAYMINT_INSTALL_EXE,
            {"--prefix", prefix.string(), "--hive", hive.string(), "--hklm", "--die-after", "100",
             "--stall-after", "200", "--refuse-describe", "--keep-streams", "--max-stream-bytes",
             "9", "--output", (dir / "out").string(), "--client-timeout", "3"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(readFile(hive).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 11]"),
              std::string::npos);
    EXPECT_EQ(readFile(prefix / "etc" / "raymint.conf"),
              "# RayMint stand-in renderer settings, written by raymint-install.\n"
              "version = 11\nports = 50000-50010\nidle = 0\noutput = " +
                  (dir / "out").string() +
                  "\nclient_timeout = 3\nmax_stream_bytes = 9\nkeep_streams = 1\n"
                  "# Diagnostics: a renderer that fails on purpose.\n"
                  "die_after_bytes = 100\nstall_after_bytes = 200\nrefuse_describe = 1\n");
    EXPECT_TRUE(fs::is_directory(dir / "out"));
}

TEST_F(InstallerProgram, BadArgumentsAreRefusedWithoutWritingAnything) {
    const std::string p = prefix.string();
    const std::string h = hive.string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--hive", h}, "raymint-install: --prefix DIR is required\n"},
        {{"--prefix", p}, "raymint-install: --hive FILE is required\n"},
        {{"--prefix", p, "--hive", h, "--version", "4"},
         "raymint-install: --version: bad value \"4\" for version (expected a major version "
         "from 5 to 99)\n"},
        {{"--prefix", p, "--hive", h, "--ports", "50010-50000"},
         "raymint-install: --ports: bad value \"50010-50000\" for ports (expected FIRST-LAST "
         "with 1 <= FIRST <= LAST <= 65535)\n"},
        {{"--prefix", p, "--hive", h, "--idle", "-1"},
         "raymint-install: --idle: bad value \"-1\" for idle (expected seconds, 0 for never)\n"},
        {{"--prefix", p, "--hive", h, "--bogus"},
         "raymint-install: unknown argument \"--bogus\"\n"},
        {{"--prefix", p, "--hive"}, "raymint-install: --hive needs a value\n"},
        {{"--prefix", p, "--hive", h, "--idle"}, "raymint-install: --idle needs a value\n"},
    };
    for (const auto& [args, message] : cases) {
        const RunResult r = run(RAYMINT_INSTALL_EXE, args);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_EQ(r.output, message + "Try 'raymint-install --help'.\n");
    }
    EXPECT_FALSE(fs::exists(prefix));
    EXPECT_FALSE(fs::exists(hive));

    // A hive file that is not one is left alone, and nothing is installed.
    writeFile(hive, "garbage\n");
    const RunResult r = run(RAYMINT_INSTALL_EXE, {"--prefix", p, "--hive", h});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "raymint-install: " + h +
                            ": the hive file is not a registry file (its first line is not "
                            "\"Windows Registry Editor Version 5.00\")\n");
    EXPECT_EQ(readFile(hive), "garbage\n");
    EXPECT_FALSE(fs::exists(prefix));

    const RunResult help = run(RAYMINT_INSTALL_EXE, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: raymint-install --prefix DIR --hive FILE", 0), 0u);
}

}  // namespace
}  // namespace vex::test
