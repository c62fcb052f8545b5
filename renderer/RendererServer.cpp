#include "renderer/RendererServer.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "reader/SceneReader.hpp"
#include "reader/SceneText.hpp"
#include "renderer/InstanceRecords.hpp"
#include "renderer/LiveWire.hpp"
#include "renderer/PosixFiles.hpp"

namespace vex::raymint {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxConnections = 16;
constexpr size_t kReceiveChunk = 256 * 1024;
constexpr size_t kMaxReason = 300;
// After its answer a connection is read to its end for at most this long, so the answer is
// not lost to a reset caused by unread bytes.
constexpr auto kLinger = std::chrono::seconds(5);

uint32_t littleEndian32(const unsigned char* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// One line of protocol text from any bytes: no line feeds, bounded.
std::string lineSafe(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (out.size() >= kMaxReason) break;
        out += (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
    }
    return out;
}

std::string protocolLine(const std::string& words) {
    return std::string(wire::kMagic) + " " + words + "\n";
}

// A tree builder that notes the root group's name as soon as its block opens, so a transfer
// that fails later still names its model set in the log.
class NamingTreeBuilder : public TreeBuilder {
  public:
    void beginBlock(Block&& header) override {
        if (depth_ == 0 && !rootName && header.keyword == "group" && header.prefix.empty())
            rootName = header.name();
        ++depth_;
        TreeBuilder::beginBlock(std::move(header));
    }
    void endBlock(int line) override {
        --depth_;
        TreeBuilder::endBlock(line);
    }
    std::optional<std::string> rootName;

  private:
    int depth_ = 0;
};

}  // namespace

struct RendererServer::Connection {
    enum class State { Hello, Stream, Answer, Linger };

    int fd = -1;
    uint64_t number = 0;
    State state = State::Hello;
    std::string hello;
    std::string out;
    size_t outSent = 0;
    Clock::time_point lastActivity;
    Clock::time_point lingerEnd;
    bool stalled = false;

    // A scene stream.
    std::string clientId;
    unsigned char header[4] = {};
    size_t headerHave = 0;
    uint32_t frameLeft = 0;
    uint64_t received = 0;
    std::unique_ptr<NamingTreeBuilder> tree;
    std::unique_ptr<SceneReader> reader;
    std::optional<std::string> failure;     // the first error; the rest of the stream is skipped
    std::optional<std::string> failedName;  // the root group's name, once the tree is dropped
    int keptFd = -1;                        // the raw stream, when streams are kept
    std::string keptTemp;
};

std::string executablePrefix() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return self.parent_path().parent_path().string();
}

RendererServer::RendererServer(RendererConfig config, std::string prefix)
    : config_(std::move(config)), prefix_(std::move(prefix)) {
    output_ = config_.output.empty() ? prefix_ + "/var/output" : config_.output;
    records_ = instanceFolder(prefix_);
}

RendererServer::~RendererServer() {
    for (auto& c : connections_) {
        if (c->fd >= 0) ::close(c->fd);
        stopKeeping(*c, false);
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    if (published_) removeRecord(records_, ::getpid());
}

bool RendererServer::listenOnRange(std::string& error) {
    std::string lastError = "no port tried";
    for (int port = config_.firstPort; port <= config_.lastPort; ++port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("cannot create a socket: ") + std::strerror(errno);
            return false;
        }
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd, 16) == 0) {
            listenFd_ = fd;
            port_ = port;
            return true;
        }
        lastError = "port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
    }
    error = "no free port in " + std::to_string(config_.firstPort) + "-" +
            std::to_string(config_.lastPort) + " on 127.0.0.1 (" + lastError + ")";
    return false;
}

