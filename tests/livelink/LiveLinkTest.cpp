// The installation lookup, the renderer's start, the library loader and the live-link flow.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>  // the rest of POSIX through TestFiles.hpp
#endif

#include <regex>

#include "LiveLinkTestSupport.hpp"
#include "livelink/InstallationRegistry.hpp"
#include "livelink/ProcessPlatform.hpp"
#include "livelink/RepeatLinkFactory.hpp"
#include "livelink/raymintlive_loader.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;
using vex::RendererInstance;
using Records = std::vector<RendererInstance>;
using Chosen = std::pair<std::string, int>;
namespace reg = vex::platform;

const std::string kStart = "scene_api\nid 1\nquery_api\ninstances\n";
const std::string kEmptyScene = "<raymint><scene><modelsets/><lights/></scene></raymint>";
const fs::path kData = buildPath(DATA_DIR), kProbe = buildPath(PROBE_PATH);

const InstallationRegistry& registry() {
    return InstallationRegistry::instance();
}
// The bin folder chosen for the range, with its version (-1 when none).
Chosen chosen(int minVersion = 11, int maxVersion = 12) {
    int version = -1;
    const std::wstring folder = registry().binFolder(minVersion, maxVersion, &version);
    return {*reg::utf8FromWide(folder), version};
}
void expectNoChildren() {
#ifndef _WIN32
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child (or zombie) was left behind";
    EXPECT_EQ(errno, ECHILD);
#endif
}

// A log line of the loader; `pointer` is printed as the platform prints one.
std::string line(int number, const std::string& level, const std::string& message,
                 const void* pointer = &kData) {
    std::ostringstream out;
    out << "raymintlive_loader.cpp:" << number << " - 10:00:00.000 " << level << ":  " << message;
    if (pointer != &kData) out << pointer;
    return out.str() + "\n";
}
std::string instances(int version, int64_t pid, int port) {
    return "<instances><instance><version_major>" + std::to_string(version) +
           "</version_major><process_id>" + std::to_string(pid) + "</process_id><livelink_port>" +
           std::to_string(port) + "</livelink_port></instance></instances>";
}
// A scene description showing `shown` (active) and "Old" (inactive) model sets.
std::string showing(const std::string& shown) {
    return "<raymint><scene><modelsets><m name='Old' modelset='inactive'/><m name='" + shown +
           "' modelset='active'/></modelsets></scene></raymint>";
}
std::string connect(const std::string& host, int port, int mode) {
    return "connect " + host + " " + std::to_string(port) + " " + std::to_string(mode) + "\n";
}
// The ports 50000 to 50003.
const std::string kPorts =
    value("LiveLinkPort", "dword:0000c350") + value("LiveLinkMaxPort", "dword:0000c353");

// Each case of a data file is a line with its answer on the next, after "=>" (line feeds
// as spaces); the file comes back whole when every answer is right.
template <class Answer>
void expectAnswers(const std::string& name, Answer answer) {
    const std::vector<std::string> lines = readLines(kData / name);
    std::string report;
    for (size_t i = 0; i + 1 < lines.size(); i += 2)
        report +=
            lines[i] + "\n=>" + std::regex_replace(answer(lines[i]), std::regex("\n"), " ") + "\n";
    EXPECT_EQ(report, readFile(kData / name));
}

