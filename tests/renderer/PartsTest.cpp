// The renderer's pieces without processes: model sets built from streams, the installer's hive
// files, settings files, instance records and the library's timeout variable; exact texts,
// limits and refusals.
#include <gtest/gtest.h>

#include <regex>

#include "RendererTestSupport.hpp"
#include "renderer/Installer.hpp"
#include "renderer/ModelSets.hpp"
#include "renderer/RendererConfig.hpp"
#include "support/WriterHarness.hpp"

namespace vex::test {
namespace {

using raymint::ModelSetStore;

// A set's content on one line: each component's path and the markers of its bodies.
std::string contentText(const Content& content) {
    std::string out;
    for (const auto& [path, markers] : content) {
        out += " " + path + "=";
        for (float m : markers) out += std::to_string(int(m)) + ",";
    }
    return out;
}

// Streams `root` into the store as the add-in does: what it changed, kept and could not fill,
// and the content of the active set afterwards.
std::string take(ModelSetStore& store, const std::shared_ptr<VexGroup>& root) {
    MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), true);
        writeTransfer(&writer, *root);
    }
    raymint::PreparedTransfer transfer = store.prepare(parseString(memory.text(), "<stream>"));
    const raymint::TransferCounts c = transfer.counts;
    store.commit(std::move(transfer));
    std::string set;
    SceneTextWriter writer(set);
    raymint::writeModelSet(*store.find(store.active()), writer);
    return std::to_string(c.changed) + " " + std::to_string(c.kept) + " " +
           std::to_string(c.missing) + contentText(componentContent(parseString(set)));
}

// A sequence of transfers into one store: what each changed, kept and could not fill, and the
// content of the set afterwards.
TEST(ModelSets, UpdatesKeepUnchangedComponentsByNameAndTakeNewPlacements) {
    const auto unchanged = [](const char* name, Groups children = {}) {
        return component(name, false, children, {}, 0);
    };
    const struct Step {
        std::shared_ptr<VexGroup> root;
        std::string counts, content;  // changed kept missing; contentText
    } steps[] = {
        {cart(true), "4 0 0",
         " /Doc/Cart=5, /Doc/Cart/Axle=2, /Doc/Cart/Axle/Wheel=1, /Doc/Cart/Frame=3,4,"},
        {cartOf("Doc", {component("Axle", false,
                                  {component("Wheel", true, {}, {body("Tyre", 11)}, 0)}, {}, 75),
                        unchanged("Frame")}),
         "1 3 0", " /Doc/Cart=5, /Doc/Cart/Axle=2, /Doc/Cart/Axle/Wheel=11, /Doc/Cart/Frame=3,4,"},
        {cartOf("Doc", {unchanged("Axle"), unchanged("Frame", {unchanged("Wheel")})},
                {body("Base", 50)}),
         "1 3 0",
         " /Doc/Cart=50, /Doc/Cart/Axle=2, /Doc/Cart/Frame=3,4, /Doc/Cart/Frame/Wheel=11,"},
        {cartOf("Doc", {unchanged("Axle")}), "0 2 0", " /Doc/Cart=50, /Doc/Cart/Axle=2,"},
        {cartOf("Doc", {unchanged("Axle"), unchanged("Wheel")}), "0 3 0",
         " /Doc/Cart=50, /Doc/Cart/Axle=2, /Doc/Cart/Wheel=11,"},
        {cartOf("Doc", {unchanged("Spare")}), "0 1 1", " /Doc/Cart=50, /Doc/Cart/Spare="},
        {cartOf("Doc", {component("Axle", true)}), "1 1 0", " /Doc/Cart=50, /Doc/Cart/Axle="},
        {cartOf("Alt", {}), "0 0 1", " /Alt/Cart="},
    };
    ModelSetStore store;
    for (const Step& s : steps) EXPECT_EQ(take(store, s.root), s.counts + s.content);
    EXPECT_EQ(store.describe(),
              "<raymint><scene><modelsets><modelset name=\"Alt\" modelset=\"active\"/>"
              "<modelset name=\"Doc\" modelset=\"inactive\"/></modelsets></scene></raymint>");
    EXPECT_EQ(raymint::xmlAttributeText("a&b<c>\"'\x01"), "a&amp;b&lt;c&gt;&quot;&apos;&#1;");
}

