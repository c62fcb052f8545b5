// The whole live link through real processes on loopback: the installed library, loaded as
// the add-in loads it, drives installed renderers; broken, stalled and hostile peers must leave
// the host process running and every call bounded. On Windows the DLL (Winsock) drives the
// Linux renderer under Wine, in the cases that need no sockets or model sets of the test's own.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <atomic>
#include <regex>

#include "RendererTestSupport.hpp"
#ifndef _WIN32
#include "renderer/ModelSets.hpp"
#endif
#include "support/WriterHarness.hpp"

namespace vex::test {
namespace {

using raymint::InstanceRecord;
using Content = std::map<std::string, std::vector<float>>;
using Lines = std::vector<std::string>;

constexpr char kEmptyScene[] = "<raymint><scene><modelsets/></scene></raymint>";
constexpr char kShowingDoc[] =
    "<raymint><scene><modelsets><modelset name=\"Doc\" modelset=\"active\"/></modelsets></scene>"
    "</raymint>";

#ifndef _WIN32
std::string streamText(VexGroup& root) {
    MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), true);
        writeTransfer(&writer, root);
    }
    return memory.text();
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
#endif

std::string text(const char* s) {
    return s == nullptr ? "(null)" : s;
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

// The transfer log's line for a failed transfer of `set` (quoted, or "-").
std::string failedLine(const std::string& set, const std::string& bytes,
                       const std::string& reason) {
    return "modelset " + set + " bytes " + bytes + " changed 0 kept 0 status failed reason \"" +
           reason + "\"";
}
// Whether `line` is such a line; `bytes` and `reason` are patterns.
bool isFailedLine(const std::string& line, const std::string& set, const std::string& bytes,
                  const std::string& reason) {
    return std::regex_match(line, std::regex(failedLine(set, bytes, reason)));
}

std::shared_ptr<VexGroup> cart(bool changed, float wheelMarker = 1) {
    auto none = std::vector<std::shared_ptr<VexGroup>>{};
    auto wheel =
        component("Wheel", changed, {}, changed ? std::vector{body("Tyre", wheelMarker)} : none, 0);
    auto axle =
        component("Axle", changed, {wheel}, changed ? std::vector{body("Rod", 2)} : none, -200);
    return design(
        "Doc", component("Cart", changed, {axle}, changed ? std::vector{body("Base", 5)} : none));
}

// A design large enough to fill every socket buffer between the two processes.
std::shared_ptr<VexGroup> heavy(const std::string& name, size_t triangles) {
    return design(name, component("Cart", true, {}, {body("Hull", 9, triangles)}));
}

class LiveLink : public ::testing::Test {
  protected:
    ScopedEnv timeout{"RAYMINT_LIVE_TIMEOUT_MS", std::string("5000")};
};

// ---- instances and scene descriptions -------------------------------------------------------

#ifndef _WIN32
TEST_F(LiveLink, InstancesListOnlyLiveRenderers) {
    Installation install;
    Library lib(install.library());
    EXPECT_EQ(lib.query->instances(), nullptr);

    const InstanceRecord a = install.start(), b = install.start();
    EXPECT_EQ(a.version, 11);
    EXPECT_NE(a.port, b.port);
    EXPECT_EQ(text(lib.query->instances()),
              instanceXml(a.processId < b.processId ? std::vector{a, b} : std::vector{b, a}));

    // A killed renderer leaves its record behind; it is not listed.
    EXPECT_EQ(install.kill(static_cast<pid_t>(b.processId), SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(fs::exists(install.record(b.processId)));
    EXPECT_EQ(text(lib.query->instances()), instanceXml({a}));
    EXPECT_FALSE(lib.query->attach(b.processId));

    // A live process under a record it did not write (a reused pid), and junk.
    const InstanceRecord reused{a.version, ::getpid(), a.port, a.startTime + 12345};
    writeFile(install.record(::getpid()), raymint::recordText(reused));
    writeFile(install.records() / "77.instance", "raymint-instance 1\nversion x\n");
    writeFile(install.records() / "abc.instance", raymint::recordText(a));
    writeFile(install.records() / "88.instance", std::string(100000, 'x'));
    EXPECT_EQ(text(lib.query->instances()), instanceXml({a}));
    EXPECT_FALSE(lib.query->attach(::getpid()));

    EXPECT_EQ(described(lib, a.processId), kEmptyScene);
    EXPECT_EQ(lib.query->sceneDescription(), nullptr) << "detached";
}

TEST_F(LiveLink, TransfersBecomeModelSetsLogLinesAndDescriptions) {
    Installation install;
    const InstanceRecord r = install.start();
    Library lib(install.library());
    lib.scene->id(1);  // before connecting, as the add-in does

    auto first = cart(true);
    ASSERT_TRUE(transfer(lib.scene, r.port, *first));
    const std::string firstStream = streamText(*first);
    Lines log = {"modelset \"Doc\" bytes " + std::to_string(firstStream.size()) +
                 " changed 3 kept 0 status ok picture \"Doc.png\""};
    EXPECT_EQ(readLines(install.transferLog()), log);

    // The model-set file is exactly the set our own store makes of the same stream.
    raymint::ModelSetStore store;
    store.commit(store.prepare(parseString(firstStream)));
    std::string expected;
    {
        SceneTextWriter writer(expected);
        raymint::writeModelSet(*store.find("Doc"), writer);
    }
    const fs::path file = install.output() / "Doc.rmq";
    EXPECT_EQ(readFile(file), expected);
    EXPECT_EQ(described(lib, r.processId), kShowingDoc);

    // The next click: only the wheel changed.
    auto wheel = component("Wheel", true, {}, {body("Tyre", 21)}, 0);
    auto update = design("Doc", component("Cart", false, {component("Axle", false, {wheel})}));
    ASSERT_TRUE(transfer(lib.scene, r.port, *update, "127.0.0.1", 1));
    log.push_back("modelset \"Doc\" bytes " + std::to_string(streamText(*update).size()) +
                  " changed 1 kept 2 status ok picture \"Doc.png\"");
    EXPECT_EQ(readLines(install.transferLog()), log);
    EXPECT_EQ(
        componentContent(parseFile(file.string())),
        (Content{{"/Doc/Cart", {5}}, {"/Doc/Cart/Axle", {2}}, {"/Doc/Cart/Axle/Wheel", {21}}}));

    // A second design is shown; the first stays.
    ASSERT_TRUE(transfer(lib.scene, r.port, *design("R&D \"Cart\"", component("Cart", true))));
    EXPECT_EQ(described(lib, r.processId),
              "<raymint><scene><modelsets><modelset name=\"Doc\" modelset=\"inactive\"/>"
              "<modelset name=\"R&amp;D &quot;Cart&quot;\" modelset=\"active\"/>"
              "</modelsets></scene></raymint>");
    EXPECT_EQ(
        readLines(install.transferLog()).at(2).rfind("modelset \"R&D \\\"Cart\\\"\" bytes ", 0),
        0u);

    // Calls outside a connection do nothing and say so.
    EXPECT_FALSE(lib.scene->disconnect());
    EXPECT_FALSE(lib.scene->begin_group("loose", true));
    EXPECT_NE(lib.scene->captured_text(), nullptr);
}

#endif

TEST_F(LiveLink, FailedTransfersLeaveTheModelSetAndTheRendererGoesOn) {
    Installation install;
    const InstanceRecord r = install.start();
    ASSERT_TRUE(transfer(Library(install.library()).scene, r.port, *cart(true)));
    const fs::path file = install.output() / "Doc.rmq";
    const std::string before = readFile(file);

    // Text the reader cannot take: the transfer fails, the client is told.
    {
        Library lib(install.library());
        ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
        lib.scene->begin_group("Doc", true);
        lib.scene->print_formatted("%s\n", "@@@ not a scene");
        lib.scene->end_group();
        EXPECT_FALSE(lib.scene->disconnect());
    }
    Lines lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(isFailedLine(lines[1], "\"Doc\"", "[0-9]+", "<stream>:[0-9]+: .*")) << lines[1];

    // The client goes away in the middle of the design: destroyed without disconnect.
    {
        Library lib(install.library());
        ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
        lib.scene->begin_group("Doc", true);
        lib.scene->begin_group("Cart", true);
        lib.scene->flags(0x8001);
        ApiTarget target(lib.scene);
        vexSceneapi_oo writer(target);
        writer.write(*body("Hull", 9, 100000));  // more than the writer buffers
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (readLines(install.transferLog()).size() < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(isFailedLine(lines[2], "\"Doc\"", "[0-9]+",
                             "the client closed the connection before the end of the stream"))
        << lines[2];
    EXPECT_EQ(readFile(file), before);

    // Still serving, still showing the old set, still taking transfers.
    Library lib(install.library());
    EXPECT_EQ(described(lib, r.processId), kShowingDoc);
    ASSERT_TRUE(transfer(lib.scene, r.port, *cart(true, 31)));
    EXPECT_EQ(componentContent(parseFile(file.string())).at("/Doc/Cart/Axle/Wheel"),
              std::vector<float>{31});
}

// ---- broken peers ---------------------------------------------------------------------------

TEST_F(LiveLink, RendererDyingMidStreamLeavesTheHostRunning) {
    Installation install({"--die-after", "200000"});
    const InstanceRecord r = install.start();
    Library lib(install.library());
    ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
#ifndef _WIN32
    // SIGPIPE keeps its default action here: a send without MSG_NOSIGNAL would end the test.
    ::signal(SIGPIPE, SIG_DFL);
#endif
    writeTransfer(lib.scene, *heavy("Doc", 400000));
    EXPECT_FALSE(lib.scene->begin_group("after", true));
    EXPECT_FALSE(lib.scene->disconnect());
    EXPECT_EQ(install.wait(static_cast<pid_t>(r.processId)), 3);
    EXPECT_EQ(lib.query->instances(), nullptr);
    // The same library connects to the next renderer.
    EXPECT_TRUE(transfer(lib.scene, install.start({"--die-after", "0"}).port, *cart(true)));
}

TEST_F(LiveLink, StalledRendererTimesOutAndLaterCallsReturnAtOnce) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("300"));
    Installation install({"--stall-after", "100000"});
    const InstanceRecord r = install.start();
    Library lib(install.library());
    ASSERT_TRUE(lib.scene->connect("localhost", r.port, 4));
    lib.scene->begin_group("Doc", true);
    // Megabyte arrays until the writer notices; bounded, whatever happens.
    std::vector<float> values(256 * 1024, 1.0f);
    const SceneArray array{values.data(), static_cast<uint32_t>(values.size())};
    int written = 0;
    while (written < 512 && lib.scene->set_value("v", kFloatArray, &array)) ++written;
    EXPECT_LT(written, 512);
    // Once broken, every call gives up at once and says so.
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(lib.scene->set_value("v", kFloatArray, &array));
    EXPECT_FALSE(lib.scene->begin_group("more", true));
    EXPECT_FALSE(lib.scene->disconnect());

    // The renderer still serves others while one connection is stuck.
    EXPECT_EQ(described(Library(install.library()), r.processId), kEmptyScene);
    EXPECT_EQ(install.kill(static_cast<pid_t>(r.processId), SIGTERM), 0);
    const Lines lines = readLines(install.transferLog());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(isFailedLine(lines.back(), "\"Doc\"", "100000", ".*")) << lines.back();
}

#ifndef _WIN32
// A listener of the test's own that handles each connection with the next script.
class FakePeer {
  public:
    using Script = std::function<void(int fd)>;
    explicit FakePeer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listen_, 8) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("fake peer cannot listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakePeer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }

    static std::string line(int fd) {
        std::string text;
        char c = 0;
        while (wait(fd) && ::recv(fd, &c, 1, 0) == 1 && c != '\n') text += c;
        return text;
    }
    static void send(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Reads until the other side closes (or 10 s pass).
    static std::string drain(int fd) {
        std::string all;
        char buffer[65536];
        for (ssize_t n = 0; wait(fd) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, static_cast<size_t>(n));
        return all;
    }

  private:
    static bool wait(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10000) == 1;
    }
    void serve() {
        for (const Script& script : scripts_) {
            int fd = -1;
            while (!stop_ && fd < 0) {
                pollfd p{listen_, POLLIN, 0};
                if (::poll(&p, 1, 20) == 1) fd = ::accept(listen_, nullptr, nullptr);
            }
            if (fd < 0) return;
            script(fd);
            ::close(fd);
        }
    }
    std::vector<Script> scripts_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(LiveLink, ConnectFailsQuicklyWhenNoRendererAnswers) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("300"));
    Installation install;
    Library lib(install.library());

    // A port nobody listens on, nothing to connect to at all, or nothing that may be looked up.
    const int closedPort = FakePeer({}).port();
    const std::tuple<const char*, int, int> nowhere[] = {
        {"127.0.0.1", closedPort, 1}, {"localhost", closedPort, 4},
        {nullptr, 50000, 1},          {"127.0.0.1", 0, 1},
        {"127.0.0.1", 70000, 1},      {"renderer.example.invalid", 50000, 1}};
    for (const auto& [host, port, mode] : nowhere) {
        EXPECT_FALSE(lib.scene->connect(host, port, mode)) << text(host) << " " << port;
    }

    // Listeners that are not renderers: silent, talking something else, closing at once.
    FakePeer peer({[](int fd) { FakePeer::drain(fd); },
                   [](int fd) {
                       FakePeer::line(fd);
                       FakePeer::send(fd, "HTTP/1.0 400 Bad Request\r\n\r\n");
                   },
                   [](int) {},
                   [](int fd) {
                       FakePeer::line(fd);
                       FakePeer::send(fd, "RAYMINT-LIVE 1 BUSY\n");
                   }});
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(lib.scene->connect("127.0.0.1", peer.port(), 1)) << i;
    EXPECT_FALSE(lib.scene->begin_group("Doc", true));
    EXPECT_FALSE(lib.scene->disconnect());
}

TEST_F(LiveLink, StreamPeersThatMisbehaveAfterTheGreeting) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("500"));
    Installation install;
    Library lib(install.library());
    std::string received;
    auto greet = [&](int fd) {
        received = FakePeer::line(fd);
        FakePeer::send(fd, "RAYMINT-LIVE 1 READY 11 1\n");
    };
    FakePeer peer({greet,         // then hangs up
                   [&](int fd) {  // takes everything, then answers nonsense
                       greet(fd);
                       FakePeer::drain(fd);
                       FakePeer::send(fd, "RAYMINT-LIVE 1 DONE maybe\n");
                   },
                   [&](int fd) {  // takes everything, never answers (until the client gives up)
                       greet(fd);
                       FakePeer::drain(fd);
                       pollfd p{fd, POLLIN, 0};
                       ::poll(&p, 1, 5000);
                   },
                   [&](int fd) {  // a proper peer
                       greet(fd);
                       received += "|" + FakePeer::drain(fd);
                       FakePeer::send(fd, "RAYMINT-LIVE 1 DONE ok\n");
                   }});
    lib.scene->id(7);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(lib.scene->connect("127.0.0.1", peer.port(), 1)) << i;
        writeTransfer(lib.scene, *heavy("Doc", i == 0 ? 100000 : 10));
        EXPECT_FALSE(lib.scene->disconnect()) << i;
    }
    ASSERT_TRUE(lib.scene->connect("127.0.0.1", peer.port(), 1));
    lib.scene->print("hello");
    EXPECT_TRUE(lib.scene->disconnect());
    // The greeting names the client; the scene travels in frames with an empty one at the end.
    const std::string hello = "#print \"hello\"\n";
    EXPECT_EQ(received, "RAYMINT-LIVE 1 STREAM 7|" + bytes({int(hello.size()), 0, 0, 0}) + hello +
                            bytes({0, 0, 0, 0}));
}

