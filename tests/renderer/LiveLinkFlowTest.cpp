// The installer, the renderer and the live-link library as real processes on loopback: the
// library, loaded as the add-in loads it, drives installed renderers; broken, stalled and
// hostile peers must leave the host process running and every call bounded.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <regex>

#include "renderer/Installer.hpp"
#include "renderer/ModelSets.hpp"
#include "support/WriterHarness.hpp"
#endif
#include "RendererTestSupport.hpp"

namespace vex::test {
namespace {

#ifndef _WIN32
using raymint::InstanceRecord;
using Lines = std::vector<std::string>;

constexpr char kEmptyScene[] = "<raymint><scene><modelsets/></scene></raymint>";
const std::string closed = "the client closed the connection before the end of the stream";

std::string text(const char* s) {
    return s == nullptr ? "(null)" : s;
}

std::string instanceXml(const std::vector<InstanceRecord>& records) {
    std::string xml = "<instances>";
    for (const InstanceRecord& r : records)
        xml += "<instance><version_major>" + std::to_string(r.version) +
               "</version_major><process_id>" + std::to_string(r.processId) +
               "</process_id><livelink_port>" + std::to_string(r.port) +
               "</livelink_port></instance>";
    return xml + "</instances>";
}

// Connects, streams `root` as the add-in does and disconnects: whether the renderer took it.
bool transfer(vexScene_api* scene, int port, VexGroup& root, const char* host = "localhost",
              int mode = 4) {
    if (!scene->connect(host, port, mode)) return false;
    writeTransfer(scene, root);
    return scene->disconnect();
}

// What the renderer `pid` says its scene is; "(not attached)" when it cannot be attached.
std::string described(const Library& lib, int64_t pid) {
    if (!lib.query->attach(pid)) return "(not attached)";
    const std::string description = text(lib.query->sceneDescription());
    lib.query->detach();
    return description;
}

// The transfer log's line for a failed transfer of `set` (quoted, or "-"); as a pattern, when
// `bytes` and `reason` are.
std::string failedLine(const std::string& set, const std::string& bytes,
                       const std::string& reason) {
    return "modelset " + set + " bytes " + bytes + " changed 0 kept 0 status failed reason \"" +
           reason + "\"";
}

// A design large enough to fill every socket buffer between the two processes.
std::shared_ptr<VexGroup> heavy(size_t triangles) {
    return design("Doc", component("Cart", true, {}, {body("Hull", 9, triangles)}));
}

// ---- the installer ----------------------------------------------------------------------

TEST(InstallerProgram, InstallsWhatTheAddInFindsAndRefusesBadArguments) {
    TempDir dir;
    const fs::path prefix = dir / "Ray Mint", hive = dir / "hives" / "HKEY_CURRENT_USER.reg";
    const std::string p = prefix.string(), h = hive.string();
    const std::string other = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\O]\n";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--hive", h}, "--prefix DIR is required"},
        {{"--prefix", p}, "--hive FILE is required"},
        {{"--prefix", p, "--hive", h, "--version", "4"},
         "--version: bad value \"4\" for version (expected a major version from 5 to 99)"},
        {{"--prefix", p, "--hive", h, "--bogus"}, "unknown argument \"--bogus\""},
        {{"--prefix", p, "--hive"}, "--hive needs a value"},
        {{"--prefix", p, "--hive", h, "--idle"}, "--idle needs a value"},
    };
    for (const auto& [args, message] : refused) {
        const RunResult r = run(RAYMINT_INSTALL_EXE, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.output, "raymint-install: " + message + "\nTry 'raymint-install --help'.\n");
    }
    // A hive file that is not one is left alone, and nothing is installed.
    writeFile(hive, "garbage\n");
    RunResult r = run(RAYMINT_INSTALL_EXE, {"--prefix", p, "--hive", h});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "raymint-install: " + h +
                            ": the hive file is not a registry file (its first line is not "
                            "\"Windows Registry Editor Version 5.00\")\n");
    EXPECT_EQ(readFile(hive), "garbage\n");
    EXPECT_FALSE(fs::exists(prefix));

    writeFile(hive, other);
    r = run(RAYMINT_INSTALL_EXE, {"--prefix", p, "--hive", h, "--version", "12", "--ports",
                                  "41000-41003", "--idle", "7"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "installed RayMint 12 in " + p + " (ports 41000-41003)\nrecorded in " + h +
                            " under HKEY_CURRENT_USER\\SOFTWARE\\Corvan\\RayMint 12\n");
    std::string merged, error;
    ASSERT_TRUE(raymint::mergeHive(
        other, {false, 12, p + "/bin/raymint", p + "/bin", p + "/resources", 41000, 41003}, merged,
        error));
    EXPECT_EQ(readFile(hive), merged);
    EXPECT_EQ(readFile(prefix / "etc" / "raymint.conf"),
              "# RayMint stand-in renderer settings, written by raymint-install.\n"
              "version = 12\nports = 41000-41003\nidle = 7\nclient_timeout = 30\n"
              "max_stream_bytes = 4294967296\n");
    for (const char* folder : {"resources", "var/instances", "var/output"})
        EXPECT_TRUE(fs::is_directory(prefix / folder)) << folder;

    // Every knob, and the machine's hive.
    r = run(RAYMINT_INSTALL_EXE,
            {"--prefix", p, "--hive", h, "--hklm", "--die-after", "100", "--stall-after", "200",
             "--refuse-describe", "--keep-streams", "--max-stream-bytes", "9", "--output",
             (dir / "out").string(), "--client-timeout", "3"});
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

// ---- renderers through the library ------------------------------------------------------

class LiveLink : public ::testing::Test {
  protected:
    ScopedEnv timeout{"RAYMINT_LIVE_TIMEOUT_MS", std::string("5000")};
    Installation install;
};

TEST_F(LiveLink, InstancesTransfersAndDescriptions) {
    Library lib(install.library);
    EXPECT_EQ(lib.query->instances(), nullptr);
    const InstanceRecord a = install.start(), b = install.start();
    EXPECT_EQ(a.version, 11);
    EXPECT_NE(a.port, b.port);
    EXPECT_EQ(text(lib.query->instances()),
              instanceXml(a.processId < b.processId ? std::vector{a, b} : std::vector{b, a}));

    // A killed renderer leaves its record behind; it is not listed. Nor are a live process
    // under a record it did not write (a reused pid), and junk.
    EXPECT_EQ(install.kill(b.processId, SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(fs::exists(install.record(b.processId)));
    const InstanceRecord reused{a.version, ::getpid(), a.port, a.startTime + 12345};
    writeFile(install.record(::getpid()), raymint::recordText(reused));
    writeFile(install.records / "77.instance", "raymint-instance 1\nversion x\n");
    writeFile(install.records / "abc.instance", raymint::recordText(a));
    writeFile(install.records / "88.instance", std::string(100000, 'x'));
    EXPECT_EQ(text(lib.query->instances()), instanceXml({a}));
    EXPECT_FALSE(lib.query->attach(b.processId));
    EXPECT_FALSE(lib.query->attach(::getpid()));
    EXPECT_EQ(described(lib, a.processId), kEmptyScene);
    EXPECT_EQ(lib.query->sceneDescription(), nullptr) << "detached";

    // The model-set file after an update is exactly the one the store makes of the same streams.
    lib.scene->id(1);  // before connecting, as the add-in does
    ASSERT_TRUE(transfer(lib.scene, a.port, *cart(true)));
    auto update = cartOf("Doc", {component("Axle", false, {}, {}, 75)});
    ASSERT_TRUE(transfer(lib.scene, a.port, *update, "127.0.0.1", 1));
    EXPECT_EQ(readFile(install.output / "Doc.rmq"),
              readFile(fs::path(VEX_SOURCE_DIR) / "tests/renderer/data/update.rmq"));
    ASSERT_TRUE(transfer(lib.scene, a.port, *design("R&D \"Cart\"", component("Cart", true))));
    EXPECT_EQ(described(lib, a.processId),
              "<raymint><scene><modelsets><modelset name=\"Doc\" modelset=\"inactive\"/>"
              "<modelset name=\"R&amp;D &quot;Cart&quot;\" modelset=\"active\"/>"
              "</modelsets></scene></raymint>");
    const std::regex lines(
        "modelset \"Doc\" bytes [0-9]+ changed 4 kept 0 status ok picture \"Doc.png\"\n"
        "modelset \"Doc\" bytes [0-9]+ changed 0 kept 2 status ok picture \"Doc.png\"\n"
        "modelset \"R&D \\\\\"Cart\\\\\"\" bytes [0-9]+ changed 1 kept 0 status ok picture "
        "\"[^\"/]+\\.png\"\n");
    EXPECT_TRUE(std::regex_match(readFile(install.transferLog), lines))
        << readFile(install.transferLog);

    // Calls outside a connection do nothing and say so; a renderer that refuses descriptions
    // still takes streams.
    EXPECT_FALSE(lib.scene->disconnect());
    EXPECT_FALSE(lib.scene->begin_group("loose", true));
    const InstanceRecord refusing = install.start({"--refuse-describe"});
    EXPECT_EQ(described(lib, refusing.processId), "(null)");
    EXPECT_TRUE(transfer(lib.scene, refusing.port, *cart(true)));
}

TEST_F(LiveLink, FailedTransfersLeaveTheModelSetAndTheRendererGoesOn) {
    const InstanceRecord r = install.start();
    ASSERT_TRUE(transfer(Library(install.library).scene, r.port, *cart(true)));
    const fs::path file = install.output / "Doc.rmq";
    const std::string before = readFile(file);
    {
        // Text the reader cannot take: the transfer fails, the client is told.
        Library lib(install.library);
        ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
        lib.scene->begin_group("Doc", true);
        lib.scene->print_formatted("%s\n", "@@@ not a scene");
        lib.scene->end_group();
        EXPECT_FALSE(lib.scene->disconnect());
        // The client goes away in the middle of the design: destroyed without disconnect.
        ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
        lib.scene->begin_group("Doc", true);
        lib.scene->begin_group("Cart", true);
        lib.scene->flags(0x8001);
        ApiTarget target(lib.scene);
        vexSceneapi_oo writer(target);
        writer.write(*body("Hull", 9, 100000));  // more than the writer buffers
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (readLines(install.transferLog).size() < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string log = readFile(install.transferLog), doc = "\"Doc\"", any = "[0-9]+";
    EXPECT_TRUE(
        std::regex_match(log, std::regex("[^\n]*\n" + failedLine(doc, any, "<stream>:3: .*") +
                                         "\n" + failedLine(doc, any, closed) + "\n")))
        << log;
    EXPECT_EQ(readFile(file), before);

    // Still serving, still showing the old set, still taking transfers.
    Library lib(install.library);
    EXPECT_EQ(described(lib, r.processId),
              "<raymint><scene><modelsets><modelset name=\"Doc\" modelset=\"active\"/></modelsets>"
              "</scene></raymint>");
    ASSERT_TRUE(transfer(lib.scene, r.port, *cart(true, 31)));
    EXPECT_EQ(componentContent(parseFile(file.string())).at("/Doc/Cart/Axle/Wheel"),
              std::vector<float>{31});
}

TEST_F(LiveLink, DyingAndStalledRenderersLeaveTheHostRunning) {
    InstanceRecord r = install.start({"--die-after", "200000"});
    {
        Library lib(install.library);
        ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
        // SIGPIPE keeps its default action here: a send without MSG_NOSIGNAL would end the test.
        ::signal(SIGPIPE, SIG_DFL);
        writeTransfer(lib.scene, *heavy(400000));
        EXPECT_FALSE(lib.scene->begin_group("after", true));
        EXPECT_FALSE(lib.scene->disconnect());
        EXPECT_EQ(install.wait(r.processId), 3);
        EXPECT_EQ(lib.query->instances(), nullptr);
        // The same library connects to the next renderer.
        EXPECT_TRUE(transfer(lib.scene, install.start({"--die-after", "0"}).port, *cart(true)));
    }
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("300"));
    r = install.start({"--stall-after", "100000"});
    Library lib(install.library);
    ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
    lib.scene->begin_group("Doc", true);
    // Megabyte arrays until the writer notices; bounded, whatever happens. Once broken, every
    // call gives up at once and says so.
    std::vector<float> values(256 * 1024, 1.0f);
    const SceneArray array{values.data(), static_cast<uint32_t>(values.size())};
    int written = 0;
    while (written < 512 && lib.scene->set_value("v", kFloatArray, &array)) ++written;
    EXPECT_LT(written, 512);
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(lib.scene->set_value("v", kFloatArray, &array));
    EXPECT_FALSE(lib.scene->begin_group("more", true));
    EXPECT_FALSE(lib.scene->disconnect());
    // The renderer still serves others while one connection is stuck.
    EXPECT_EQ(described(Library(install.library), r.processId), kEmptyScene);
    EXPECT_EQ(install.kill(r.processId, SIGTERM), 0);
    EXPECT_EQ(readLines(install.transferLog).back(),
              failedLine("\"Doc\"", "100000", "the renderer stopped"));
}

// A listener of the test's own that handles each connection with the next script.
class FakePeer {
  public:
    using Script = std::function<void(int fd)>;
    explicit FakePeer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listen_, 8) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("fake peer cannot listen");
        port = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (const Script& script : scripts_) {
                int fd = -1;
                while (!stop_ && fd < 0)
                    if (wait(listen_, 20)) fd = ::accept(listen_, nullptr, nullptr);
                if (fd < 0) return;
                script(fd);
                ::close(fd);
            }
        });
    }
    ~FakePeer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }

    static bool wait(int fd, int ms = 10000) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) == 1;
    }
    static std::string line(int fd) {
        std::string text;
        char c = 0;
        while (wait(fd) && ::recv(fd, &c, 1, 0) == 1 && c != '\n') text += c;
        return text;
    }
    static void send(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // A script that reads the request line and answers `bytes`.
    static Script reply(std::string bytes) {
        return [bytes](int fd) {
            line(fd);
            send(fd, bytes);
        };
    }
    // Reads until the other side closes (or 10 s pass).
    static std::string drain(int fd) {
        std::string all;
        char buffer[65536];
        for (ssize_t n = 0; wait(fd) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, static_cast<size_t>(n));
        return all;
    }

    int port = 0;

  private:
    std::vector<Script> scripts_;
    int listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(LiveLink, PeersThatAreNoRenderersGetNothingDone) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("500"));
    Library lib(install.library);
    // A port nobody listens on, nothing to connect to at all, or nothing that may be looked up.
    const int closedPort = FakePeer({}).port;
    const std::tuple<const char*, int, int> nowhere[] = {
        {"127.0.0.1", closedPort, 1}, {"localhost", closedPort, 4}, {nullptr, 50000, 1},
        {"127.0.0.1", 0, 1},          {"127.0.0.1", 70000, 1},      {"renderer.invalid", 1, 1}};
    for (const auto& [host, port, mode] : nowhere)
        EXPECT_FALSE(lib.scene->connect(host, port, mode)) << text(host) << " " << port;

    std::string received;
    auto greet = [&](int fd) {
        received += FakePeer::line(fd) + "|";
        FakePeer::send(fd, "RAYMINT-LIVE 1 READY 11 1\n");
    };
    // A peer that greets, takes the stream and answers `done` (or nothing); what the last one
    // takes is kept.
    auto taking = [&](std::string done) -> FakePeer::Script {
        return [&, done](int fd) {
            greet(fd);
            const std::string stream = FakePeer::drain(fd);
            if (done.empty()) FakePeer::wait(fd, 5000);
            if (done.find("ok") != std::string::npos) received += stream;
            FakePeer::send(fd, done);
        };
    };
    // Listeners that are not renderers: silent, talking something else, closing at once, busy.
    // Then peers that greet: hanging up, answering nonsense, never answering, and a proper one.
    FakePeer peer(
        {[](int fd) { FakePeer::drain(fd); }, FakePeer::reply("HTTP/1.0 400 Bad Request\r\n\r\n"),
         [](int) {}, FakePeer::reply("RAYMINT-LIVE 1 BUSY\n"), greet,
         taking("RAYMINT-LIVE 1 DONE maybe\n"), taking(""), taking("RAYMINT-LIVE 1 DONE ok\n")});
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(lib.scene->connect("127.0.0.1", peer.port, 1)) << i;
    EXPECT_FALSE(lib.scene->begin_group("Doc", true));
    EXPECT_FALSE(lib.scene->disconnect());
    lib.scene->id(7);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(lib.scene->connect("127.0.0.1", peer.port, 1)) << i;
        writeTransfer(lib.scene, *heavy(i == 0 ? 100000 : 10));
        EXPECT_FALSE(lib.scene->disconnect()) << i;
    }
    ASSERT_TRUE(lib.scene->connect("127.0.0.1", peer.port, 1));
    lib.scene->print("hello");
    EXPECT_TRUE(lib.scene->disconnect());
    // The greeting names the client; the scene travels in frames with an empty one at the end.
    const std::string greeting = "RAYMINT-LIVE 1 STREAM 7|", hello = "#print \"hello\"\n";
    EXPECT_EQ(received, greeting + greeting + greeting + greeting +
                            bytes({int(hello.size()), 0, 0, 0}) + hello + bytes({0, 0, 0, 0}));
}