int RendererServer::run() {
    std::error_code fsError;
    for (const std::string& folder : {output_, records_}) {
        fs::create_directories(folder, fsError);
        if (!fs::is_directory(folder)) {
            std::fprintf(stderr, "raymint: cannot create folder %s\n", folder.c_str());
            return 1;
        }
    }
    liveInstances(records_, true);  // records of renderers that died without cleaning up

    ::signal(SIGPIPE, SIG_IGN);
    // The stop signals arrive as readable data in the poll set, so none is lost between a
    // check and the wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = ::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "raymint: cannot watch signals: %s\n", std::strerror(errno));
        return 1;
    }

    std::string error;
    if (!listenOnRange(error)) {
        std::fprintf(stderr, "raymint: %s\n", error.c_str());
        ::close(signals);
        return 1;
    }
    InstanceRecord record;
    record.version = config_.version;
    record.processId = ::getpid();
    record.port = port_;
    record.startTime = processStartTime(record.processId).value_or(0);
    if (!publishRecord(records_, record, error)) {
        std::fprintf(stderr, "raymint: %s\n", error.c_str());
        ::close(signals);
        return 1;
    }
    published_ = true;
    std::fprintf(stderr, "raymint: RayMint %d listening on 127.0.0.1:%d (pid %ld)\n",
                 config_.version, port_, static_cast<long>(record.processId));

    lastActivity_ = Clock::now();
    std::vector<pollfd> fds;
    bool stopSignal = false;
    while (!stopSignal) {
        fds.clear();
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({signals, POLLIN, 0});
        for (const auto& c : connections_) {
            short events = 0;
            if (!c->stalled) events |= POLLIN;
            if (c->outSent < c->out.size()) events |= POLLOUT;
            fds.push_back({c->fd, events, 0});
        }
        const int timeout = pollTimeout(Clock::now());
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "raymint: poll failed: %s\n", std::strerror(errno));
            break;
        }
        if (ready > 0) {
            // Connections first: accepting appends to the list the descriptors refer to.
            const size_t count = connections_.size();
            for (size_t i = 0; i < count; ++i)
                if (fds[i + 2].revents != 0) serve(*connections_[i], fds[i + 2].revents);
            if (fds[0].revents & POLLIN) acceptAll();
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                stopSignal = ::read(signals, &info, sizeof info) == sizeof info;
            }
        }
        expire(Clock::now());
        connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                          [](const auto& c) { return c->fd < 0; }),
                           connections_.end());
        if (!connections_.empty()) lastActivity_ = Clock::now();
        if (config_.idleSeconds > 0 && connections_.empty() &&
            Clock::now() - lastActivity_ >= std::chrono::seconds(config_.idleSeconds)) {
            std::fprintf(stderr, "raymint: idle for %lld s, stopping\n",
                         static_cast<long long>(config_.idleSeconds));
            break;
        }
    }
    ::close(signals);
    if (stopSignal) std::fprintf(stderr, "raymint: stopping on a signal\n");
    for (auto& c : connections_) {
        if (c->state == Connection::State::Stream) failTransfer(*c, "the renderer stopped", false);
        close(*c);
    }
    connections_.clear();
    ::close(listenFd_);
    listenFd_ = -1;
    removeRecord(records_, ::getpid());
    published_ = false;
    return 0;
}

int RendererServer::pollTimeout(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    const auto clientTimeout = std::chrono::seconds(config_.clientTimeoutSeconds);
    for (const auto& c : connections_) {
        next =
            std::min(next, c->state == Connection::State::Linger ? c->lingerEnd
                                                                 : c->lastActivity + clientTimeout);
    }
    if (config_.idleSeconds > 0 && connections_.empty())
        next = std::min(next, lastActivity_ + std::chrono::seconds(config_.idleSeconds));
    if (next == Clock::time_point::max()) return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    return static_cast<int>(std::clamp<long long>(ms, 0, 3600 * 1000));
}

void RendererServer::expire(Clock::time_point now) {
    const auto clientTimeout = std::chrono::seconds(config_.clientTimeoutSeconds);
    for (auto& c : connections_) {
        if (c->fd < 0) continue;
        if (c->state == Connection::State::Linger) {
            if (now >= c->lingerEnd) close(*c);
            continue;
        }
        if (now - c->lastActivity < clientTimeout) continue;
        if (c->state == Connection::State::Stream)
            failTransfer(*c,
                         "no data from the client for " +
                             std::to_string(config_.clientTimeoutSeconds) + " s",
                         false);
        close(*c);
    }
}

void RendererServer::acceptAll() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        lastActivity_ = Clock::now();
        if (connections_.size() >= kMaxConnections) {
            const std::string busy = protocolLine(wire::kBusy);
            [[maybe_unused]] const ssize_t ignored =
                ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        if (config_.stallAfterBytes != 0 || config_.dieAfterBytes != 0) {
            // A small window makes the failure reach the client after little data.
            const int size = 16 * 1024;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->number = nextConnection_++;
        c->lastActivity = Clock::now();
        connections_.push_back(std::move(c));
    }
}