TEST_F(LiveLink, HostileDescriptionAnswersGiveNoDescription) {
    ScopedEnv shortWait("RAYMINT_LIVE_TIMEOUT_MS", std::string("300"));
    Installation install;
    Library lib(install.library());
    auto answer = [](std::string bytes) {
        return [bytes](int fd) {
            if (FakePeer::line(fd) != "RAYMINT-LIVE 1 DESCRIBE") return;
            FakePeer::send(fd, bytes);
        };
    };
    std::vector<FakePeer::Script> scripts;
    for (const std::string& bytes : std::initializer_list<std::string>{
             "garbage\n", "RAYMINT-LIVE 1 DESCRIPTION 99999999999999999999\n",
             "RAYMINT-LIVE 1 DESCRIPTION 17000000\n", "RAYMINT-LIVE 1 DESCRIPTION 100\nshort",
             std::string("RAYMINT-LIVE 1 DESCRIPTION 5\nab\0cd", 34),
             "RAYMINT-LIVE 1 DESCRIPTION -5\nabc", "RAYMINT-LIVE 1 DESCRIPTION 0\n",
             "RAYMINT-LIVE 1 DESCRIPTION 3x\nabc", "RAYMINT-LIVE 1 REFUSED\n",
             std::string(5000, 'x'), ""}) {
        scripts.push_back(answer(bytes));
    }
    scripts.push_back([](int fd) { FakePeer::drain(fd); });  // never answers
    const size_t refused = scripts.size();
    scripts.push_back(answer("RAYMINT-LIVE 1 DESCRIPTION 11\n<a>&#1;</a>"));
    FakePeer peer(std::move(scripts));

    // The test process itself poses as the renderer that owns the record.
    const InstanceRecord me{12, ::getpid(), peer.port(),
                            raymint::processStartTime(::getpid()).value()};
    fs::create_directories(install.records());
    writeFile(install.record(me.processId), raymint::recordText(me));
    EXPECT_EQ(text(lib.query->instances()), instanceXml({me}));
    ASSERT_TRUE(lib.query->attach(me.processId));
    for (size_t i = 0; i < refused; ++i) EXPECT_EQ(lib.query->sceneDescription(), nullptr) << i;
    EXPECT_EQ(text(lib.query->sceneDescription()), "<a>&#1;</a>");
}

