// The live-link library loader and the live-link target's whole connection flow, through
// the real installation lookup, against a library whose answers each test scripts: library
// names and their order, the entry point, reuse and release, the log lines; the choice of a
// renderer from the library's instance list; every failure message, the ports tried and in
// which order, the launch wait, reuse, close and unload.
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
using Journal = std::vector<std::string>;
using Records = std::vector<RendererInstance>;

const char kNoScene[] =
    "Failed to connect. Could not get a scene api. Please check your RayMint installation.\n";
const char kNoQuery[] =
    "Failed to connect. Could not get a query api. Please check your RayMint installation.\n";
const char kNoLaunch[] =
    "Failed to connect. Unabled to launch RayMint. Please check your RayMint installation.";
const char kNoPort[] =
    "Failed to connect. Could not connect on any known port. Please check your RayMint "
    "installation and Live Link settings.";
const std::string kEmptyScene = "<raymint><scene><modelsets/><lights/></scene></raymint>";
const fs::path kData = buildPath(DATA_DIR);

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
           message + "\n";
}
std::string instances(int version, int64_t pid, int port) {
    return "<instances><instance><version_major>" + std::to_string(version) +
           "</version_major><process_id>" + std::to_string(pid) + "</process_id><livelink_port>" +
           std::to_string(port) + "</livelink_port></instance></instances>";
}
// A scene description showing `shown` (active) and `other` (inactive) model sets.
std::string showing(const std::string& shown, const std::string& other = "Old") {
    return "<raymint><scene><modelsets><modelset name=\"" + other +
           "\" modelset=\"inactive\"/><modelset name=\"" + shown +
           "\" modelset=\"active\"/></modelsets></scene></raymint>";
}
// The journal lines of one successful look at process `pid`.
Journal asked(int64_t pid) {
    return {"attach " + std::to_string(pid), "describe", "detach"};
}
Journal operator+(Journal a, const Journal& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const Journal kStart = {"scene_api", "id 1", "query_api", "instances"};

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

    static std::string ports(unsigned first, unsigned last) {
        return value("LiveLinkPort", dword(first)) + value("LiveLinkMaxPort", dword(last));
    }
    // An installation whose renderer either can be started (the probe, which reports its
    // start) or cannot (a file that is no program).
    void install(const std::string& values, bool launchable = false, int version = 11) {
        hives_.user(installationSection(kCU, version,
                                        launchable ? buildPath(PROBE_PATH) : noProgram_, resources_,
                                        bin_) +
                    values);
    }
    static void place(const fs::path& library, const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(library, as, fs::copy_options::overwrite_existing);
    }
    // Opens the library file first, so that the loader gets this very copy and the script
    // set through it is the one it answers from.
    LiveScript& open(const fs::path& from = buildPath(LIVE_FULL)) {
        place(from, library_);
        handle_ = openLibrary(library_);
        EXPECT_NE(handle_, nullptr);
        script_ = librarySymbol<LiveScript* (*)()>(handle_, "live_test_script")();
        return *script_;
    }
    // The calls the library received since the last look.
    Journal journal() {
        Journal lines;
        std::istringstream in(script_->journal);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        script_->journal.clear();
        return lines;
    }
    std::string log() const { return readFile(resources_ / "sceneapi.log"); }
    void process(int64_t pid, std::optional<std::string> description, bool attachable = true) {
        script_->processes[pid] = {attachable, std::move(description)};
    }
    Records listed(const std::string& text) {
        script_->instances = {text};
        script_->instancesCalls = 0;
        return factory_.queryInstances(script_->query);
    }
    RendererInstance pick(const Records& list) {
        journal();
        return factory_.pickInstance(list, script_->query);
    }

    TempDir dir_;
    fs::path bin_ = dir_ / "bin";
    fs::path resources_ = dir_ / "resources";
    fs::path library_ = bin_ / ("vexraymintlive6_64"s + kLibrarySuffix);
    fs::path noProgram_ = dir_ / "raymint";
    TestHives hives_;
    ProbeReport probe_{dir_};
    void* handle_ = nullptr;
    LiveScript* script_ = nullptr;
    vex::RepeatLinkFactory factory_;
};