void RendererServer::serve(Connection& c, short revents) {
    if (c.fd < 0) return;
    if (c.stalled && (revents & (POLLHUP | POLLERR))) {
        failTransfer(c, "the client went away while the renderer was not reading", false);
        close(c);
        return;
    }
    if (revents & POLLOUT) writeTo(c);
    if (c.fd >= 0 && (revents & (POLLIN | POLLHUP | POLLERR)) && !c.stalled) readFrom(c);
}

void RendererServer::readFrom(Connection& c) {
    static std::vector<char> chunk(kReceiveChunk);
    size_t want = chunk.size();
    if (c.state == Connection::State::Stream && config_.stallAfterBytes != 0) {
        // Takes no more than the knob lets through, so the kernel's buffers fill up.
        const uint64_t left =
            config_.stallAfterBytes > c.received ? config_.stallAfterBytes - c.received + 4 : 4;
        want = static_cast<size_t>(std::min<uint64_t>(want, left));
    }
    const ssize_t got = ::recv(c.fd, chunk.data(), want, 0);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        if (c.state == Connection::State::Stream)
            failTransfer(c, std::string("connection error: ") + std::strerror(errno), false);
        close(c);
        return;
    }
    if (got == 0) {
        if (c.state == Connection::State::Stream)
            failTransfer(c, "the client closed the connection before the end of the stream", false);
        close(c);
        return;
    }
    c.lastActivity = Clock::now();
    if (c.state == Connection::State::Linger) return;  // read to the end, thrown away
    consume(c, chunk.data(), static_cast<size_t>(got));
}

void RendererServer::consume(Connection& c, const char* data, size_t n) {
    if (c.state == Connection::State::Hello) {
        const size_t room = wire::kMaxLine - c.hello.size();
        const char* lf = static_cast<const char*>(std::memchr(data, '\n', std::min(n, room)));
        if (lf == nullptr) {
            if (n >= room) {
                queue(c, protocolLine(std::string(wire::kError) + " request line too long"));
                c.state = Connection::State::Answer;
                return;
            }
            c.hello.append(data, n);
            return;
        }
        const size_t used = static_cast<size_t>(lf - data) + 1;
        c.hello.append(data, used - 1);
        hello(c);
        data += used;
        n -= used;
        if (n == 0 || c.state != Connection::State::Stream) return;
    }
    if (c.state == Connection::State::Stream) streamData(c, data, n);
}

void RendererServer::hello(Connection& c) {
    const auto words = wire::afterMagic(c.hello);
    const std::string request = words.value_or("");
    const std::string stream = wire::kStream;
    if (words && (request == stream || request.rfind(stream + " ", 0) == 0)) {
        c.clientId = request.size() > stream.size() ? lineSafe(request.substr(stream.size() + 1))
                                                    : std::string();
        c.state = Connection::State::Stream;
        c.tree = std::make_unique<NamingTreeBuilder>();
        c.reader = std::make_unique<SceneReader>(*c.tree, "<stream>");
        if (config_.keepStreams) startKeeping(c);
        queue(c, protocolLine(std::string(wire::kReady) + " " + std::to_string(config_.version) +
                              " " + std::to_string(::getpid())));
        std::fprintf(stderr, "raymint: connection %llu: scene stream from client %s\n",
                     static_cast<unsigned long long>(c.number),
                     c.clientId.empty() ? "-" : c.clientId.c_str());
        return;
    }
    c.state = Connection::State::Answer;
    if (words && request == wire::kDescribe) {
        if (config_.refuseDescribe) {
            queue(c, protocolLine(wire::kRefused));
            return;
        }
        const std::string xml = store_.describe();
        queue(c, protocolLine(std::string(wire::kDescription) + " " + std::to_string(xml.size())) +
                     xml);
        return;
    }
    queue(c, protocolLine(std::string(wire::kError) + " unknown request"));
}

