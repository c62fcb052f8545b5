// The live-link target's whole connection flow through the real loader and installation
// lookup, against a library whose answers each test scripts: every failure message, the
// ports tried and in which order, the launch wait, reuse, close and unload.
#include <gtest/gtest.h>

#include "LiveLinkTestSupport.hpp"
#include "livelink/RepeatLinkFactory.hpp"
#include "livelink/raymintlive_loader.hpp"
#include "sceneapi/Log.hpp"

namespace {

using namespace vex::test;
using Journal = std::vector<std::string>;

const char kNoScene[] =
    "Failed to connect. Could not get a scene api. Please check your RayMint installation.\n";
const char kNoQuery[] =
    "Failed to connect. Could not get a query api. Please check your RayMint installation.\n";
const char kNoLaunch[] =
    "Failed to connect. Unabled to launch RayMint. Please check your RayMint installation.";
const char kNoPort[] =
    "Failed to connect. Could not connect on any known port. Please check your RayMint "
    "installation and Live Link settings.";

const std::string kEmptyScene = "<raymint><scene><modelsets/></scene></raymint>";

std::string instances(int version, int64_t pid, int port) {
    return "<instances><instance><version_major>" + std::to_string(version) +
           "</version_major><process_id>" + std::to_string(pid) + "</process_id><livelink_port>" +
           std::to_string(port) + "</livelink_port></instance></instances>";
}

// The journal lines of one successful choice of process `pid`.
Journal asked(int64_t pid) {
    return {"attach " + std::to_string(pid), "describe", "detach"};
}

Journal operator+(Journal a, const Journal& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void* loaded(const fs::path& path) {
    return loadedLibrary(path);
}

class ConnectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vex::log_test::closeLogFile();
        fs::create_directories(resources_);
        fs::create_directories(bin_);
        fs::copy_file(buildPath(LIVE_SCRIPTED), library_);
        // Opened here first, so the loader gets this very copy and the script set below
        // is the one it sees.
        handle_ = openLibrary(library_);
        ASSERT_NE(handle_, nullptr);
        install(ports(50000, 50003));
    }
    void TearDown() override {
        vex_release_live_api();
        vex::log_test::closeLogFile();
        if (handle_ != nullptr) closeLibrary(handle_);
        EXPECT_EQ(loaded(library_), nullptr) << "the library stayed loaded";
    }

    static std::string ports(unsigned first, unsigned last) {
        return "\"LiveLinkPort\"=" + dword(first) + "\r\n\"LiveLinkMaxPort\"=" + dword(last) +
               "\r\n";
    }
    // A version 11 installation whose renderer either can be started (the probe, which
    // reports its start) or cannot (a file that is no program).
    void install(const std::string& values, bool launchable = false) {
        writeFile(noProgram_, "not a program\n");
        hives_.user(installationSection(kCU, 11, launchable ? buildPath(PROBE_PATH) : noProgram_,
                                        resources_, bin_) +
                    values);
    }
    // Waits until the started probe has reported.
    bool launched() { return probe_.started(); }

    template <class T>
    T hook(const char* name) {
        void* symbol = librarySymbol(handle_, name);
        if (symbol == nullptr) ADD_FAILURE() << "no " << name;
        return reinterpret_cast<T>(symbol);
    }
    void setInterfaces(bool scene, bool query) {
        hook<void (*)(int, int)>("live_test_set_interfaces")(scene, query);
    }
    void addInstances(const std::string& text) {
        hook<void (*)(const char*)>("live_test_add_instances")(text.c_str());
    }
    void setProcess(int64_t pid, const char* description, bool attachable = true) {
        hook<void (*)(int64_t, int, const char*)>("live_test_set_process")(pid, attachable,
                                                                           description);
    }
    void resetInstances() { hook<void (*)()>("live_test_reset_instances")(); }
    void acceptPort(int port) { hook<void (*)(int)>("live_test_accept_port")(port); }
    void setDisconnectResult(bool result) {
        hook<void (*)(int)>("live_test_set_disconnect_result")(result);
    }
    // The calls the library received since the last look.
    Journal journal() {
        Journal lines;
        std::istringstream in(hook<const char* (*)()>("live_test_journal")());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        hook<void (*)()>("live_test_clear_journal")();
        return lines;
    }
    int initCalls() { return hook<int (*)()>("live_test_init_calls")(); }
    int destroyCalls() { return hook<int (*)()>("live_test_destroy_calls")(); }
    vexScene_api* libraryScene() {
        return static_cast<vexScene_api*>(
            const_cast<void*>(hook<const void* (*)()>("live_test_scene")()));
    }
    // Lets go of the test's own handle: the library is then unloaded unless the loader
    // still holds it.
    bool unloadedWhenReleased() {
        closeLibrary(handle_);
        handle_ = nullptr;
        void* still = loaded(library_);
        if (still != nullptr) closeLibrary(still);
        return still == nullptr;
    }