// ---- hostile clients of the renderer --------------------------------------------------------

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

std::string frame(const std::string& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    return bytes({int(n & 0xFF), int((n >> 8) & 0xFF), int((n >> 16) & 0xFF), int(n >> 24)}) +
           payload;
}

TEST_F(LiveLink, RendererAnswersHostileClientsAndKeepsServing) {
    Installation install;
    const InstanceRecord r = install.start({"--max-stream-bytes", "5000", "--client-timeout", "1"});
    const std::string ready = "RAYMINT-LIVE 1 READY 11 " + std::to_string(r.processId) + "\n";
    const std::string stream = "RAYMINT-LIVE 1 STREAM 9\n";
    const std::string end = bytes({0, 0, 0, 0});

    EXPECT_EQ(talk(r.port, "GET / HTTP/1.0\r\n\r\n"), "RAYMINT-LIVE 1 ERROR unknown request\n");
    EXPECT_EQ(talk(r.port, std::string(3000, 'x')), "RAYMINT-LIVE 1 ERROR request line too long\n");
    // Streams the renderer refuses: the answer and the log line give the reason.
    const std::string a = "group \"a\" {\n}\n", unclosed = "group \"Doc\" {\ngroup \"x\" {\n";
    const struct {
        std::string request, reason, set, bytes;  // bytes empty: depends on how they arrive
    } refused[] = {
        {stream + bytes({0xff, 0xff, 0xff, 0xff}), "frame of 4294967295 bytes (at most 16777216)",
         "-", "0"},
        {stream + frame("version 9\n") + end, "the stream holds no root group", "-", "10"},
        {stream + frame(a) + frame(a) + end, "the stream holds 2 root groups instead of one",
         "\"a\"", std::to_string(2 * a.size())},
        {stream + frame(unclosed) + end,
         "<stream>:3: unexpected end of input: 'group' block opened at line 2 is not closed",
         "\"Doc\"", std::to_string(unclosed.size())},
        {stream + frame("group \"Big\" {\n" + std::string(6000, ' ')) + end,
         "stream larger than 5000 bytes", "\"Big\"", ""},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(talk(r.port, c.request), ready + "RAYMINT-LIVE 1 DONE failed " + c.reason + "\n");
    }
    // Ends without the end mark: no answer, and nothing taken.
    const std::string cut = "group \"Cut\" {\n}\n";
    EXPECT_EQ(talk(r.port, stream + frame(cut)), ready);
    // Says nothing at all: dropped after the client timeout.
    EXPECT_EQ(talk(r.port, "", false), "");

    const Lines lines = readLines(install.transferLog());
    ASSERT_EQ(lines.size(), 6u);
    for (size_t i = 0; i < std::size(refused); ++i) {
        const auto& c = refused[i];
        if (c.bytes.empty()) {
            EXPECT_TRUE(isFailedLine(lines[i], c.set, "[0-9]+", c.reason)) << lines[i];
        } else {
            EXPECT_EQ(lines[i], failedLine(c.set, c.bytes, c.reason));
        }
    }
    EXPECT_EQ(lines[5],
              failedLine("\"Cut\"", std::to_string(cut.size()),
                         "the client closed the connection before the end of the stream"));
    EXPECT_FALSE(fs::exists(install.output() / "a.rmq"));
    EXPECT_FALSE(fs::exists(install.output() / "Cut.rmq"));

    // More connections than it serves at once: an extra one is told so. (A renderer that
    // keeps silent clients long enough for all of them to be open.)
    const InstanceRecord patient = install.start();
    std::vector<int> held;
    std::string answer;
    while (held.size() < 20 && answer.empty()) {
        const int fd = rawConnect(patient.port);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) {
            answer = FakePeer::drain(fd);
            ::close(fd);
        } else {
            held.push_back(fd);
        }
    }
    EXPECT_EQ(answer, "RAYMINT-LIVE 1 BUSY\n");
    EXPECT_LE(held.size(), 16u);
    for (int fd : held) ::close(fd);

    // And a proper transfer still goes through.
    const std::string fine = "group \"Fine\" {\n}\n";
    const std::string size = std::to_string(fine.size());
    EXPECT_EQ(talk(r.port, stream + frame(fine) + end),
              ready + "RAYMINT-LIVE 1 DONE ok bytes " + size + " changed 0 kept 0\n");
    EXPECT_EQ(
        readLines(install.transferLog()).back(),
        "modelset \"Fine\" bytes " + size + " changed 0 kept 0 status ok picture \"Fine.png\"");
    EXPECT_EQ(readFile(install.output() / "Fine.rmq"), "// RayMint model set\n" + fine);

    // A picture that cannot be written leaves the transfer standing; the log says so.
    fs::remove(install.output() / "Fine.png");
    fs::create_directories(install.output() / "Fine.png" / "in the way");
    EXPECT_EQ(talk(r.port, stream + frame(fine) + end),
              ready + "RAYMINT-LIVE 1 DONE ok bytes " + size + " changed 0 kept 0\n");
    EXPECT_EQ(readLines(install.transferLog()).back(),
              "modelset \"Fine\" bytes " + size + " changed 0 kept 0 status ok picture -");
}

