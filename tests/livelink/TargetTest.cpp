// The library loader and the live-link target's whole flow, through the real installation
// lookup, against a library whose answers each test scripts.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <regex>

#include "LiveLinkTestSupport.hpp"
#include "livelink/RepeatLinkFactory.hpp"
#include "livelink/raymintlive_loader.hpp"
#include "sceneapi/Log.hpp"

namespace {

using namespace vex::test;
using namespace std::string_literals;
using vex::RendererInstance;
using Records = std::vector<RendererInstance>;

const std::string kStart = "scene_api\nid 1\nquery_api\ninstances\n";
const std::string kEmptyScene = "<raymint><scene><modelsets/><lights/></scene></raymint>";
const fs::path kData = buildPath(DATA_DIR);

bool fixedTime(char* buffer, size_t size) {
    return std::snprintf(buffer, size, "10:00:00") > 0;
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
// The journal of one complete look at process `pid`.
std::string asked(int64_t pid) {
    return "attach " + std::to_string(pid) + "\ndescribe\ndetach\n";
}
std::string connect(const std::string& host, int port, int mode) {
    return "connect " + host + " " + std::to_string(port) + " " + std::to_string(mode) + "\n";
}
std::string ports(unsigned first, unsigned last) {
    return value("LiveLinkPort", dword(first)) + value("LiveLinkMaxPort", dword(last));
}

class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vex::log_test::closeLogFile();
        vex::log_test::setClock([] { return uint64_t{7}; }, fixedTime);
        fs::create_directories(resources_);
        writeFile(noProgram_, "not a program\n");
        install(ports(50000, 50003));
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
    void install(const std::string& values, bool launchable = false, int version = 11) {
        const fs::path program = launchable ? buildPath(PROBE_PATH) : noProgram_;
        hives_.user(installationSection(kCU, version, program, resources_, bin_) + values);
        install_ = installationSection(kCU, version, noProgram_, resources_, bin_);
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
    void newLog() {
        vex::log_test::closeLogFile();
        fs::remove(resources_ / "sceneapi.log");
    }
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
    fs::path library_ = bin_ / ("vexraymintlive6_64"s + kLibrarySuffix);
    TestHives hives_;
    std::string install_;
    ProbeReport probe_{dir_};
    void* handle_ = nullptr;
    LiveScript* script_ = nullptr;
    vex::RepeatLinkFactory factory_;
};

TEST_F(LiveTest, LoaderTakesTheLibraryOfTheBinFolderOnceAndReleasesIt) {
    LiveScript& script = open();
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
    closeLibrary(std::exchange(handle_, nullptr));
    EXPECT_FALSE(isLoaded(library_)) << "still loaded after release";
    // Nothing loaded: the query request logs the null state, then loads again.
    newLog();
    EXPECT_NE(vex_get_query_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: ", nullptr)));
}

// The 32-bit name first, in the bin folder, then in the current directory; a file of the
// other width just fails to load. Before version 6 the names lack "6_".
TEST_F(LiveTest, LibraryNamesAndTheirOrder) {
    const fs::path cwd = dir_ / "cwd", full = buildPath(LIVE_FULL), previous = fs::current_path();
    const fs::path at32 = "vexraymintlive6_32"s + kLibrarySuffix;
    const fs::path old = bin_ / ("vexraymintlive64"s + kLibrarySuffix);
    const std::tuple<int, fs::path, fs::path, fs::path> cases[] = {
        // the library, none, loaded
        {11, bin_ / at32, cwd / at32, bin_ / at32},
        {6, library_, bin_ / at32, library_},
        {11, cwd / library_.filename(), library_, cwd / library_.filename()},
        {5, old, library_, old},
    };
    for (const auto& [version, library, other, loaded] : cases) {
        fs::remove_all(bin_);
        fs::remove_all(cwd);
        fs::create_directories(cwd);
        install("", false, version);
        place(full, library_);
        place(full, library);
        writeFile(other,
                  "\x7f"
                  "ELF, of the other width");
        fs::current_path(cwd);
        EXPECT_NE(vex_get_scene_api(5, 12), nullptr) << loaded;
        fs::current_path(previous);
        EXPECT_TRUE(isLoaded(loaded)) << loaded;
        EXPECT_FALSE(loaded != library_ && isLoaded(library_)) << loaded;
        vex_release_live_api();
    }
}

TEST_F(LiveTest, NoLibraryOrNoRootObjectIsReleasedAndTriedAgain) {
    const std::string folder = line(153, "DEBUG4", bin_.string());
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log(), onDisk(folder + line(218, "DEBUG4", "initialize shared handle: ", nullptr) +
                            line(234, "WARNING", "NO shared handle")));
    // A library without its entry point is released again.
    newLog();
    place(buildPath(LIVE_NO_ENTRY), library_);
    EXPECT_EQ(vex_get_query_api(11, 12), nullptr);
    EXPECT_FALSE(isLoaded(library_)) << "not released";
    EXPECT_EQ(std::regex_replace(log(), std::regex("0x[0-9a-f]+"), "P"),
              onDisk(line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: ", nullptr) +
                     folder + line(218, "DEBUG4", "initialize shared handle: P") +
                     line(245, "DEBUG4", "Raymint live: ", nullptr)));
    // No installation in the range: nothing is loaded or logged. A hostile bin folder is
    // logged on one line, before anything is loaded from it.
    newLog();
    EXPECT_EQ(vex_get_scene_api(12, 20), nullptr);
    EXPECT_FALSE(fs::exists(resources_ / "sceneapi.log"));
    hives_.user(installationSection(kCU, 11, noProgram_, resources_, dir_ / "b\x1b[2Jin"));
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(153, "DEBUG4", (dir_ / "b\\x1b[2Jin").string())));
}

