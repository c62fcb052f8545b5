// The live-link wire protocol between the live-link library and the renderer, and the
// library's socket helpers: every wait is bounded. docs/live-link-protocol.md describes it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "renderer/LinkPlatform.hpp"

namespace vex::raymint::wire {

using platform::Piece;
using platform::Socket;

inline constexpr char kMagic[] = "RAYMINT-LIVE 1";
inline constexpr char kStream[] = "STREAM";
inline constexpr char kDescribe[] = "DESCRIBE";
inline constexpr char kReady[] = "READY";
inline constexpr char kDescription[] = "DESCRIPTION";
inline constexpr char kRefused[] = "REFUSED";
inline constexpr char kBusy[] = "BUSY";
inline constexpr char kError[] = "ERROR";
inline constexpr char kDone[] = "DONE";

inline constexpr size_t kMaxLine = 1024;                 // protocol lines, line feed included
inline constexpr uint32_t kMaxFrame = 16u << 20;         // largest frame the renderer takes
inline constexpr size_t kClientFrame = size_t{1} << 20;  // largest frame the library sends
inline constexpr size_t kMaxDescription = size_t{16} << 20;

// The library's waits; RAYMINT_LIVE_TIMEOUT_MS replaces all of them (connect at most 2 s).
struct Timeouts {
    int connectMs = 2000;    // connection and greeting
    int progressMs = 10000;  // a send without any progress
    int answerMs = 60000;    // the renderer applying a transfer before it acknowledges
    int describeMs = 5000;   // a whole scene description request
};
Timeouts timeoutsFromEnvironment();

using Clock = std::chrono::steady_clock;
Clock::time_point after(int milliseconds);
int millisecondsLeft(Clock::time_point deadline);

// A non-blocking socket connected to `host`:`port`, or platform::kNoSocket. `host` is a numeric
// address or "localhost": a name lookup could block without bound.
Socket connectTo(const char* host, int port, int timeoutMs);

// Sends every byte of the pieces. Each wait for room in the socket may last `progressMs`;
// false on timeout or error, never SIGPIPE.
bool sendAll(Socket socket, const Piece* pieces, size_t count, int progressMs);
bool sendText(Socket socket, const std::string& text, int progressMs);

// Reads lines and exact byte counts from a socket before a deadline.
class Reader {
  public:
    explicit Reader(Socket socket) : socket_(socket) {}
    // A line without its line feed; nullopt on timeout, end of input, error, or a line longer
    // than `maxLength` bytes.
    std::optional<std::string> line(Clock::time_point deadline, size_t maxLength = kMaxLine);
    // Exactly `n` bytes; false otherwise.
    bool exact(size_t n, std::string& out, Clock::time_point deadline);

  private:
    bool fill(Clock::time_point deadline);
    Socket socket_;
    std::string buffer_;
};

// The words of a protocol line after the magic ("READY 11 123" -> "READY 11 123"); nullopt
// when the line does not start with the magic and a blank.
std::optional<std::string> afterMagic(const std::string& line);

}  // namespace vex::raymint::wire