void RendererServer::streamData(Connection& c, const char* data, size_t n) {
    while (n > 0 && c.state == Connection::State::Stream && !c.stalled) {
        if (c.headerHave < 4) {
            const size_t take = std::min(n, 4 - c.headerHave);
            std::memcpy(c.header + c.headerHave, data, take);
            c.headerHave += take;
            data += take;
            n -= take;
            if (c.headerHave < 4) return;
            const uint32_t length = littleEndian32(c.header);
            if (length == 0) {
                endOfStream(c);
                return;
            }
            if (length > wire::kMaxFrame) {
                failTransfer(c,
                             "frame of " + std::to_string(length) + " bytes (at most " +
                                 std::to_string(wire::kMaxFrame) + ")",
                             true);
                return;
            }
            c.frameLeft = length;
            continue;
        }
        size_t take = std::min<size_t>(n, c.frameLeft);
        bool dieNow = false;
        bool stallNow = false;
        if (config_.dieAfterBytes != 0 && c.received + take >= config_.dieAfterBytes) {
            take = static_cast<size_t>(config_.dieAfterBytes - c.received);
            dieNow = true;
        } else if (config_.stallAfterBytes != 0 && c.received + take >= config_.stallAfterBytes) {
            take = static_cast<size_t>(config_.stallAfterBytes - c.received);
            stallNow = true;
        }
        if (!c.failure) {
            try {
                c.reader->feed(data, take);
            } catch (const std::exception& e) {
                c.failure = e.what();
                // The rest of the stream is read and dropped: the client still gets an answer.
                c.failedName = c.tree->rootName;
                c.tree.reset();
                c.reader.reset();
            }
        }
        if (c.keptFd >= 0 && !writeAll(c.keptFd, data, take)) {
            std::fprintf(stderr, "raymint: cannot keep the stream in %s: %s\n", c.keptTemp.c_str(),
                         std::strerror(errno));
            stopKeeping(c, false);
        }
        c.received += take;
        c.frameLeft -= static_cast<uint32_t>(take);
        data += take;
        n -= take;
        if (c.frameLeft == 0) c.headerHave = 0;
        if (dieNow) {
            std::fprintf(stderr, "raymint: dying after %llu bytes as configured\n",
                         static_cast<unsigned long long>(c.received));
            std::_Exit(kDiedOnPurpose);
        }
        if (stallNow) {
            std::fprintf(stderr, "raymint: connection %llu: not reading after %llu bytes\n",
                         static_cast<unsigned long long>(c.number),
                         static_cast<unsigned long long>(c.received));
            c.stalled = true;
            return;
        }
        if (c.received > config_.maxStreamBytes) {
            failTransfer(
                c, "stream larger than " + std::to_string(config_.maxStreamBytes) + " bytes", true);
            return;
        }
    }
}

void RendererServer::endOfStream(Connection& c) {
    std::string error;
    if (!c.failure) {
        try {
            c.reader->finish();
            PreparedTransfer transfer = store_.prepare(c.tree->take());
            if (!writeModelSetFile(transfer.set, error)) throw std::runtime_error(error);
            const std::string name = transfer.set.name;
            const TransferCounts counts = transfer.counts;
            store_.commit(std::move(transfer));
            const std::string kept = stopKeeping(c, true);
            const std::optional<std::string> picture = writePicture(*store_.find(name), kept);
            const std::string line = transferLine(name, c.received, counts, picture);
            appendTransferLog(line);
            if (counts.missing != 0)
                std::fprintf(
                    stderr, "raymint: %s: %llu unchanged components had no content to keep\n",
                    logQuoted(name).c_str(), static_cast<unsigned long long>(counts.missing));
            c.tree.reset();
            c.reader.reset();
            queue(c, protocolLine(std::string(wire::kDone) + " ok bytes " +
                                  std::to_string(c.received) + " changed " +
                                  std::to_string(counts.changed) + " kept " +
                                  std::to_string(counts.kept)));
            c.state = Connection::State::Answer;
            return;
        } catch (const std::exception& e) {
            c.failure = e.what();
        }
    }
    failTransfer(c, *c.failure, true);
}

void RendererServer::failTransfer(Connection& c, const std::string& reason, bool answer) {
    const std::optional<std::string> name = c.tree ? c.tree->rootName : c.failedName;
    appendTransferLog(failedTransferLine(name, c.received, reason));
    stopKeeping(c, false);
    c.tree.reset();
    c.reader.reset();
    c.state = Connection::State::Answer;
    if (answer) queue(c, protocolLine(std::string(wire::kDone) + " failed " + lineSafe(reason)));
}

void RendererServer::queue(Connection& c, const std::string& text) {
    c.out += text;
    writeTo(c);
}