class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vex::log_test::closeLogFile();
        vex::log_test::setClock(
            [] { return uint64_t{7}; },
            [](char* text, size_t size) { return std::snprintf(text, size, "10:00:00") > 0; });
        fs::create_directories(resources_);
        writeFile(noProgram_, "not a program\n");
        install(kPorts);
        factory_.setVersionRange(7, 20);
        factory_.setModelSetName("Doc");
    }
    void TearDown() override {
        factory_.close();
        vex_release_live_api();
        vex::log_test::closeLogFile();
        vex::log_test::setClock(nullptr, nullptr);
        if (handle_ != nullptr) closeLibrary(handle_);
        EXPECT_FALSE(isLoaded(library_)) << "the library stayed loaded";
    }

    // An installation whose renderer can be started (the probe) or not (no program).
    void install(const std::string& values, bool launchable = false) {
        hives_.user(
            installationSection(kCU, 11, launchable ? kProbe : noProgram_, resources_, bin_) +
            values);
    }
    static void place(const fs::path& library, const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(library, as, fs::copy_options::overwrite_existing);
    }
    // Opened first, so that the loader gets this very copy and its script.
    LiveScript& open() {
        place(buildPath(LIVE_FULL), library_);
        handle_ = openLibrary(library_);
        script_ = liveScript(handle_);
        return *script_;
    }
    std::string journal() { return std::exchange(script_->journal, ""); }
    std::string log() const { return readFile(resources_ / "sceneapi.log"); }
    void process(int64_t pid, std::optional<std::string> description, bool attachable = true) {
        script_->processes[pid] = {attachable, std::move(description)};
    }
    Records listed(const std::optional<std::string>& text) {
        script_->instances = {text};
        script_->instancesCalls = 0;
        return factory_.queryInstances(script_->query);
    }

    TempDir dir_;
    fs::path bin_ = dir_ / "bin", resources_ = dir_ / "resources", noProgram_ = dir_ / "raymint";
    fs::path library_ = bin_ / buildPath(LIVE_FULL).filename();
    TestHives hives_;
    ProbeReport probe_{dir_};
    void* handle_ = nullptr;
    LiveScript* script_ = nullptr;
    vex::RepeatLinkFactory factory_;
    const Installation v11_{dir_, 11}, v12_{dir_, 12};  // for the registry's choice
};