    TempDir dir_;
    fs::path bin_ = dir_ / "bin";
    fs::path resources_ = dir_ / "resources";
    fs::path library_ = bin_ / (std::string("vexraymintlive6_64") + kLibrarySuffix);
    fs::path noProgram_ = dir_ / "raymint";
    TestHives hives_;
    ProbeReport probe_{dir_};
    void* handle_ = nullptr;
};

const Journal kStart = {"scene_api", "id 1", "query_api", "instances"};

TEST_F(ConnectTest, ReportedPortOnLocalhostThenReuseThenClose) {
    addInstances(instances(11, 4242, 50100));
    setProcess(4242,
               "<raymint><scene><modelsets><m name='Doc' modelset='active'/>"
               "</modelsets></scene></raymint>");
    acceptPort(50100);
    vex::RepeatLinkFactory factory;
    factory.setVersionRange(11, 12);
    factory.setModelSetName("Doc");
    vexScene_api* scene = factory.scene_api();
    ASSERT_NE(scene, nullptr) << factory.errorMessage();
    EXPECT_EQ(scene, libraryScene());
    EXPECT_EQ(factory.errorMessage(), "");
    EXPECT_TRUE(factory.foundModelSet());
    EXPECT_EQ(journal(), (kStart + asked(4242) + Journal{"connect localhost 50100 4"}));

    EXPECT_EQ(factory.scene_api(), scene);
    EXPECT_EQ(journal(), Journal{}) << "the second request asks nothing";

    factory.close();
    EXPECT_EQ(journal(), (Journal{"disconnect", "destroy 1"}));
    EXPECT_EQ(destroyCalls(), 1);
    EXPECT_EQ(factory.errorMessage(), "");
    factory.close();
    EXPECT_EQ(journal(), Journal{}) << "closing twice does nothing";
    EXPECT_TRUE(unloadedWhenReleased());
}

TEST_F(ConnectTest, DestructorClosesAndAFailedDisconnectIsReported) {
    addInstances(instances(11, 1, 50100));
    setProcess(1, kEmptyScene.c_str());
    acceptPort(50100);
    {
        vex::RepeatLinkFactory factory;
        ASSERT_NE(factory.scene_api(), nullptr);
        EXPECT_FALSE(factory.foundModelSet());
        journal();
    }
    EXPECT_EQ(journal(), (Journal{"disconnect", "destroy 1"}));
    EXPECT_EQ(initCalls(), 1);

    setDisconnectResult(false);
    vex::RepeatLinkFactory factory;
    ASSERT_NE(factory.scene_api(), nullptr);
    EXPECT_EQ(initCalls(), 2) << "loaded again after the unload";
    factory.close();
    EXPECT_EQ(factory.errorMessage(),
              "Disconnect failed. The renderer may not have received everything.");
    EXPECT_EQ(destroyCalls(), 2);
    EXPECT_TRUE(unloadedWhenReleased());
}

// No installation, or none whose executable is a path: the registry value stored as a
// number names no file.
TEST_F(ConnectTest, NoInstallation) {
    for (const std::string& records :
         {std::string(), installationSection(kCU, 11, noProgram_, resources_, bin_) +
                             "\"BinName\"=dword:0000002e\r\n"}) {
        hives_.user(records);
        vex::RepeatLinkFactory factory;
        EXPECT_EQ(factory.scene_api(), nullptr);
        EXPECT_EQ(factory.errorMessage(), kNoScene);
        EXPECT_EQ(factory.scene_api(), nullptr);
        EXPECT_EQ(factory.errorMessage(), kNoScene) << "once, not appended";
        EXPECT_EQ(initCalls(), 0);
        EXPECT_EQ(journal(), Journal{});
    }
}

TEST_F(ConnectTest, MissingInterfacesKeepTheLibraryForTheNextAttempt) {
    setInterfaces(false, true);
    vex::RepeatLinkFactory factory;
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoScene);
    EXPECT_EQ(journal(), Journal{"scene_api"});

    setInterfaces(true, false);
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoQuery);
    EXPECT_EQ(journal(), (Journal{"scene_api", "id 1", "query_api"}));
    factory.close();
    EXPECT_EQ(journal(), Journal{}) << "not connected: close does nothing";

    setInterfaces(true, true);
    addInstances(instances(11, 7, 50100));
    setProcess(7, kEmptyScene.c_str());
    acceptPort(50100);
    EXPECT_NE(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), "") << "a success clears the message";
    EXPECT_EQ(initCalls(), 1) << "loaded once for all three attempts";
    EXPECT_EQ(destroyCalls(), 0);
}

TEST_F(ConnectTest, RefusedConnectionKeepsTheLibraryAndTheNextAttemptStartsOver) {
    addInstances(instances(11, 7, 50100));
    setProcess(7, kEmptyScene.c_str());
    vex::RepeatLinkFactory factory;
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoPort);
    EXPECT_EQ(journal(), (kStart + asked(7) + Journal{"connect localhost 50100 4"}))
        << "a reported port is the only one tried";

    acceptPort(50100);
    EXPECT_NE(factory.scene_api(), nullptr);
    EXPECT_EQ(journal(), (kStart + asked(7) + Journal{"connect localhost 50100 4"}));
    EXPECT_EQ(initCalls(), 1);
    EXPECT_EQ(destroyCalls(), 0);
}