TEST_F(LiveTest, LoaderTakesTheLibraryOfTheBinFolderOnceAndReleasesIt) {
    LiveScript& script = open();
    vexScene_api* scene = vex_get_scene_api(11, 12);
    EXPECT_EQ(static_cast<const void*>(scene), script.scene);
    EXPECT_EQ(vex_get_query_api(30, 40), script.query) << "once loaded, the range is not looked at";
    EXPECT_EQ(script.initCalls, 1);
    EXPECT_EQ(std::regex_replace(log(), std::regex("(loader: )0x[0-9a-f]+"), "$1P"),
              onDisk(line(153, "DEBUG4", bin_.string()) +
                     line(218, "DEBUG4", "initialize shared handle: " + pointerText(handle_)) +
                     line(245, "DEBUG4", "Raymint live: " + pointerText(script.root)) +
                     line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: P")));
    journal();
    vex_release_live_api();
    EXPECT_EQ(journal(), Journal{"destroy 1"});
    vex_release_live_api();  // nothing loaded: nothing happens
    closeLibrary(handle_);
    handle_ = nullptr;
    EXPECT_FALSE(isLoaded(library_)) << "still loaded after release";
    // Nothing loaded: the query request logs the null state, then loads again.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    EXPECT_NE(vex_get_query_api(11, 12), nullptr);
    EXPECT_EQ(
        log().substr(0, log().find('\n') + 1),
        line(282, "DEBUG4", "vex_get_query_api -> raymint_live_loader: " + pointerText(nullptr))
            .substr(0, log().find('\n') + 1));
}

// The 32-bit name first in the bin folder, then in the current directory; a file of the
// other width, or no library at all, just fails to load. Before version 6 the names lack
// "6_".
TEST_F(LiveTest, LibraryNamesAndTheirOrder) {
    const fs::path cwd = dir_ / "cwd", full = buildPath(LIVE_FULL);
    const std::string at32 = "vexraymintlive6_32"s + kLibrarySuffix;
    const struct {
        int version;
        std::vector<std::pair<fs::path, std::string>> files;  // "": an empty file
        fs::path loaded;
    } cases[] = {
        {11, {{bin_ / at32, "full"}, {library_, "full"}}, bin_ / at32},
        {6,
         {{bin_ / at32,
           "\x7f"
           "ELF but not really"},
          {library_, "full"}},
         library_},
        {11, {{cwd / at32, ""}, {cwd / library_.filename(), "full"}}, cwd / library_.filename()},
        {5,
         {{bin_ / ("vexraymintlive64"s + kLibrarySuffix), "full"}, {library_, "full"}},
         bin_ / ("vexraymintlive64"s + kLibrarySuffix)},
    };
    const fs::path previous = fs::current_path();
    for (const auto& c : cases) {
        fs::remove_all(bin_);
        fs::remove_all(cwd);
        fs::create_directories(cwd);
        install("", false, c.version);
        for (const auto& [path, content] : c.files)
            content == "full" ? place(full, path) : writeFile(path, content);
        fs::current_path(cwd);
        EXPECT_NE(vex_get_scene_api(5, 12), nullptr) << c.loaded;
        fs::current_path(previous);
        EXPECT_TRUE(isLoaded(c.loaded)) << c.loaded;
        EXPECT_FALSE(c.loaded != library_ && isLoaded(library_)) << c.loaded;
        vex_release_live_api();
        EXPECT_FALSE(isLoaded(c.loaded)) << c.loaded;
    }
}

TEST_F(LiveTest, NoLibraryOrNoRootObjectIsReleasedAndTriedAgain) {
    const std::string bin = line(153, "DEBUG4", bin_.string());
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(
        log(),
        onDisk(bin + line(218, "DEBUG4", "initialize shared handle: " + pointerText(nullptr)) +
               line(234, "WARNING", "NO shared handle")));
    for (const fs::path& library : {buildPath(LIVE_NO_ENTRY), buildPath(LIVE_NULL_ENTRY)}) {
        vex::log_test::closeLogFile();
        fs::remove(resources_ / "sceneapi.log");
        place(library, library_);
        EXPECT_EQ(vex_get_scene_api(11, 12), nullptr) << library;
        EXPECT_FALSE(isLoaded(library_)) << library << " was not released";
        EXPECT_EQ(std::regex_replace(log(), std::regex("handle: 0x[0-9a-f]+"), "handle: P"),
                  onDisk(bin + line(218, "DEBUG4", "initialize shared handle: P") +
                         line(245, "DEBUG4", "Raymint live: " + pointerText(nullptr))));
        EXPECT_EQ(vex_get_query_api(11, 12), nullptr);
    }
    // No installation in the range: nothing is loaded or logged. A hostile bin folder is
    // logged on one line, before anything is loaded from it.
    vex::log_test::closeLogFile();
    fs::remove(resources_ / "sceneapi.log");
    EXPECT_EQ(vex_get_scene_api(12, 20), nullptr);
    EXPECT_FALSE(fs::exists(resources_ / "sceneapi.log"));
    hives_.user(installationSection(kCU, 11, noProgram_, resources_, dir_ / "b\x1b[2Jin"));
    EXPECT_EQ(vex_get_scene_api(11, 12), nullptr);
    EXPECT_EQ(log().substr(0, log().find('\n') + 1),
              onDisk(line(153, "DEBUG4", (dir_ / "b\\x1b[2Jin").string())));
}

// Numbers are read like strtol at any depth below an instance, whatever the tags; an
// instance needs all three, each within 32 bits. The cases and what they list are in
// data/instances.txt.
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
    EXPECT_EQ(journal().size(), 29u) << "one question per list";
    // Within the parser's nesting limit, beyond it, and every cut of a list.
    auto nested = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) open += "<n>", close += "</n>";
        return "<instances><i>" + open + "<p>7</p><version_major>8</version_major><process_id>1" +
               "</process_id><livelink_port>2</livelink_port>" + close + "</i></instances>";
    };
    EXPECT_EQ(listed(nested(90)), (Records{{8, 1, 2}}));
    EXPECT_EQ(listed(nested(100000)), Records{});
    const std::string whole = instances(8, 1, 2);
    for (size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_EQ(listed(whole.substr(0, cut)), Records{}) << "cut at " << cut;
    factory_.setVersionRange(12, 11);
    EXPECT_EQ(listed(whole), Records{}) << "an inverted range holds nothing";
    script_->instances = {std::nullopt};
    EXPECT_EQ(factory_.queryInstances(script_->query), Records{}) << "null list";
    EXPECT_EQ(factory_.queryInstances(nullptr), Records{});
}

