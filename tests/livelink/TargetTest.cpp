// The live-link library loader and the live-link target's whole connection
// flow, through the real installation lookup, against a library whose answers
// each test scripts: library names and their order, reuse and release, the log;
// the choice of a renderer from the instance list; every failure message, the
// ports tried, the launch wait, close and unload.
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

const std::string kFailed = "Failed to connect. ",
                  kCheck = "Please check your RayMint installation";
const std::string kNoScene = kFailed + "Could not get a scene api. " + kCheck + ".\n";
const std::string kNoQuery = kFailed + "Could not get a query api. " + kCheck + ".\n";
const std::string kNoLaunch = kFailed + "Unabled to launch RayMint. " + kCheck + ".";
const std::string kNoPort =
    kFailed + "Could not connect on any known port. " + kCheck + " and Live Link settings.";
const std::string kStart = "scene_api\nid 1\nquery_api\ninstances\n";
const std::string kEmptyScene = "<raymint><scene><modelsets/><lights/></scene></raymint>";
const fs::path kData = buildPath(DATA_DIR);

uint64_t fixedTicks() {
    return 777;
}
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
    return "<raymint><scene><modelsets><modelset name=\"Old\" "
           "modelset=\"inactive\"/><modelset "
           "name=\"" +
           shown + "\" modelset=\"active\"/></modelsets></scene></raymint>";
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
        vex::log_test::setClock(fixedTicks, fixedTime);
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

    // An installation whose renderer either can be started (the probe, which
    // reports its start) or cannot (a file that is no program).
    void install(const std::string& values, bool launchable = false, int version = 11) {
        const fs::path program = launchable ? buildPath(PROBE_PATH) : noProgram_;
        hives_.user(installationSection(kCU, version, program, resources_, bin_) + values);
    }
    static void place(const fs::path& library, const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(library, as, fs::copy_options::overwrite_existing);
    }
    // Opens the library file first, so that the loader gets this very copy and
    // the script set through it is the one it answers from.
    LiveScript& open() {
        place(buildPath(LIVE_FULL), library_);
        handle_ = openLibrary(library_);
        script_ = liveScript(handle_);
        return *script_;
    }
    // The calls the library received since the last look, one line each.
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
    fs::path library_ = bin_ / ("vexraymintlive6_64"s + kLibrarySuffix);
    TestHives hives_;
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
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    EXPECT_NE(vex_get_query_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: ", nullptr)));
}

// The 32-bit name first in the bin folder, then in the current directory; a
// file of the other width just fails to load. Before version 6 the names lack
// "6_".
TEST_F(LiveTest, LibraryNamesAndTheirOrder) {
    const fs::path cwd = dir_ / "cwd", full = buildPath(LIVE_FULL), previous = fs::current_path();
    const fs::path at32 = "vexraymintlive6_32"s + kLibrarySuffix;
    const fs::path old = bin_ / ("vexraymintlive64"s + kLibrarySuffix);
    const struct {
        int version;
        fs::path full, other, loaded;  // `other` holds no library
    } cases[] = {
        {11, bin_ / at32, cwd / at32, bin_ / at32},
        {6, library_, bin_ / at32, library_},
        {11, cwd / library_.filename(), library_, cwd / library_.filename()},
        {5, old, library_, old},
    };
    for (const auto& c : cases) {
        fs::remove_all(bin_);
        fs::remove_all(cwd);
        fs::create_directories(cwd);
        install("", false, c.version);
        place(full, library_);
        place(full, c.full);
        writeFile(c.other,
                  "\x7f"
                  "ELF but not really");
        fs::current_path(cwd);
        EXPECT_NE(vex_get_scene_api(5, 12), nullptr) << c.loaded;
        fs::current_path(previous);
        EXPECT_TRUE(isLoaded(c.loaded)) << c.loaded;
        EXPECT_FALSE(c.loaded != library_ && isLoaded(library_)) << c.loaded;
        vex_release_live_api();
    }
}

