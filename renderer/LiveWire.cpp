#include "renderer/LiveWire.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vex::raymint::wire {

namespace {

constexpr int kMaxConnectMs = 2000;
constexpr int kMaxTimeoutMs = 3600 * 1000;

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

Socket connectTo(const char* host, int port, int timeoutMs) {
    if (host == nullptr || port < 1 || port > 65535) return platform::kNoSocket;
    const auto deadline = after(timeoutMs);
    if (std::strcmp(host, "localhost") == 0) {
        // The renderer listens on 127.0.0.1; ::1 is the other loopback a host may mean.
        const Socket socket = platform::connectNumeric("127.0.0.1", port, timeoutMs);
        if (socket != platform::kNoSocket) return socket;
        return platform::connectNumeric("::1", port, millisecondsLeft(deadline));
    }
    return platform::connectNumeric(host, port, timeoutMs);
}

bool sendAll(Socket socket, const Piece* pieces, size_t count, int progressMs) {
    std::vector<Piece> left(pieces, pieces + count);
    size_t first = 0;
    while (first < left.size()) {
        if (left[first].size == 0) {
            ++first;
            continue;
        }
        const long sent = platform::sendSome(socket, left.data() + first, left.size() - first);
        if (sent == platform::kFailed) return false;
        if (sent == platform::kWouldBlock) {
            if (!platform::waitSocket(socket, true, progressMs)) return false;
            continue;
        }
        auto done = static_cast<size_t>(sent);
        while (done > 0 && first < left.size()) {
            Piece& piece = left[first];
            const size_t take = std::min(done, piece.size);
            piece.data += take;
            piece.size -= take;
            done -= take;
            if (piece.size == 0) ++first;
        }
    }
    return true;
}

bool sendText(Socket socket, const std::string& text, int progressMs) {
    const Piece piece{text.data(), text.size()};
    return sendAll(socket, &piece, 1, progressMs);
}

bool Reader::fill(Clock::time_point deadline) {
    char chunk[65536];
    for (;;) {
        const long got = platform::receiveSome(socket_, chunk, sizeof chunk);
        if (got > 0) {
            buffer_.append(chunk, static_cast<size_t>(got));
            return true;
        }
        if (got != platform::kWouldBlock) return false;  // the end, or an error
        const int left = millisecondsLeft(deadline);
        if (left == 0 || !platform::waitSocket(socket_, false, left)) return false;
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