TEST(ModelSets, FileNamesAndLogLines) {
    // Names that would clash or escape the folder get a hash of the name (shown as %).
    std::string files;
    for (const char* name : {"Sample Cart (v2)", "a_b", "a/b", "..", "", "a-b"})
        files += std::regex_replace(raymint::modelSetFileName(name), std::regex("-.{8}\\.rmq$"),
                                    "-%.rmq") +
                 "|";
    EXPECT_EQ(files, "Sample Cart (v2).rmq|a_b.rmq|a_b-%.rmq|_.-%.rmq|-%.rmq|a-b.rmq|");
    EXPECT_EQ(raymint::modelSetFileName(std::string(5000, 'x')).size(), 133u);
    EXPECT_EQ(raymint::modelSetFileName("a/b", ".png"),
              raymint::modelSetFileName("a/b").substr(0, 12) + ".png");
    EXPECT_EQ(raymint::transferLine("a\"b\\c\nd", 1, {3, 5, 0}, std::nullopt),
              "modelset \"a\\\"b\\\\c\\x0ad\" bytes 1 changed 3 kept 5 status ok picture -");
    EXPECT_EQ(raymint::failedTransferLine(std::nullopt, 10, "no root"),
              "modelset - bytes 10 changed 0 kept 0 status failed reason \"no root\"");
}

// ---- the installer's hive files -------------------------------------------------------------

raymint::HiveRecord hiveRecord(const std::string& prefix = "/opt/rm", int version = 11) {
    return {false, version, prefix + "/bin/raymint", prefix + "/bin", prefix + "/resources",
            50000, 50010};
}