// Per hive the active path, then the version value, then the scan from the highest version
// down; across hives the higher version, the current user on a tie.
TEST_F(LiveTest, ChoiceOfTheInstallation) {
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

// A key per version in data/lookup.reg: stored types, buffer limits, invalid paths, ports.
TEST_F(LiveTest, ValuesOfEveryKindAndSize) {
    const Installation v1(dir_, 1);
    const std::string exe = v1.binName.string(), res = v1.resources.string();
    // `text` as UTF-16LE bytes with a NUL, stored under `type`.
    auto stored = [](const std::string& type, const std::string& text) {
        std::string bytes;
        char byte[8];
        for (char c : text + '\0')
            bytes += std::string(byte, std::snprintf(byte, 8, ",%02x,00", c & 0xff));
        return "hex(" + type + "):" + bytes.substr(1);
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
    std::ostringstream answers;
    for (int v = 1; v <= 28; ++v) {
        int first = -1, last = -1;
        const int status = registry().liveLinkPorts(v, v, first, last);
        const auto [folder, found] = chosen(v, v);
        answers << v << ": " << found << " [" << folder << "] [" << narrow(registry().binName(v, v))
                << "] [" << narrow(registry().resourceFolder(v, v)) << "] ports " << status << " "
                << first << " " << last << "\n";
    }
    EXPECT_EQ(replaced(replaced(answers.str(), exe, "@EXE@"), res, "@RES@"),
              readFile(kData / "lookup.txt"));
    reg::RegKey key = nullptr;
    int found = 99;
    EXPECT_EQ(registry().findInstallationKey(30, 40, key, found), 1168);
    EXPECT_EQ(std::pair(key, found), std::pair(reg::RegKey(nullptr), 99)) << "left as it was";
    ASSERT_EQ(registry().findInstallationKey(3, 3, key, found), 0);
    EXPECT_EQ(found, 3);
    EXPECT_EQ(reg::regCloseKey(key), 0);
}

// Detached, without arguments, with the caller's environment and directory; on POSIX in a
// session of its own, with none of the host's files and no child left behind.
TEST_F(LiveTest, LaunchStartsTheExecutableAsTheRendererExpects) {
    ScopedEnv mark("VEX_PROBE_MARK", "inherited environment");
    EXPECT_FALSE(registry().launchRenderer(11, 12)) << "no installation";
    hives_.user(section(kCU, "RayMint 11") + value("BinName", regString(kProbe.string())) +
                value("ResourceFolder", regString(v11_.resources.string())));
    std::string expected =
        "1 " + kProbe.string() + " " + fs::current_path().string() + " inherited environment ";
#ifdef _WIN32
    // The system makes the command line from the application name (Wine quotes it).
    expected += "\"" + kProbe.string() + "\"";
#else
    expected += "/dev/null,/dev/null,/dev/null,";
#endif
    ASSERT_TRUE(registry().launchRenderer(11, 12));
    expectNoChildren();
    auto report = probe_.report();
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
// A broken or hostile hive file is reported once, in the log of the installation still
// found, and never blocks the lookup; the good lines of a readable file still count.
TEST_F(LiveTest, BrokenHiveFilesAreReportedAndIgnored) {
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
        {kHeader + value("BinName", "\"/bin/sh\"") + v11_.records(kCU), 11,
         "line 3: value outside any key\n"},
        {text + std::string(1u << 20, ';'), 9, "is larger than 1048576 bytes" + ignored},
        {le, 11, ""},
        {"fifo", 9, "is not a regular file" + ignored},
    };
    for (const auto& c : cases) {
        vex::log_test::closeLogFile();
        fs::remove(v9.resources / "sceneapi.log");
        fs::remove(v11_.resources / "sceneapi.log");
        fs::remove_all(cu);
        EXPECT_TRUE(c.bytes != "fifo" || ::mkfifo(cu.c_str(), 0600) == 0);
        if (c.bytes != "fifo") writeFile(cu, c.bytes);
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

// A file of the other width under the 32-bit name, tried first, just fails to load.
TEST_F(LiveTest, LoaderTakesTheLibraryOfTheBinFolderOnceAndReleasesIt) {
    LiveScript& script = open();
    writeFile(bin_ / ("vexraymintlive6_32" + library_.extension().string()),
              "\177ELF of the other width");
    EXPECT_EQ(static_cast<const void*>(vex_get_scene_api(11, 12)), script.scene);
    EXPECT_EQ(vex_get_query_api(30, 40), script.query) << "once loaded, the range is not looked at";
    EXPECT_EQ(std::regex_replace(log(), std::regex("(loader: )0x[0-9a-f]+"), "$1P"),
              onDisk(line(153, "DEBUG4", bin_.string()) +
                     line(218, "DEBUG4", "initialize shared handle: ", handle_) +
                     line(245, "DEBUG4", "Raymint live: ", script.root) +
                     line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: P")));
    journal();
    vex_release_live_api();
    vex_release_live_api();  // nothing loaded: nothing happens
    EXPECT_EQ(journal(), "destroy 1\n");
}

TEST_F(LiveTest, NoLibraryOrNoRootObjectIsReleasedAndTriedAgain) {
    const std::string folder = line(153, "DEBUG4", bin_.string());
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log(), onDisk(folder + line(218, "DEBUG4", "initialize shared handle: ", nullptr) +
                            line(234, "WARNING", "NO shared handle")));
    // A library without its entry point is released again.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    place(buildPath(LIVE_NO_ENTRY), library_);
    EXPECT_EQ(vex_get_query_api(11, 12), nullptr);
    EXPECT_FALSE(isLoaded(library_)) << "not released";
    EXPECT_EQ(std::regex_replace(log(), std::regex("0x[0-9a-f]+"), "P"),
              onDisk(line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: ", nullptr) +
                     folder + line(218, "DEBUG4", "initialize shared handle: P") +
                     line(245, "DEBUG4", "Raymint live: ", nullptr)));
    // No installation in the range: nothing is logged. A hostile bin folder: one line.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    EXPECT_EQ(vex_get_scene_api(12, 20), nullptr);
    EXPECT_FALSE(fs::exists(resources_ / "sceneapi.log"));
    hives_.user(installationSection(kCU, 11, noProgram_, resources_, dir_ / "b\x1b[2Jin"));
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(153, "DEBUG4", (dir_ / "b\\x1b[2Jin").string())));
}

// Numbers read like strtol at any depth below an instance; all three, each of 32 bits.
TEST_F(LiveTest, InstanceLists) {
    open();
    factory_.setVersionRange(INT32_MIN, INT32_MAX);
    expectAnswers("instances.txt", [&](const std::string& text) {
        std::ostringstream out;
        for (const RendererInstance& r : listed(text))
            out << " " << r.versionMajor << "/" << r.processId << "/" << r.liveLinkPort;
        return out.str();
    });
    auto nested = [](size_t levels, const std::string& text) {
        std::string open, close;
        for (size_t i = 0; i < levels; ++i) open += "<n>", close += "</n>";
        return "<instances><i>" + open + text + close + "</i></instances>";
    };
    const std::string whole = instances(8, 1, 2);
    EXPECT_EQ(listed(nested(90, whole)), (Records{{8, 1, 2}}));
    EXPECT_EQ(listed(nested(100000, whole)), Records{});
    for (size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_EQ(listed(whole.substr(0, cut)), Records{}) << "cut at " << cut;
    EXPECT_EQ(listed(std::nullopt), Records{});
    // The range is inclusive, and an inverted one holds nothing.
    const std::string four = "<i>" + instances(10, 1, 2) + instances(11, 1, 2) +
                             instances(12, 1, 2) + instances(13, 1, 2) + "</i>";
    factory_.setVersionRange(11, 12);
    EXPECT_EQ(listed(four), (Records{{11, 1, 2}, {12, 1, 2}}));
    factory_.setVersionRange(12, 11);
    EXPECT_EQ(listed(four), Records{});
}

// The renderer showing the model set wins, then (when accepted) any renderer, then one
// with an empty scene; the higher version wins, the first of equal ones stays. Lines of
// data/ranking.txt: whether any is accepted and the candidates (version/process/port),
// then what is chosen, whether the model set was found, and the calls made.
TEST_F(LiveTest, RankingOfTheRenderers) {
    open();
    const std::optional<std::string> descriptions[] = {
        kEmptyScene,    showing("Doc"), showing("Doc"), "<r><scene/><x><y/></x></r>",
        showing("Not"), showing("Doc"), std::nullopt,   "<r><scene><m name='Doc'/></scene></r>",
        "<r><scene>",   showing("Doc"), "<r>text</r>"};
    for (int pid = 1; pid <= 11; ++pid) process(pid, descriptions[pid - 1], pid != 6);
    expectAnswers("ranking.txt", [&](const std::string& text) {
        std::istringstream words(text);
        Records candidates;
        int any = 0;
        char slash;
        words >> any;
        for (RendererInstance r;
             words >> r.versionMajor >> slash >> r.processId >> slash >> r.liveLinkPort;)
            candidates.push_back(r);
        factory_.setAcceptAnyInstance(any != 0);
        const RendererInstance c = factory_.pickInstance(candidates, script_->query);
        return " " + std::to_string(c.versionMajor) + "/" + std::to_string(c.processId) + "/" +
               std::to_string(c.liveLinkPort) + (factory_.foundModelSet() ? " found: " : ": ") +
               journal();
    });
}

TEST_F(LiveTest, ReportedPortOnLocalhostThenReuseThenClose) {
    LiveScript& script = open();
    script.instances = {instances(11, 4242, 50100)};
    process(4242, showing("Doc"));
    script.acceptedPorts = {50100};
    vexScene_api* scene = factory_.scene_api();
    ASSERT_EQ(static_cast<const void*>(scene), script.scene) << factory_.errorMessage();
    EXPECT_EQ(journal(),
              kStart + "attach 4242\ndescribe\ndetach\n" + connect("localhost", 50100, 4));
    EXPECT_EQ(factory_.scene_api(), scene);
    EXPECT_EQ(journal(), "") << "the second request asks nothing";
    factory_.close();
    factory_.close();
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n") << "closing twice closes once";
    // Loaded again after the unload; a failed disconnect is reported; the destructor closes.
    script.disconnectResult = false;
    ASSERT_NE(factory_.scene_api(), nullptr);
    factory_.close();
    EXPECT_EQ(factory_.errorMessage(),
              "Disconnect failed. The renderer may not have received everything.");
    {
        vex::RepeatLinkFactory factory;
        factory.setModelSetName("Doc");
        ASSERT_NE(factory.scene_api(), nullptr);
        journal();
    }
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n");
}

// A failure keeps the library for the next attempt. Lines of data/failures.txt: scene and
// query interface given, instance list, the two port values ("-": none); then the message
// and the calls made: a refused reported port is the only one tried, without one the
// registry's range, lowest first.
TEST_F(LiveTest, FailuresAndTheirMessages) {
    LiveScript& script = open();
    process(7, kEmptyScene);
    factory_.setVersionRange(11, 12);
    expectAnswers("failures.txt", [&](const std::string& text) {
        std::vector<std::string> f;
        std::string rest = text + " | ";
        for (size_t at; (at = rest.find(" | ")) != std::string::npos; rest.erase(0, at + 3))
            f.push_back(rest.substr(0, at));
        script.sceneInterface = f[0][0] == '1';
        script.queryInterface = f[0][2] == '1';
        script.instances = {f[1]};
        install((f[2] == "-" ? "" : value("LiveLinkPort", f[2])) +
                (f[3] == "-" ? "" : value("LiveLinkMaxPort", f[3])));
        if (f[2] == "no installation")
            hives_.user(f[3] == "-" ? ""
                                    : installationSection(kCU, 11, noProgram_, resources_, bin_) +
                                          value("BinName", "dword:0000002e"));
        EXPECT_EQ(factory_.scene_api(), nullptr) << text;
        const std::string got = " " + factory_.errorMessage() + " | " + journal();
        factory_.close();
        EXPECT_EQ(journal(), "") << "not connected: close does nothing";
        return got;
    });
    EXPECT_FALSE(fs::exists(dir_ / "probe-report")) << "started";
    install(kPorts);
    script.acceptedPorts = {50003};
    EXPECT_NE(factory_.scene_api(), nullptr);
    EXPECT_EQ(factory_.errorMessage(), "") << "a success clears the message";
    EXPECT_EQ(script.initCalls, 1) << "loaded once for all attempts";
}

// After a launch the list is polled until the renderer shows, for at most the attempts
// given (the first look counts as one), then the registry's ports are tried.
TEST_F(LiveTest, LaunchThenWaitUntilTheRendererIsListed) {
    LiveScript& script = open();
    process(9, kEmptyScene);
    script.acceptedPorts = {50100, 50001};
    const std::string none = "<instances/>", polls = "instances\ninstances\ninstances\n";
    const std::string found =
        kStart + polls + "attach 9\ndescribe\ndetach\n" + connect("localhost", 50100, 4);
    const std::string first = connect("127.0.0.1", 50000, 1);
    const struct {
        int attempts;
        std::string last, calls;
    } cases[] = {
        {10, instances(11, 9, 50100), found},
        {4, instances(11, 9, 50100), found},
        {4, none, kStart + polls + first + connect("127.0.0.1", 50001, 1)},
        {1, none, kStart + first + connect("127.0.0.1", 50001, 1)},
        {0, none, kStart + first + connect("127.0.0.1", 50001, 1)},
        {-3, none, kStart + first + connect("127.0.0.1", 50001, 1)},
    };
    install(kPorts, true);
    for (const auto& c : cases) {
        script.instances = {none, none, none, c.last};
        script.instancesCalls = 0;
        factory_.launchWaitAttempts = c.attempts;
        factory_.waitIntervalMs = c.attempts > 0 ? 1 : -1;
        EXPECT_NE(factory_.scene_api(), nullptr) << c.attempts;
        EXPECT_EQ(journal(), c.calls) << c.attempts;
        EXPECT_FALSE(probe_.report().empty()) << "started";
        factory_.close();
        journal();
    }
}

}  // namespace