// The model set searched by name within a depth that counts the starting element; only
// active or unmarked elements are searched. Cases and answers in data/modelsets.txt.
TEST(ElementSearch, ModelSetsAndDeepTrees) {
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
    // A tree far deeper than a call stack could walk recursively, built without the parser.
    tinyxml2::XMLDocument document;
    tinyxml2::XMLElement *top = document.NewElement("top"), *bottom = top;
    document.InsertEndChild(top);
    constexpr int kLevels = 200000;
    for (int i = 0; i < kLevels; ++i) {
        bottom = bottom->InsertNewChildElement(i == kLevels - 1 ? "process_id" : "n");
        bottom->SetAttribute("name", i == kLevels - 1 ? "Doc" : "x");
    }
    EXPECT_EQ(vex::RepeatLinkFactory::findElementByTag(top, "process_id"), bottom);
    EXPECT_EQ(vex::RepeatLinkFactory::findElementByTag(top, "missing"), nullptr);
    EXPECT_EQ(vex::RepeatLinkFactory::findModelSet(top, "Doc", kLevels), nullptr);
    EXPECT_EQ(vex::RepeatLinkFactory::findModelSet(top, "Doc", kLevels + 1), bottom);
    // tinyxml2 deletes a tree recursively: take it apart from the bottom up.
    while (bottom != top) {
        tinyxml2::XMLElement* parent = bottom->Parent()->ToElement();
        parent->DeleteChild(bottom);
        bottom = parent;
    }
}