TEST_F(LiveLink, HostileDescriptionAnswersGiveNoDescription) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("300"));
    Library lib(install.library);
    std::vector<FakePeer::Script> scripts;
    const std::string d = "RAYMINT-LIVE 1 DESCRIPTION ";
    for (const std::string& bytes : std::initializer_list<std::string>{
             "garbage\n", d + "99999999999999999999\n", d + "17000000\n", d + "100\nshort",
             d + std::string("5\nab\0cd", 7), d + "-5\nabc", d + "0\n", d + "3x\nabc",
             std::string("RAYMINT-LIVE 1 REFUSED\n"), std::string(5000, 'x'), std::string()})
        scripts.push_back(FakePeer::reply(bytes));
    scripts.push_back([](int fd) { FakePeer::drain(fd); });  // never answers
    const size_t refused = scripts.size();
    scripts.push_back(FakePeer::reply(d + "11\n<a>&#1;</a>"));
    FakePeer peer(std::move(scripts));

    // The test process itself poses as the renderer that owns the record.
    const InstanceRecord me{12, ::getpid(), peer.port,
                            raymint::processStartTime(::getpid()).value()};
    writeFile(install.record(me.processId), raymint::recordText(me));
    EXPECT_EQ(text(lib.query->instances()), instanceXml({me}));
    ASSERT_TRUE(lib.query->attach(me.processId));
    for (size_t i = 0; i < refused; ++i) EXPECT_EQ(lib.query->sceneDescription(), nullptr) << i;
    EXPECT_EQ(text(lib.query->sceneDescription()), "<a>&#1;</a>");
    fs::remove(install.record(me.processId));  // or the installation's end would kill the test
}