void RendererServer::writeTo(Connection& c) {
    while (c.fd >= 0 && c.outSent < c.out.size()) {
        const ssize_t sent = ::send(c.fd, c.out.data() + c.outSent, c.out.size() - c.outSent,
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            close(c);
            return;
        }
        c.outSent += static_cast<size_t>(sent);
        c.lastActivity = Clock::now();
    }
    if (c.fd >= 0 && c.state == Connection::State::Answer && c.outSent == c.out.size()) {
        ::shutdown(c.fd, SHUT_WR);
        c.state = Connection::State::Linger;
        c.lingerEnd = Clock::now() + kLinger;
        c.stalled = false;
    }
}

void RendererServer::startKeeping(Connection& c) {
    const std::string folder = output_ + "/streams";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "raymint: cannot create %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return;
    }
    c.keptTemp = folder + "/.connection-" + std::to_string(c.number) + ".tmp";
    c.keptFd = ::open(c.keptTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (c.keptFd < 0)
        std::fprintf(stderr, "raymint: cannot create %s: %s\n", c.keptTemp.c_str(),
                     std::strerror(errno));
}

std::string RendererServer::stopKeeping(Connection& c, bool transferred) {
    if (c.keptFd < 0) return {};
    const bool closed = ::close(c.keptFd) == 0;
    c.keptFd = -1;
    if (transferred && closed) {
        const std::string final =
            output_ + "/streams/transfer-" + std::to_string(++keptStreams_) + ".rmq";
        if (::rename(c.keptTemp.c_str(), final.c_str()) == 0) return final;
        std::fprintf(stderr, "raymint: cannot rename %s: %s\n", c.keptTemp.c_str(),
                     std::strerror(errno));
    }
    ::unlink(c.keptTemp.c_str());
    return {};
}

void RendererServer::close(Connection& c) {
    if (c.fd >= 0) ::close(c.fd);
    c.fd = -1;
}

bool RendererServer::writeModelSetFile(const ModelSet& set, std::string& error) {
    const std::string file = modelSetFileName(set.name);
    const std::string final = output_ + "/" + file;
    const std::string temp = output_ + "/." + file + ".tmp";
    std::FILE* stream = std::fopen(temp.c_str(), "wbe");
    if (stream == nullptr) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok;
    {
        SceneTextWriter writer(stream);
        writeModelSet(set, writer);
        ok = writer.flush();
    }
    ok = std::fflush(stream) == 0 && ok && !std::ferror(stream);
    const int writeErrno = errno;
    ok = std::fclose(stream) == 0 && ok;
    if (!ok) {
        error = "cannot write " + temp + ": " + std::strerror(writeErrno ? writeErrno : EIO);
        ::unlink(temp.c_str());
        return false;
    }
    return renameOver(temp, final, error);
}

std::optional<std::string> RendererServer::writePicture(const ModelSet& set,
                                                        const std::string& keptStream) {
    const std::string file = modelSetFileName(set.name, ".png");
    std::string error;
    try {
        const preview::Picture picture = renderModelSet(set);
        std::fprintf(stderr, "raymint: %s: %s\n", file.c_str(),
                     preview::describe(picture.counts).c_str());
        const std::string png = preview::encodePng(picture.image);
        // Beside a kept stream, the picture after it: one per click, for looking back.
        if (!keptStream.empty()) {
            const std::string beside = keptStream.substr(0, keptStream.size() - 4) + ".png";
            std::string ignored;
            if (!writeAtomically(beside, beside + ".tmp", png, 0644, ignored))
                std::fprintf(stderr, "raymint: %s\n", ignored.c_str());
        }
        if (writeAtomically(output_ + "/" + file, output_ + "/." + file + ".tmp", png, 0644, error))
            return file;
    } catch (const std::exception& e) {
        error = e.what();
    }
    // The transfer itself stands; only its picture is missing.
    std::fprintf(stderr, "raymint: no picture of %s: %s\n", logQuoted(set.name).c_str(),
                 error.c_str());
    return std::nullopt;
}

void RendererServer::appendTransferLog(const std::string& line) {
    std::fprintf(stderr, "raymint: %s\n", line.c_str());
    const std::string path = output_ + "/transfers.log";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    const std::string text = line + "\n";
    // One write per line: concurrent readers never see half a line.
    if (fd < 0 || !writeAll(fd, text.data(), text.size()))
        std::fprintf(stderr, "raymint: cannot append to %s: %s\n", path.c_str(),
                     std::strerror(errno));
    if (fd >= 0) ::close(fd);
}

}  // namespace vex::raymint