TEST_F(ConnectTest, WithoutAReportedPortTheRegistryRangeIsTriedLowestFirst) {
    addInstances(instances(11, 7, 0));
    setProcess(7, kEmptyScene.c_str());
    acceptPort(50002);
    acceptPort(50003);
    vex::RepeatLinkFactory factory;
    ASSERT_NE(factory.scene_api(), nullptr);
    EXPECT_EQ(journal(), (kStart + asked(7) +
                          Journal{"connect 127.0.0.1 50000 1", "connect 127.0.0.1 50001 1",
                                  "connect 127.0.0.1 50002 1"}));
}

TEST_F(ConnectTest, RegistryRangesThatGiveNoPort) {
    struct Case {
        std::string values;
        Journal connects;
    } cases[] = {
        {ports(50001, 50001), {"connect 127.0.0.1 50001 1"}},
        {ports(50005, 50001), {}},
        {"\"LiveLinkPort\"=" + dword(50000) + "\r\n", {}},
        {"", {}},
        {"\"LiveLinkPort\"=\"abc\"\r\n\"LiveLinkMaxPort\"=\"50001\"\r\n", {}},
        // Two bytes are no number, and as text no port either.
        {"\"LiveLinkPort\"=hex:50,c3\r\n\"LiveLinkMaxPort\"=hex:51,c3\r\n", {}},
    };
    addInstances(instances(11, 7, 0));
    setProcess(7, kEmptyScene.c_str());
    for (const Case& c : cases) {
        install(c.values);
        vex::RepeatLinkFactory factory;
        EXPECT_EQ(factory.scene_api(), nullptr) << c.values;
        EXPECT_EQ(factory.errorMessage(), kNoPort) << c.values;
        EXPECT_EQ(journal(), kStart + asked(7) + c.connects) << c.values;
    }
}

TEST_F(ConnectTest, LaunchFailure) {
    addInstances("<instances/>");
    vex::RepeatLinkFactory factory;
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoLaunch);
    EXPECT_EQ(journal(), kStart);
}

TEST_F(ConnectTest, LaunchThenWaitUntilTheRendererIsListed) {
    // With ten attempts the wait ends as soon as the renderer is listed; with four it is
    // listed in the last poll, which still counts.
    for (int attempts : {10, 4}) {
        SCOPED_TRACE(attempts);
        install(ports(50000, 50001), true);
        for (int i = 0; i < 3; ++i) addInstances("<instances/>");
        addInstances(instances(11, 9, 50100));
        setProcess(9, kEmptyScene.c_str());
        acceptPort(50100);
        vex::RepeatLinkFactory factory;
        factory.launchWaitAttempts = attempts;
        factory.waitIntervalMs = 1;
        ASSERT_NE(factory.scene_api(), nullptr) << factory.errorMessage();
        // The first look, two empty polls and the one that finds it; nothing more.
        EXPECT_EQ(journal(), (kStart + Journal{"instances", "instances", "instances"} + asked(9) +
                              Journal{"connect localhost 50100 4"}));
        EXPECT_TRUE(launched());
        factory.close();
        journal();
        resetInstances();
    }
}

TEST_F(ConnectTest, TheWaitEndsAfterItsAttemptsAndFallsBackToTheRegistry) {
    install(ports(50000, 50001), true);
    addInstances("<instances/>");
    vex::RepeatLinkFactory factory;
    factory.launchWaitAttempts = 4;
    factory.waitIntervalMs = 1;
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoPort);
    EXPECT_EQ(journal(),
              (kStart + Journal{"instances", "instances", "instances", "connect 127.0.0.1 50000 1",
                                "connect 127.0.0.1 50001 1"}))
        << "three polls for four attempts";
    EXPECT_TRUE(launched());
}

TEST_F(ConnectTest, OneAttemptMeansNoPoll) {
    install(ports(50000, 50000), true);
    addInstances("<instances/>");
    acceptPort(50000);
    for (int attempts : {1, 0, -3}) {
        vex::RepeatLinkFactory factory;
        factory.launchWaitAttempts = attempts;
        factory.waitIntervalMs = -1;
        ASSERT_NE(factory.scene_api(), nullptr) << attempts;
        EXPECT_EQ(journal(), (kStart + Journal{"connect 127.0.0.1 50000 1"})) << attempts;
        EXPECT_TRUE(launched());
        factory.close();
        journal();
    }
}

TEST_F(ConnectTest, RenderersOutsideTheRangeAreNotChosen) {
    install(ports(50000, 50000), false);
    addInstances(instances(13, 9, 50100));
    setProcess(9, kEmptyScene.c_str());
    vex::RepeatLinkFactory factory;
    factory.setVersionRange(11, 12);
    EXPECT_EQ(factory.scene_api(), nullptr);
    EXPECT_EQ(factory.errorMessage(), kNoLaunch) << "none in range, and no launch possible";
    EXPECT_EQ(journal(), kStart);
    EXPECT_FALSE(probe_.reported());
}

}  // namespace
