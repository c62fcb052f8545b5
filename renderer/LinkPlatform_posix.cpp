#include "renderer/LinkPlatform.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>

namespace vex::raymint::platform {

namespace {

bool pollFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        const int r = ::poll(&p, 1, timeoutMs);
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        timeoutMs = std::max(0, timeoutMs - static_cast<int>(spent.count()));
    }
}

Socket connectAddress(const sockaddr* address, socklen_t length, int family, int timeoutMs) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    int r = ::connect(fd, address, length);
    if (r != 0 && errno == EINPROGRESS && pollFor(fd, POLLOUT, timeoutMs)) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) r = 0;
    }
    if (r != 0) {
        ::close(fd);
        return kNoSocket;
    }
    const int one = 1;
    // The end mark and the answers are small: no waiting for more data to fill a packet.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

ssize_t cookieWrite(void* cookie, const char* bytes, size_t size);

}  // namespace

struct SinkStream::State {
    std::function<bool(const char*, size_t)> sink;
    bool failed = false;
};

namespace {

ssize_t cookieWrite(void* cookie, const char* bytes, size_t size) {
    auto* state = static_cast<SinkStream::State*>(cookie);
    if (state->failed || !state->sink(bytes, size)) {
        state->failed = true;
        errno = EPIPE;
        return -1;
    }
    return static_cast<ssize_t>(size);
}

}  // namespace

bool startSockets() {
    return true;
}

void stopSockets() {}

Socket connectNumeric(const char* address, int port, int timeoutMs) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address, &v4.sin_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4, AF_INET, timeoutMs);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET6, address, &v6.sin6_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v6), sizeof v6, AF_INET6, timeoutMs);
    return kNoSocket;
}

bool waitSocket(Socket socket, bool forWriting, int timeoutMs) {
    return pollFor(socket, forWriting ? POLLOUT : POLLIN, timeoutMs);
}

long sendSome(Socket socket, const Piece* pieces, size_t count) {
    iovec vectors[8];
    count = std::min(count, std::size(vectors));
    for (size_t i = 0; i < count; ++i)
        vectors[i] = {const_cast<char*>(pieces[i].data), pieces[i].size};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    for (;;) {
        const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
    }
}

long receiveSome(Socket socket, char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::recv(socket, buffer, size, MSG_DONTWAIT);
        if (got >= 0) return static_cast<long>(got);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
    }
}

void shutdownSending(Socket socket) {
    ::shutdown(socket, SHUT_WR);
}

void closeSocket(Socket socket) {
    if (socket != kNoSocket) ::close(socket);
}

SinkStream::SinkStream(std::function<bool(const char*, size_t)> sink)
    : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    static const cookie_io_functions_t functions = {nullptr, &cookieWrite, nullptr, nullptr};
    file_ = ::fopencookie(state_.get(), "w", functions);
    // The writers above buffer themselves; a second buffer would only copy.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
}

SinkStream::~SinkStream() {
    if (file_ != nullptr) std::fclose(file_);
}

std::string ownModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownModulePath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) == nullptr) return {};
    return resolved;
}

bool readSmallFile(const std::string& path, std::string& out, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    // /proc files are no regular files but are read like them.
    bool ok = ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || path.rfind("/proc/", 0) == 0);
    out.clear();
    char buffer[1024];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (got == 0) break;
        out.append(buffer, static_cast<size_t>(got));
        if (out.size() > limit) ok = false;
    }
    ::close(fd);
    return ok;
}

std::vector<std::string> folderEntries(const std::string& folder, size_t limit) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (names.size() < limit) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

std::optional<std::string> processStatText(int64_t processId) {
    std::string text;
    if (!readSmallFile("/proc/" + std::to_string(processId) + "/stat", text, 8192))
        return std::nullopt;
    return text;
}

}  // namespace vex::raymint::platform
