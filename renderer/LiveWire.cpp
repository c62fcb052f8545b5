#include "renderer/LiveWire.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vex::raymint::wire {

namespace {

constexpr int kMaxConnectMs = 2000;
constexpr int kMaxTimeoutMs = 3600 * 1000;

// Waits for `events` on fd; true when they (or an error) arrived in time.
bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const auto start = Clock::now();
        const int r = ::poll(&p, 1, timeoutMs);
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        timeoutMs = std::max(0, timeoutMs - static_cast<int>(spent.count()));
    }
}

int connectAddress(const sockaddr* address, socklen_t length, int family,
                   Clock::time_point deadline) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int r = ::connect(fd, address, length);
    if (r != 0 && errno == EINPROGRESS) {
        if (waitFor(fd, POLLOUT, millisecondsLeft(deadline))) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) r = 0;
        }
    }
    if (r != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    // The end mark and the answers are small: no waiting for more data to fill a packet.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

Timeouts timeoutsFromEnvironment() {
    Timeouts t;
    const char* text = std::getenv("RAYMINT_LIVE_TIMEOUT_MS");
    if (text == nullptr || *text == '\0') return t;
    int ms = 0;
    const char* end = text + std::strlen(text);
    const auto result = std::from_chars(text, end, ms);
    if (result.ec != std::errc() || result.ptr != end || ms < 1 || ms > kMaxTimeoutMs) return t;
    t.connectMs = std::min(ms, kMaxConnectMs);
    t.progressMs = ms;
    t.answerMs = ms;
    t.describeMs = ms;
    return t;
}

Clock::time_point after(int milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > kMaxTimeoutMs ? kMaxTimeoutMs : static_cast<int>(left);
}

int connectTo(const char* host, int port, int timeoutMs) {
    if (host == nullptr || port < 1 || port > 65535) return -1;
    const auto deadline = after(timeoutMs);
    const std::string name(host);
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    if (name == "localhost") {
        // The renderer listens on 127.0.0.1; ::1 is the other loopback a host may mean.
        ::inet_pton(AF_INET, "127.0.0.1", &v4.sin_addr);
        int fd = connectAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4, AF_INET, deadline);
        if (fd >= 0) return fd;
        ::inet_pton(AF_INET6, "::1", &v6.sin6_addr);
        return connectAddress(reinterpret_cast<sockaddr*>(&v6), sizeof v6, AF_INET6, deadline);
    }
    if (::inet_pton(AF_INET, host, &v4.sin_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4, AF_INET, deadline);
    if (::inet_pton(AF_INET6, host, &v6.sin6_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v6), sizeof v6, AF_INET6, deadline);
    return -1;
}

bool sendAll(int fd, const iovec* pieces, int count, int progressMs) {
    std::vector<iovec> left(pieces, pieces + count);
    size_t first = 0;
    while (first < left.size()) {
        if (left[first].iov_len == 0) {
            ++first;
            continue;
        }
        msghdr message{};
        message.msg_iov = left.data() + first;
        message.msg_iovlen = left.size() - first;
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            if (!waitFor(fd, POLLOUT, progressMs)) return false;
            continue;
        }
        auto done = static_cast<size_t>(sent);
        while (done > 0 && first < left.size()) {
            iovec& piece = left[first];
            const size_t take = std::min(done, piece.iov_len);
            piece.iov_base = static_cast<char*>(piece.iov_base) + take;
            piece.iov_len -= take;
            done -= take;
            if (piece.iov_len == 0) ++first;
        }
    }
    return true;
}

bool sendText(int fd, const std::string& text, int progressMs) {
    iovec piece{const_cast<char*>(text.data()), text.size()};
    return sendAll(fd, &piece, 1, progressMs);
}

bool Reader::fill(Clock::time_point deadline) {
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            buffer_.append(chunk, static_cast<size_t>(got));
            return true;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const int left = millisecondsLeft(deadline);
        if (left == 0 || !waitFor(fd_, POLLIN, left)) return false;
    }
}

std::optional<std::string> Reader::line(Clock::time_point deadline, size_t maxLength) {
    for (;;) {
        const size_t lf = buffer_.find('\n');
        if (lf != std::string::npos) {
            if (lf + 1 > maxLength) return std::nullopt;
            std::string text = buffer_.substr(0, lf);
            buffer_.erase(0, lf + 1);
            return text;
        }
        if (buffer_.size() >= maxLength) return std::nullopt;
        if (!fill(deadline)) return std::nullopt;
    }
}

bool Reader::exact(size_t n, std::string& out, Clock::time_point deadline) {
    while (buffer_.size() < n) {
        if (!fill(deadline)) return false;
    }
    out.assign(buffer_, 0, n);
    buffer_.erase(0, n);
    return true;
}

std::optional<std::string> afterMagic(const std::string& line) {
    const size_t n = sizeof kMagic - 1;
    if (line.size() <= n + 1 || line.compare(0, n, kMagic) != 0 || line[n] != ' ')
        return std::nullopt;
    return line.substr(n + 1);
}

}  // namespace vex::raymint::wire