std::string merge(const std::string& existing, const raymint::HiveRecord& r) {
    std::string out;
    std::string error;
    return raymint::mergeHive(existing, r, out, error) ? out : "ERROR: " + error;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kOurKeys =
    "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\n\"RayMintVersion\"=\"RayMint 11\"\n"
    "\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11]\n"
    "\"BinName\"=\"/opt/rm/bin/raymint\"\n\"BinFolder\"=\"/opt/rm/bin\"\n"
    "\"ResourceFolder\"=\"/opt/rm/resources\"\n"
    "\"LiveLinkPort\"=dword:0000c350\n\"LiveLinkMaxPort\"=dword:0000c35a\n";

TEST(InstallerHive, NewFilesAndMergesHoldExactlyTheRecords) {
    EXPECT_EQ(merge("", hiveRecord()), kHeader + kOurKeys);
    raymint::HiveRecord machine = hiveRecord("/srv/a \"b\"\\c", 12);
    machine.localMachine = true;
    machine.firstPort = 1;
    machine.lastPort = 65535;
    EXPECT_EQ(merge("", machine),
              kHeader +
                  "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan]\n\"RayMintVersion\"=\"RayMint 12\"\n"
                  "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 12]\n"
                  "\"BinName\"=\"/srv/a \\\"b\\\"\\\\c/bin/raymint\"\n"
                  "\"BinFolder\"=\"/srv/a \\\"b\\\"\\\\c/bin\"\n"
                  "\"ResourceFolder\"=\"/srv/a \\\"b\\\"\\\\c/resources\"\n"
                  "\"LiveLinkPort\"=dword:00000001\n\"LiveLinkMaxPort\"=dword:0000ffff\n");

    // Only this version's key and the version value go; everything else stays as it was.
    const std::string base = "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan]\r\n",
                      path = "\"RayMintActivePath\"=\"/opt/RayMint 12/\"\r\n",
                      rest =
                          "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 110]\r\n; a comment\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvan\\RayMint 11]\r\n\"B\"=\"\"\r\n";
    const std::string existing =
        "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n" + base +
        "\"RayMintVersion\"=\"RayMint 12\"\r\n" + path +
        "\"raymintversion\"=hex:01,02,\\\r\n  03,04\r\n\r\n"
        "[hkey_current_user\\software\\corvan\\raymint 11]\r\n\"BinName\"=\"/old\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11\\Extra]\r\n\"x\"=dword:1\r\n"
        "[-HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 11\\Old]\r\n" +
        rest;
    const std::string kept = base + path + "\r\n" + rest;
    const std::string once = merge(existing, hiveRecord());
    EXPECT_EQ(once, "Windows Registry Editor Version 5.00\r\n\r\n" + kept + kOurKeys);
    EXPECT_EQ(merge(once, hiveRecord()), once);
    EXPECT_EQ(merge("REGEDIT4\n", hiveRecord()), "REGEDIT4\n" + kOurKeys);

    // UTF-16 files (either byte order, surrogate pairs included) are written back as UTF-8.
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n; K\u00fc \u20ac \U0001f600";
    std::string little = "\xff\xfe", big = "\xfe\xff";
    for (char16_t c : text) {
        little += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        big += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    }
    const std::string utf8 = kHeader.substr(0, kHeader.size() - 1) +
                             "\r\n; K\xc3\xbc \xe2\x82\xac \xf0\x9f\x98\x80\n" + kOurKeys;
    EXPECT_EQ(merge(little, hiveRecord()), utf8);
    EXPECT_EQ(merge(big, hiveRecord()), utf8);
    // A UTF-8 file may end in the middle of nothing but a whole character.
    EXPECT_EQ(merge(kHeader + "; \xc3\xbc", hiveRecord()), kHeader + "; \xc3\xbc\n" + kOurKeys);
}

TEST(InstallerHive, RefusesWhatItCannotWriteOrDoesNotUnderstand) {
    EXPECT_EQ(merge("not a hive\n", hiveRecord()),
              "ERROR: the hive file is not a registry file (its first line is not "
              "\"Windows Registry Editor Version 5.00\")");
    for (const std::string& file :
         {kHeader + "\xff\n", kHeader + "; \xc3", kHeader + "; \xe2\x82", kHeader + "; \xc0\xaf\n",
          "\xff\xfe" + std::string("W\0\x00\xd8", 4), "\xff\xfe" + std::string("W\0\x00\xdc", 4),
          std::string("\xff\xfeW")})
        EXPECT_EQ(merge(file, hiveRecord()), "ERROR: the hive file is not UTF-8 or UTF-16 text")
            << file;
    const std::pair<raymint::HiveRecord, std::string> records[] = {
        {hiveRecord("/opt", 4), "ERROR: version 4 is not within 5 to 99"},
        {hiveRecord("/opt", 100), "ERROR: version 100 is not within 5 to 99"},
        {hiveRecord("/a\nb"), "ERROR: BinName holds a control character"},
        {hiveRecord("/\xc3"), "ERROR: BinName \"/\xc3/bin/raymint\" is not valid UTF-8"},
        {hiveRecord("/" + std::string(250, 'p')),
         "ERROR: BinName \"/" + std::string(250, 'p') +
             "/bin/raymint\" is longer than 259 characters, which the add-in cannot read"},
    };
    for (const auto& [r, message] : records) EXPECT_EQ(merge("", r), message);
    // 259 characters of UTF-16 are fine, however many bytes they take.
    std::string euros;
    for (int i = 0; i < 246; ++i) euros += "\xe2\x82\xac";
    EXPECT_EQ(merge("", hiveRecord("/" + euros)).substr(0, kHeader.size()), kHeader);
}

// ---- settings, records, timeouts ------------------------------------------------------------

TEST(RendererSettings, FilesAreReadAndWrittenBack) {
    const std::string canonical =
        "# RayMint stand-in renderer settings, written by raymint-install.\n"
        "version = 12\nports = 41000-41002\nidle = 5\noutput = /srv/out\nclient_timeout = 4\n"
        "max_stream_bytes = 1000\nkeep_streams = 1\n"
        "# Diagnostics: a renderer that fails on purpose.\n"
        "die_after_bytes = 7\nstall_after_bytes = 8\nrefuse_describe = 1\n";
    raymint::RendererConfig c;
    std::string error;
    ASSERT_TRUE(raymint::parseConfigText(
        "# comment\n\n  version = 12  \r\nports=41000-41002\nidle = 5\noutput = /srv/out\n"
        "client_timeout = 4\nmax_stream_bytes = 1000\ndie_after_bytes = 7\n"
        "stall_after_bytes = 8\nrefuse_describe = 1\nkeep_streams = 1\n",
        "f", c, error))
        << error;
    EXPECT_EQ(raymint::configText(c), canonical);

    const auto bad = [](const std::string& key, const std::string& value, const char* expected) {
        return std::pair{key + " = " + value + "\n",
                         "f:1: bad value \"" + value + "\" for " + key + " (" + expected + ")"};
    };
    const char* ports = "expected FIRST-LAST with 1 <= FIRST <= LAST <= 65535";
    const std::pair<std::string, std::string> refused[] = {
        bad("version", "4", "expected a major version from 5 to 99"),
        {"\nports = 2-1\n", "f:2: bad value \"2-1\" for ports (" + std::string(ports) + ")"},
        bad("ports", "1-65536", ports),
        bad("ports", "1-", ports),
        bad("ports", "-1", ports),
        bad("idle", "1.5", "expected seconds, 0 for never"),
        bad("output", "relative", "expected an absolute folder path"),
        bad("client_timeout", "0", "expected seconds, at least 1"),
        bad("die_after_bytes", "99999999999999999999999", "expected a byte count, 0 for off"),
        bad("refuse_describe", "yes", "expected 0 or 1"),
        {"colour = red\n", "f:1: unknown setting \"colour\""},
        {"just words\n", "f:1: expected \"key = value\""},
    };
    for (const auto& [text, message] : refused) {
        EXPECT_FALSE(raymint::parseConfigText(text, "f", c, error)) << text;
        EXPECT_EQ(error, message);
    }
    // Single ports and ranges of one port.
    for (const char* text : {"ports = 7\n", "ports = 7-7\n", "ports = 65535\n"})
        EXPECT_TRUE(raymint::parseConfigText(text, "f", c, error)) << text << error;
    EXPECT_EQ(std::tie(c.firstPort, c.lastPort), std::make_tuple(65535, 65535));
}

TEST(InstanceRecords, TextAndItsReading) {
    const raymint::InstanceRecord r{11, 1234, 50000, 98765};
    const std::string text = raymint::recordText(r);
    EXPECT_EQ(text, "raymint-instance 1\nversion 11\npid 1234\nport 50000\nstart 98765\n");
    EXPECT_EQ(raymint::parseRecord(text + "future 1\n"), r);
    for (const char* line :
         {"", "raymint-instance 2", "version 0", "version 100", "version 11x", "version", "pid 0",
          "pid 99999999999", "port 70000", "start -1", "start", "version 11\nversion 12"}) {
        // The record with the line of the same key replaced.
        const std::string key = std::string(line).substr(0, std::string(line).find(' '));
        std::string b;
        for (const char* field : {"raymint-instance 1", "version 11", "pid 1", "port 1", "start 1"})
            b += (std::string(field).rfind(key, 0) == 0 ? std::string(line) : field) + "\n";
        EXPECT_EQ(raymint::parseRecord(b), std::nullopt) << b;
    }
}

TEST(InstanceRecords, OnlyLiveProcessesCount) {
    const auto mine = raymint::processStartTime(::getpid());
    ASSERT_TRUE(mine.has_value());
    EXPECT_FALSE(raymint::recordIsLive({11, ::getpid(), 1, *mine + 1}));
    EXPECT_EQ(raymint::processStartTime(-5), std::nullopt);
    // A zombie is no renderer; its stale record goes when asked.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    for (int i = 0; i < 2000 && raymint::processStartTime(child).has_value(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(raymint::processStartTime(child), std::nullopt);
    TempDir dir;
    const std::string folder = dir.path().string();
    std::string error;
    const raymint::InstanceRecord me{12, ::getpid(), 4242, *mine};
    ASSERT_TRUE(raymint::publishRecord(folder, me, error)) << error;
    writeFile(raymint::recordPath(folder, child), raymint::recordText({12, child, 4243, 1}));
    EXPECT_EQ(raymint::liveInstances(folder), std::vector{me});
    EXPECT_TRUE(fs::exists(raymint::recordPath(folder, child)));
    EXPECT_EQ(raymint::liveInstances(folder, true), std::vector{me});
    EXPECT_FALSE(fs::exists(raymint::recordPath(folder, child)));
    ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace vex::test