// Numbers are read like strtol at any depth below an instance, whatever the tags; an
// instance needs all three, each within 32 bits. Cases and answers: data/instances.txt.
TEST_F(LiveTest, InstanceLists) {
    open();
    factory_.setVersionRange(INT32_MIN, INT32_MAX);
    std::string report;
    std::istringstream in(readFile(kData / "instances.txt"));
    for (std::string text, listing; std::getline(in, text) && std::getline(in, listing);) {
        report += text + "\n=>";
        for (const RendererInstance& r : listed(text)) {
            report += " " + std::to_string(r.versionMajor) + "/" + std::to_string(r.processId) +
                      "/" + std::to_string(r.liveLinkPort);
        }
        report += "\n";
    }
    EXPECT_EQ(report, readFile(kData / "instances.txt"));
    // Within the parser's nesting limit, beyond it, and every cut of a list.
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
    EXPECT_EQ(factory_.queryInstances(nullptr), Records{});
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
    std::string report;
    std::istringstream in(readFile(kData / "ranking.txt"));
    for (std::string text, answer; std::getline(in, text) && std::getline(in, answer);) {
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
        report += text + "\n=> " + std::to_string(c.versionMajor) + "/" +
                  std::to_string(c.processId) + "/" + std::to_string(c.liveLinkPort) +
                  (factory_.foundModelSet() ? " found: " : ": ") +
                  std::regex_replace(journal(), std::regex("\n"), " ") + "\n";
    }
    EXPECT_EQ(report, readFile(kData / "ranking.txt"));
    factory_.setModelSetName("");
    process(12, "<r><scene><g><m name=''/></g></scene></r>");
    EXPECT_EQ(factory_.pickInstance({{11, 12, 5}}, script_->query), RendererInstance{})
        << "an empty name is never shown";
}

TEST_F(LiveTest, ReportedPortOnLocalhostThenReuseThenClose) {
    LiveScript& script = open();
    script.instances = {instances(11, 4242, 50100)};
    process(4242, showing("Doc"));
    script.acceptedPorts = {50100};
    vexScene_api* scene = factory_.scene_api();
    ASSERT_NE(scene, nullptr) << factory_.errorMessage();
    EXPECT_EQ(static_cast<const void*>(scene), script.scene);
    EXPECT_TRUE(factory_.foundModelSet());
    EXPECT_EQ(journal(), kStart + asked(4242) + connect("localhost", 50100, 4));
    EXPECT_EQ(factory_.scene_api(), scene);
    EXPECT_EQ(journal(), "") << "the second request asks nothing";
    factory_.close();
    factory_.close();
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n") << "closing twice closes once";
    // Loaded again after the unload; a failed disconnect is reported; the destructor closes.
    script.disconnectResult = false;
    process(4242, kEmptyScene);
    {
        vex::RepeatLinkFactory factory;
        EXPECT_NE(factory.scene_api(), nullptr) << "any renderer with an empty scene";
        factory.close();
        EXPECT_EQ(factory.errorMessage(),
                  "Disconnect failed. The renderer may not have received everything.");
        ASSERT_NE(factory.scene_api(), nullptr);
        journal();
    }
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n");
}

// Each failure leaves the library loaded for the next attempt. A refused reported port is
// the only one tried; without one, the registry's range, lowest first, on 127.0.0.1.
// Lines of data/failures.txt: whether the library gives its scene and query interfaces,
// the instance list, "LiveLinkPort" and "LiveLinkMaxPort" ("-": none; "no installation":
// none, or one whose executable is a number); then the message and the calls made.
TEST_F(LiveTest, FailuresAndTheirMessages) {
    LiveScript& script = open();
    process(7, kEmptyScene);
    factory_.setVersionRange(11, 12);
    std::string report;
    std::istringstream in(readFile(kData / "failures.txt"));
    for (std::string text, answer; std::getline(in, text) && std::getline(in, answer);) {
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
            hives_.user(f[3] == "-" ? "" : install_ + value("BinName", "dword:0000002e"));
        EXPECT_EQ(factory_.scene_api(), nullptr) << text;
        const std::string got = factory_.errorMessage() + " | " + journal();
        report += text + "\n=> " + std::regex_replace(got, std::regex("\n"), " ") + "\n";
        factory_.close();
        EXPECT_EQ(journal(), "") << "not connected: close does nothing";
    }
    EXPECT_EQ(report, readFile(kData / "failures.txt"));
    EXPECT_FALSE(probe_.reported());
    install(ports(50000, 50003));
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
    const std::string found = kStart + polls + asked(9) + connect("localhost", 50100, 4);
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
    install(ports(50000, 50001), true);
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