TEST_F(LiveTest, NoLibraryOrNoRootObjectIsReleasedAndTriedAgain) {
    const std::string folder = line(153, "DEBUG4", bin_.string());
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log(), onDisk(folder + line(218, "DEBUG4", "initialize shared handle: ", nullptr) +
                            line(234, "WARNING", "NO shared handle")));
    for (const fs::path& library : {buildPath(LIVE_NO_ENTRY), buildPath(LIVE_NULL_ENTRY)}) {
        vex::log_test::closeLogFile();
        fs::remove(resources_ / "sceneapi.log");
        place(library, library_);
        EXPECT_EQ(vex_get_scene_api(11, 12), nullptr) << library;
        EXPECT_FALSE(isLoaded(library_)) << library << " was not released";
        EXPECT_EQ(std::regex_replace(log(), std::regex("handle: 0x[0-9a-f]+"), "handle: P"),
                  onDisk(folder + line(218, "DEBUG4", "initialize shared handle: P") +
                         line(245, "DEBUG4", "Raymint live: ", nullptr)));
        EXPECT_EQ(vex_get_query_api(11, 12), nullptr);
    }
    // No installation in the range: nothing is loaded or logged. A hostile bin
    // folder is logged on one line, before anything is loaded from it.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    EXPECT_EQ(vex_get_scene_api(12, 20), nullptr);
    EXPECT_FALSE(fs::exists(resources_ / "sceneapi.log"));
    hives_.user(installationSection(kCU, 11, noProgram_, resources_, dir_ / "b\x1b[2Jin"));
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(153, "DEBUG4", (dir_ / "b\\x1b[2Jin").string())));
}

// Numbers are read like strtol at any depth below an instance, whatever the
// tags; an instance needs all three, each within 32 bits. The cases and what
// they list are in data/instances.txt.
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

// The model set searched by name within a depth that counts the starting
// element; only active or unmarked elements are searched. Cases and answers in
// data/modelsets.txt.
TEST(ElementSearch, ModelSets) {
    std::string report;
    std::istringstream in(readFile(kData / "modelsets.txt"));
    for (std::string text, found; std::getline(in, text) && std::getline(in, found);) {
        const size_t bar = text.find('|'), xml = text.find('|', bar + 1);
        tinyxml2::XMLDocument document;
        EXPECT_EQ(document.Parse(text.c_str() + xml + 1), tinyxml2::XML_SUCCESS) << text;
        const auto* e = vex::RepeatLinkFactory::findModelSet(
            document.FirstChildElement(), text.substr(0, bar), std::stoi(text.substr(bar + 1)));
        report += text + "\n=> " + (e == nullptr ? "none" : e->Attribute("id")) + "\n";
    }
    EXPECT_EQ(report, readFile(kData / "modelsets.txt"));
    EXPECT_EQ(vex::RepeatLinkFactory::findModelSet(nullptr, "Doc", 4), nullptr);
}

// The renderer showing the model set wins, then (when accepted) any renderer,
// then one with an empty scene; the higher version wins and the first of equal
// ones stays. Each is attached, described and detached in turn. Each line of
// data/ranking.txt gives whether any renderer is accepted and the candidates
// (version/process/port), then what is chosen, whether the model set was found,
// and the calls made.
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
    EXPECT_EQ(factory_.pickInstance({{11, 2, 2}}, nullptr), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet()) << "no query: the flag is cleared all the same";
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
    EXPECT_EQ(factory_.errorMessage(), "");
    EXPECT_TRUE(factory_.foundModelSet());
    EXPECT_EQ(journal(), kStart + asked(4242) + connect("localhost", 50100, 4));
    EXPECT_EQ(factory_.scene_api(), scene);
    EXPECT_EQ(journal(), "") << "the second request asks nothing";
    factory_.close();
    factory_.close();
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n") << "closing twice closes once";
    // Loaded again after the unload; a failed disconnect is reported; the
    // destructor closes.
    script.disconnectResult = false;
    process(4242, kEmptyScene);
    {
        vex::RepeatLinkFactory factory;
        EXPECT_NE(factory.scene_api(), nullptr) << "any renderer with an empty scene";
        EXPECT_EQ(script.initCalls, 2);
        factory.close();
        EXPECT_EQ(factory.errorMessage(),
                  "Disconnect failed. The renderer may not have received everything.");
        ASSERT_NE(factory.scene_api(), nullptr);
        journal();
    }
    EXPECT_EQ(journal(), "disconnect\ndestroy 1\n");
}