// ---- hostile clients of the renderer ----------------------------------------------------

int rawConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect");
    return fd;
}

// Sends `request`, half-closes, and returns everything the renderer says until it closes.
std::string talk(int port, const std::string& request, bool halfClose = true) {
    const int fd = rawConnect(port);
    FakePeer::send(fd, request);
    if (halfClose) ::shutdown(fd, SHUT_WR);
    const std::string answer = FakePeer::drain(fd);
    ::close(fd);
    return answer;
}

// A stream of the given frames with the end mark.
std::string stream(std::vector<std::string> frames, bool end = true) {
    std::string all = "RAYMINT-LIVE 1 STREAM 9\n";
    for (const std::string& f : frames) {
        const auto n = static_cast<uint32_t>(f.size());  // little-endian, as is this machine
        all += std::string(reinterpret_cast<const char*>(&n), 4) + f;
    }
    return end ? all + bytes({0, 0, 0, 0}) : all;
}

TEST_F(LiveLink, RendererAnswersHostileClientsAndKeepsServing) {
    const InstanceRecord r =
        install.start({"--max-stream-bytes", "5000", "--client-timeout", "1", "--keep-streams"});
    const std::string ready = "RAYMINT-LIVE 1 READY 11 " + std::to_string(r.processId) + "\n";
    const std::string a = "group \"a\" {\n}\n", unclosed = "group \"Doc\" {\ngroup \"x\" {\n";
    const std::string fine = "group \"Fine\" {\n group \"Cart\" {\n  flags 1\n }\n}\n";
    const std::string fineBytes = std::to_string(fine.size());
    const std::string ok =
        ready + "RAYMINT-LIVE 1 DONE ok bytes " + fineBytes + " changed 0 kept 0\n";
    const auto failed = [&](const std::string& reason) {
        return ready + "RAYMINT-LIVE 1 DONE failed " + reason + "\n";
    };
    const auto size = [](const std::string& text) { return std::to_string(text.size()); };
    const std::string noRoot = "the stream holds no root group", cut = "group \"Cut\" {\n}\n";
    const std::string two = "the stream holds 2 root groups instead of one";
    const std::string big = "stream larger than 5000 bytes";
    const std::string open =
        "<stream>:3: unexpected end of input: 'group' block opened at line "
        "2 is not closed";
    const struct {
        std::string request, answer, log;  // log: the transfer log's new line, a pattern
    } cases[] = {
        {"GET / HTTP/1.0\r\n\r\n", "RAYMINT-LIVE 1 ERROR unknown request\n", ""},
        {std::string(3000, 'x'), "RAYMINT-LIVE 1 ERROR request line too long\n", ""},
        {"RAYMINT-LIVE 1 STREAM 9\n" + bytes({0xff, 0xff, 0xff, 0xff}),
         failed("frame of 4294967295 bytes (at most 16777216)"),
         failedLine("-", "0", "frame of 4294967295 bytes \\(at most 16777216\\)")},
        {stream({"version 9\n"}), failed(noRoot), failedLine("-", "10", noRoot)},
        {stream({a, a}), failed(two), failedLine("\"a\"", size(a + a), two)},
        {stream({unclosed}), failed(open), failedLine("\"Doc\"", size(unclosed), open)},
        {stream({"group \"Big\" {\n" + std::string(6000, ' ')}), failed(big),
         failedLine("\"Big\"", "[0-9]+", big)},
        // Ends without the end mark: no answer, and nothing taken.
        {stream({cut}, false), ready, failedLine("\"Cut\"", size(cut), closed)},
        {stream({fine.substr(0, 1), fine.substr(1)}), ok,  // a one-byte frame is kept too
         "modelset \"Fine\" bytes " + fineBytes +
             " changed 0 kept 0 status ok picture \"Fine.png\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(talk(r.port, c.request), c.answer);
        const Lines lines = readLines(install.transferLog);
        if (!c.log.empty()) {
            EXPECT_TRUE(std::regex_match(lines.back(), std::regex(c.log))) << lines.back();
        }
    }
    // Says nothing at all: dropped after the client timeout.
    EXPECT_EQ(talk(r.port, "", false), "");
    EXPECT_FALSE(fs::exists(install.output / "a.rmq"));
    EXPECT_FALSE(fs::exists(install.output / "Cut.rmq"));
    EXPECT_EQ(readFile(install.output / "Fine.rmq"), "// RayMint model set\n" + fine);
    EXPECT_EQ(readFile(install.output / "streams" / "transfer-1.rmq"), fine);

    // A picture that cannot be written leaves the transfer standing; so does a log that cannot
    // be written. The renderer's own log says so.
    fs::remove(install.output / "Fine.png");
    fs::create_directories(install.output / "Fine.png" / "in the way");
    EXPECT_EQ(talk(r.port, stream({fine})), ok);
    EXPECT_EQ(readLines(install.transferLog).back(),
              "modelset \"Fine\" bytes " + fineBytes + " changed 0 kept 0 status ok picture -");
    fs::rename(install.transferLog, install.dir / "old.log");
    fs::create_symlink("/dev/full", install.transferLog);
    EXPECT_EQ(talk(r.port, stream({fine})), ok);
    const std::string log = readFile(install.log);
    for (const std::string& said : std::initializer_list<std::string>{
             "raymint: \"Fine\": 1 unchanged components had no content to keep\n",
             "raymint: cannot append to " + install.transferLog.string() +
                 ": No space left on device\n"})
        EXPECT_NE(log.find(said), std::string::npos) << said << log;

    // More connections than it serves at once: an extra one is told so. (A renderer that
    // keeps silent clients long enough for all of them to be open.)
    const InstanceRecord patient = install.start();
    std::vector<int> held;
    std::string answer;
    while (held.size() < 20 && answer.empty()) {
        const int fd = rawConnect(patient.port);
        if (FakePeer::wait(fd, 50)) {
            answer = FakePeer::drain(fd);
            ::close(fd);
        } else {
            held.push_back(fd);
        }
    }
    EXPECT_EQ(answer, "RAYMINT-LIVE 1 BUSY\n");
    EXPECT_LE(held.size(), 16u);
    for (int fd : held) ::close(fd);
}

// ---- the renderer's command line ---------------------------------------------------------

TEST_F(LiveLink, RenderersStopAndRefuseBadSettings) {
    for (int signal : {SIGTERM, SIGINT}) {
        const InstanceRecord r = install.start();
        EXPECT_EQ(install.kill(r.processId, signal), 0) << signal;
        EXPECT_FALSE(fs::exists(install.record(r.processId))) << signal;
    }
    // Idle: ends by itself.
    const InstanceRecord idle = install.start({"--idle", "1"});
    EXPECT_EQ(install.wait(idle.processId), 0);
    EXPECT_FALSE(fs::exists(install.record(idle.processId)));

    // --list and --stop act on the renderers of the installation, and return once they ended.
    const std::string bin = install.binary.string();
    const InstanceRecord c = install.start();
    const std::string pid = std::to_string(c.processId);
    const RunResult list = run(bin, {"--list"});
    EXPECT_EQ(
        std::tie(list.status, list.output),
        std::make_tuple(0, "pid " + pid + " version 11 port " + std::to_string(c.port) + "\n"));
    const RunResult stop = run(bin, {"--stop", "--wait", "3600"});
    EXPECT_EQ(std::tie(stop.status, stop.output), std::make_tuple(0, "stopped pid " + pid + "\n"));
    EXPECT_EQ(install.wait(c.processId), 0);
    EXPECT_FALSE(fs::exists(install.record(c.processId)));
    const RunResult none = run(bin, {"--stop"});
    EXPECT_EQ(std::tie(none.status, none.output), std::make_tuple(0, std::string()));

    const RunResult help = run(bin, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: raymint [OPTION]...\n", 0), 0u);
    const fs::path config = install.dir / "bad.conf";
    writeFile(config, "# comment\nversion = 11\nbogus = 1\n");
    const std::string tryHelp = "\nTry 'raymint --help'.\n";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--idle", "x"},
         "raymint: bad value \"x\" for idle (expected seconds, 0 for never)" + tryHelp},
        {{"--frobnicate"}, "raymint: unknown argument \"--frobnicate\"" + tryHelp},
        {{"--config"}, "raymint: --config needs a value" + tryHelp},
        {{"--config", config.string()},
         "raymint: " + config.string() + ":3: unknown setting \"bogus\"\n"},
    };
    for (const auto& [args, message] : refused) {
        const RunResult r = run(bin, args);
        EXPECT_EQ(std::tie(r.status, r.output), std::make_tuple(2, message));
    }
    EXPECT_EQ(run(bin, {"--config", (install.dir / "none.conf").string()}).status, 2);

    // Every port of the range taken: a clear error, no record.
    const InstanceRecord r = install.start();
    const std::string only = std::to_string(r.port) + "-" + std::to_string(r.port);
    const RunResult busy = run(bin, {"--ports", only});
    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.output.rfind("raymint: no free port in " + only + " on 127.0.0.1 (port " +
                                    std::to_string(r.port) + ": Address already in use)",
                                0),
              0u)
        << busy.output;
    EXPECT_EQ(text(Library(install.library).query->instances()), instanceXml({r}));
}

#endif

TEST(LiveLinkLibrary, ExportsOnlyTheEntryPoint) {
    std::vector<std::string> names;
#ifdef _WIN32
    // The names of the DLL's export directory.
    const HMODULE module = ::LoadLibraryW(buildPath(RAYMINT_LIBRARY).wstring().c_str());
    ASSERT_NE(module, nullptr);
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameOffsets[i]));
    ::FreeLibrary(module);
#else
    const CommandResult nm = runCommand("nm -D --defined-only " + shellQuote(RAYMINT_LIBRARY));
    if (nm.status != 0) GTEST_SKIP() << "nm is not available";
    std::istringstream in(nm.out);
    for (std::string line; std::getline(in, line);)
        names.push_back(line.substr(line.rfind(' ') + 1));
#endif
    EXPECT_EQ(names, std::vector<std::string>{"raymint_live_initialize"});
}

}  // namespace
}  // namespace vex::test