// The renderer showing the model set wins, then (when accepted) any renderer, then one
// with an empty scene; the higher version wins and the first of equal ones stays.
TEST_F(LiveTest, RankingOfTheRenderers) {
    open();
    process(1, kEmptyScene);
    process(2, showing("Doc"));
    process(3, showing("Doc"));
    process(4, "<r><scene/><other><x><y/></x></other></r>");  // empty too
    process(5, showing("Other"));                             // busy with another document
    process(6, showing("Doc"), false);
    process(7, std::nullopt);
    process(8, "<r><scene><m name='Doc'/></scene></r>");
    process(9, "<r><scene><a/>");
    process(10, showing("Doc"));
    process(11, "<r>text only</r>");
    const struct {
        bool any;
        Records candidates;
        RendererInstance chosen;
        bool found;
    } cases[] = {
        {false, {}, {}, false},
        {false, {{12, 1, 50001}, {11, 2, 50002}}, {11, 2, 50002}, true},
        {false, {{12, 1, 50001}}, {12, 1, 50001}, false},
        {false, {{11, 2, 5}, {11, 3, 6}}, {11, 2, 5}, true},
        {false, {{11, 2, 5}, {11, 3, 6}, {12, 10, 7}}, {12, 10, 7}, true},
        {false, {{11, 1, 5}, {11, 4, 6}}, {11, 1, 5}, false},
        {true, {{12, 2, -1}, {12, 6, 5}, {12, 7, 6}}, {}, false},  // unreachable ones
        {true, {{12, 2, 0}}, {12, 2, 0}, true},                    // port 0 is asked
        {false, {{12, 5, 5}, {11, 1, 6}}, {11, 1, 6}, false},
        {false, {{12, 5, 5}}, {}, false},
        {false, {{12, 11, 5}}, {}, false},  // no scene: not empty
        {true, {{11, 1, 6}, {12, 5, 5}}, {12, 5, 5}, false},
        {true, {{12, 5, 5}, {13, 4, 6}}, {13, 4, 6}, false},
        {true, {{13, 1, 6}, {9, 2, 7}}, {9, 2, 7}, true},
        {true, {{11, 9, 5}}, {11, 9, 5}, false},  // no XML: one of any
        {false, {{6, 2, 5}}, {}, false},          // three levels before version 7
        {false, {{7, 2, 5}}, {7, 2, 5}, true},    // four from version 7
        {false, {{6, 8, 5}}, {6, 8, 5}, true},    // two levels before version 7
    };
    for (const auto& c : cases) {
        factory_.setAcceptAnyInstance(c.any);
        EXPECT_EQ(pick(c.candidates), c.chosen) << c.candidates.size();
        EXPECT_EQ(factory_.foundModelSet(), c.found) << c.candidates.size();
    }
    // Each is attached, described and detached in turn; a negative port is not even
    // asked, a refused attach is not detached, one without a description is detached.
    pick({{12, 1, 50001}, {11, 2, 50002}});
    EXPECT_EQ(journal(), asked(1) + asked(2));
    pick({{12, 2, -1}, {12, 6, 5}, {12, 7, 6}});
    EXPECT_EQ(journal(), (Journal{"attach 6"} + asked(7)));
    EXPECT_EQ(factory_.pickInstance({{11, 2, 2}}, nullptr), RendererInstance{});
    EXPECT_FALSE(factory_.foundModelSet()) << "no query: the flag is cleared all the same";
    factory_.setModelSetName("");
    process(12, "<r><scene><g><m name=''/></g></scene></r>");
    EXPECT_EQ(pick({{11, 12, 5}}), RendererInstance{}) << "an empty name is never shown";
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
    EXPECT_EQ(journal(), (kStart + asked(4242) + Journal{"connect localhost 50100 4"}));
    EXPECT_EQ(factory_.scene_api(), scene);
    EXPECT_EQ(journal(), Journal{}) << "the second request asks nothing";
    factory_.close();
    EXPECT_EQ(journal(), (Journal{"disconnect", "destroy 1"}));
    factory_.close();
    EXPECT_EQ(journal(), Journal{}) << "closing twice does nothing";
    // Loaded again after the unload; a failed disconnect is reported.
    script.disconnectResult = false;
    process(4242, kEmptyScene);
    {
        vex::RepeatLinkFactory factory;
        ASSERT_NE(factory.scene_api(), nullptr) << factory.errorMessage();
        EXPECT_EQ(script.initCalls, 2);
        EXPECT_FALSE(factory.foundModelSet()) << "no model set name";
        factory.close();
        EXPECT_EQ(factory.errorMessage(),
                  "Disconnect failed. The renderer may not have received everything.");
        script.disconnectResult = true;
        ASSERT_NE(factory.scene_api(), nullptr);
        journal();
    }
    EXPECT_EQ(journal(), (Journal{"disconnect", "destroy 1"})) << "the destructor closes";
}

