// Platform seam of the live-link library and of the instance records it reads: sockets, a
// stdio stream whose bytes go to a function, the library's own file, small files and folders,
// and the start time of a process. POSIX version in LinkPlatform_posix.cpp, Winsock and Win32
// in LinkPlatform_win32.cpp; the rest of the library does not know which one is behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vex::raymint::platform {

#ifdef _WIN32
using Socket = uintptr_t;  // a Winsock SOCKET
inline constexpr Socket kNoSocket = ~uintptr_t{0};
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

// A part of what one send hands over.
struct Piece {
    const char* data;
    size_t size;
};

// Sockets are usable between these two calls (Winsock counts them); the library's root object
// makes them.
bool startSockets();
void stopSockets();

// A non-blocking TCP connection to a numeric IPv4 or IPv6 address, or kNoSocket; waits at most
// `timeoutMs` for it.
Socket connectNumeric(const char* address, int port, int timeoutMs);

// Waits until the socket can be written (`forWriting`) or read, or has failed; false on timeout.
bool waitSocket(Socket socket, bool forWriting, int timeoutMs);

// What a send or receive did: bytes moved (> 0), the peer's end (receive: 0), or one of these.
inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2;

// Sends as much of the pieces as fits now, never raising SIGPIPE.
long sendSome(Socket socket, const Piece* pieces, size_t count);
long receiveSome(Socket socket, char* buffer, size_t size);

void shutdownSending(Socket socket);
void closeSocket(Socket socket);

// A write-only binary stdio stream whose bytes are handed to `sink` in order (POSIX: a stream
// with its own write function; Windows has none, so there a pipe and a thread that empties it).
// After `sink` returned false once it is not called again, and what is written is dropped.
class SinkStream {
  public:
    explicit SinkStream(std::function<bool(const char*, size_t)> sink);
    // Hands everything written to the sink, then closes; the sink is not called after this.
    ~SinkStream();
    SinkStream(const SinkStream&) = delete;
    SinkStream& operator=(const SinkStream&) = delete;

    FILE* file() const { return file_; }  // null when no stream could be made

    struct State;  // each platform's own

  private:
    std::unique_ptr<State> state_;
    FILE* file_ = nullptr;
};

// The full path (UTF-8) of the library or program file holding this code; empty when unknown.
std::string ownModulePath();

// Reads a regular file of at most `limit` bytes completely (not following a final link where
// the system has them); false otherwise.
bool readSmallFile(const std::string& path, std::string& out, size_t limit);

// The names of at most `limit` entries of `folder`, in no particular order; empty when it
// cannot be read.
std::vector<std::string> folderEntries(const std::string& folder, size_t limit);

void removeFile(const std::string& path);

// The system's text about a running process in the form of /proc/PID/stat; nullopt when there
// is no such process.
std::optional<std::string> processStatText(int64_t processId);

}  // namespace vex::raymint::platform