#endif

// ---- stopping -------------------------------------------------------------------------------

TEST_F(LiveLink, RenderersStopAndRemoveTheirRecords) {
    Installation install;
    for (int signal : {SIGTERM, SIGINT}) {
        const InstanceRecord r = install.start();
        EXPECT_EQ(install.kill(static_cast<pid_t>(r.processId), signal), 0) << signal;
        EXPECT_FALSE(fs::exists(install.record(r.processId))) << signal;
    }
    // Idle: ends by itself.
    const InstanceRecord idle = install.start({"--idle", "1"});
    EXPECT_EQ(install.wait(static_cast<pid_t>(idle.processId)), 0);
    EXPECT_FALSE(fs::exists(install.record(idle.processId)));

    // --list and --stop act on the renderers of the installation.
    const InstanceRecord c = install.start();
    const RunResult list = run(install.binary().string(), {"--list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.output, "pid " + std::to_string(c.processId) + " version 11 port " +
                               std::to_string(c.port) + "\n");
    const RunResult stop = run(install.binary().string(), {"--stop"});
    EXPECT_EQ(stop.status, 0) << stop.output;
    EXPECT_EQ(stop.output, "stopped pid " + std::to_string(c.processId) + "\n");
    EXPECT_EQ(install.wait(static_cast<pid_t>(c.processId)), 0);
    EXPECT_FALSE(fs::exists(install.record(c.processId)));
    const RunResult none = run(install.binary().string(), {"--stop"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.output, "");
}

#ifndef _WIN32
TEST_F(LiveLink, RendererRefusesBadSettingsAndBusyPorts) {
    Installation install;
    const std::string bin = install.binary().string();
    const RunResult help = run(bin, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: raymint [OPTION]...\n", 0), 0u);

    const fs::path config = install.dir() / "bad.conf";
    writeFile(config, "# comment\nversion = 11\nbogus = 1\n");
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--ports", "9-1"},
         "raymint: bad value \"9-1\" for ports (expected FIRST-LAST with 1 <= FIRST <= LAST <= "
         "65535)\nTry 'raymint --help'.\n"},
        {{"--frobnicate"}, "raymint: unknown argument \"--frobnicate\"\nTry 'raymint --help'.\n"},
        {{"--config", config.string()},
         "raymint: " + config.string() + ":3: unknown setting \"bogus\"\n"},
    };
    for (const auto& [args, message] : refused) {
        const RunResult r = run(bin, args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.output, message);
    }
    EXPECT_EQ(run(bin, {"--config", (install.dir() / "none.conf").string()}).status, 2);

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
    EXPECT_EQ(text(Library(install.library()).query->instances()), instanceXml({r}));
}

#endif

TEST_F(LiveLink, RefusedDescriptionIsNoDescription) {
    Installation install({"--refuse-describe"});
    const InstanceRecord r = install.start();
    Library lib(install.library());
    EXPECT_EQ(described(lib, r.processId), "(null)");
    EXPECT_TRUE(transfer(lib.scene, r.port, *cart(true))) << "streams are still taken";
}

TEST(LiveLinkLibrary, ExportsOnlyTheEntryPoint) {
    std::vector<std::string> names;
#ifdef _WIN32
    // The names of the DLL's export directory.
    const HMODULE module = ::LoadLibraryW(windowsPath(RAYMINT_LIBRARY).wstring().c_str());
    ASSERT_NE(module, nullptr);
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameOffsets[i]));
    ::FreeLibrary(module);
    const std::string output;
#else
    const std::string command =
        std::string("nm -D --defined-only '") + RAYMINT_LIBRARY + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    if (::pclose(pipe) != 0) GTEST_SKIP() << "nm is not available";
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.rfind(' ');
        names.push_back(line.substr(space + 1));
    }
#endif
    EXPECT_EQ(names, std::vector<std::string>{"raymint_live_initialize"}) << output;
}

}  // namespace
}  // namespace vex::test