TEST_F(LiveTest, MissingPartsAndTheirMessages) {
    LiveScript& script = open();
    // No installation, or none whose executable is a path: a number names no file.
    for (const std::string& records :
         {std::string(), installationSection(kCU, 11, noProgram_, resources_, bin_) +
                             value("BinName", "dword:0000002e")}) {
        hives_.user(records);
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.errorMessage(), kNoScene) << "once, not appended";
        EXPECT_EQ(script.initCalls, 0);
    }
    // The library stays loaded for the next attempt.
    install(ports(50000, 50003));
    const struct {
        bool scene, query;
        std::string message;
        Journal calls;
    } cases[] = {
        {false, true, kNoScene, {"scene_api"}},
        {true, false, kNoQuery, {"scene_api", "id 1", "query_api"}},
        {true, true, kNoLaunch, kStart},
    };
    for (const auto& c : cases) {
        script.sceneInterface = c.scene;
        script.queryInterface = c.query;
        EXPECT_EQ(factory_.scene_api(), nullptr);
        EXPECT_EQ(factory_.errorMessage(), c.message);
        EXPECT_EQ(journal(), c.calls);
        factory_.close();
        EXPECT_EQ(journal(), Journal{}) << "not connected: close does nothing";
    }
    // A refused reported port is the only one tried.
    script.instances = {instances(11, 7, 50100)};
    process(7, kEmptyScene);
    EXPECT_EQ(factory_.scene_api(), nullptr);
    EXPECT_EQ(factory_.errorMessage(), kNoPort);
    EXPECT_EQ(journal(), (kStart + asked(7) + Journal{"connect localhost 50100 4"}));
    script.acceptedPorts = {50100};
    EXPECT_NE(factory_.scene_api(), nullptr);
    EXPECT_EQ(factory_.errorMessage(), "") << "a success clears the message";
    EXPECT_EQ(script.initCalls, 1) << "loaded once for all attempts";
    // Renderers outside the range are not chosen, and none can be started.
    factory_.close();
    factory_.setVersionRange(11, 12);
    script.instances = {instances(13, 7, 50100)};
    EXPECT_EQ(factory_.scene_api(), nullptr);
    EXPECT_EQ(factory_.errorMessage(), kNoLaunch);
    EXPECT_FALSE(probe_.reported());
}

// Without a reported port the registry's range is tried, lowest first, on 127.0.0.1.
TEST_F(LiveTest, RegistryPortRanges) {
    LiveScript& script = open();
    script.instances = {instances(11, 7, 0)};
    process(7, kEmptyScene);
    script.acceptedPorts = {50002, 50003};
    const std::pair<std::string, std::vector<int>> cases[] = {
        {ports(50000, 50003), {50000, 50001, 50002}},
        {ports(50001, 50001), {50001}},
        {ports(50005, 50001), {}},
        {value("LiveLinkPort", dword(50000)), {}},
        {"", {}},
        {value("LiveLinkPort", "\"abc\"") + value("LiveLinkMaxPort", "\"50001\""), {}},
        // Two bytes are no number, and as text no port either.
        {value("LiveLinkPort", "hex:50,c3") + value("LiveLinkMaxPort", "hex:51,c3"), {}},
    };
    for (const auto& [values, tried] : cases) {
        install(values);
        Journal connects;
        for (int port : tried)
            connects.push_back("connect 127.0.0.1 " + std::to_string(port) + " 1");
        EXPECT_EQ(factory_.scene_api() != nullptr, tried.size() == 3) << values;
        EXPECT_EQ(factory_.errorMessage(), tried.size() == 3 ? "" : kNoPort) << values;
        EXPECT_EQ(journal(), kStart + asked(7) + connects) << values;
        factory_.close();
        journal();
    }
}

// After a launch the list is polled until the renderer shows, for at most the attempts
// given (the first look counts as one), then the registry's ports are tried.
TEST_F(LiveTest, LaunchThenWaitUntilTheRendererIsListed) {
    LiveScript& script = open();
    process(9, kEmptyScene);
    script.acceptedPorts = {50100};
    const Journal polls = {"instances", "instances", "instances"};
    const std::string none = "<instances/>", shown = instances(11, 9, 50100);
    const struct {
        int attempts;
        std::vector<std::optional<std::string>> lists;
        Journal calls;
    } cases[] = {
        {10,
         {none, none, none, shown},
         kStart + polls + asked(9) + Journal{"connect localhost 50100 4"}},
        {4,
         {none, none, none, shown},
         kStart + polls + asked(9) + Journal{"connect localhost 50100 4"}},
        {4,
         {none},
         kStart + polls + Journal{"connect 127.0.0.1 50000 1", "connect 127.0.0.1 50001 1"}},
        {1, {none}, kStart + Journal{"connect 127.0.0.1 50000 1"}},
        {0, {none}, kStart + Journal{"connect 127.0.0.1 50000 1"}},
        {-3, {none}, kStart + Journal{"connect 127.0.0.1 50000 1"}},
    };
    for (const auto& c : cases) {
        install(ports(50000, c.attempts == 4 ? 50001 : 50000), true);
        script.acceptedPorts.insert(c.attempts > 1 ? 50100 : 50000);
        script.instances = c.lists;
        script.instancesCalls = 0;
        factory_.launchWaitAttempts = c.attempts;
        factory_.waitIntervalMs = c.attempts > 0 ? 1 : -1;
        factory_.scene_api();
        EXPECT_EQ(journal(), c.calls) << c.attempts;
        EXPECT_FALSE(probe_.report().empty()) << "started";
        factory_.close();
        journal();
    }
}

}  // namespace