TEST_F(LiveTest, FailuresAndTheirMessages) {
    LiveScript& script = open();
    // No installation, or none whose executable is a path: a number names no
    // file.
    for (const std::string& records :
         {std::string(), installationSection(kCU, 11, noProgram_, resources_, bin_) +
                             value("BinName", "dword:0000002e")}) {
        hives_.user(records);
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.errorMessage(), kNoScene) << "once, not appended";
    }
    EXPECT_EQ(script.initCalls, 0);
    // The library stays loaded for the next attempt. A refused reported port is
    // the only one tried; without one, the registry's range, lowest first, on
    // 127.0.0.1.
    install(ports(50000, 50003));
    process(7, kEmptyScene);
    const std::string all = connect("127.0.0.1", 50000, 1) + connect("127.0.0.1", 50001, 1) +
                            connect("127.0.0.1", 50002, 1) + connect("127.0.0.1", 50003, 1);
    const struct {
        bool scene, query;
        std::string list, ports, message, calls;
    } cases[] = {
        {false, true, "", "", kNoScene, "scene_api\n"},
        {true, false, "", "", kNoQuery, "scene_api\nid 1\nquery_api\n"},
        {true, true, "<instances/>", "", kNoLaunch, kStart},
        {true, true, instances(13, 7, 50100), "", kNoLaunch, kStart},  // outside the range
        {true, true, instances(11, 7, 50100), "", kNoPort,
         kStart + asked(7) + connect("localhost", 50100, 4)},
        {true, true, instances(11, 7, 0), ports(50000, 50003), kNoPort, kStart + asked(7) + all},
        {true, true, instances(11, 7, 0), ports(50001, 50001), kNoPort,
         kStart + asked(7) + connect("127.0.0.1", 50001, 1)},
        {true, true, instances(11, 7, 0), ports(50005, 50001), kNoPort, kStart + asked(7)},
        {true, true, instances(11, 7, 0), value("LiveLinkPort", dword(50000)), kNoPort,
         kStart + asked(7)},
        // Two bytes are no number, and as text no port either.
        {true, true, instances(11, 7, 0),
         value("LiveLinkPort", "hex:50,c3") + value("LiveLinkMaxPort", "hex:51,c3"), kNoPort,
         kStart + asked(7)},
    };
    factory_.setVersionRange(11, 12);
    for (const auto& c : cases) {
        script.sceneInterface = c.scene;
        script.queryInterface = c.query;
        script.instances = {c.list};
        install(c.ports);
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.errorMessage(), c.message);
        EXPECT_EQ(journal(), c.calls);
        factory_.close();
        EXPECT_EQ(journal(), "") << "not connected: close does nothing";
    }
    EXPECT_FALSE(probe_.reported());
    install(ports(50000, 50003));
    script.acceptedPorts = {50003};
    EXPECT_NE(factory_.scene_api(), nullptr);
    EXPECT_EQ(factory_.errorMessage(), "") << "a success clears the message";
    EXPECT_EQ(script.initCalls, 1) << "loaded once for all attempts";
}

// After a launch the list is polled until the renderer shows, for at most the
// attempts given (the first look counts as one), then the registry's ports are
// tried.
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
