// The live-link library's platform calls on Windows: Winsock, a pipe emptied by a thread in
// place of a stream with its own write function, wide paths.
#include <winsock2.h>
#include <ws2tcpip.h>
//
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <thread>

#include "renderer/LinkPlatform.hpp"

namespace vex::raymint::platform {

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        out.data(), n);
    return out;
}

std::string utf8(const wchar_t* text, size_t length) {
    if (length == 0 || length > INT_MAX) return {};
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), out.data(),
                        n, nullptr, nullptr);
    return out;
}

timeval interval(int milliseconds) {
    milliseconds = std::max(0, milliseconds);
    return timeval{milliseconds / 1000, (milliseconds % 1000) * 1000};
}

Socket connectAddress(const sockaddr* address, int length, int family, int timeoutMs) {
    const SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    // Never inherited by a renderer the add-in starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    bool connected = false;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        if (::connect(s, address, length) == 0) {
            connected = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            // A refused connection shows in the exception set and leaves its error behind.
            int error = 0;
            int size = sizeof error;
            connected = waitSocket(s, true, timeoutMs) &&
                        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                     &size) == 0 &&
                        error == 0;
        }
    }
    if (!connected) {
        ::closesocket(s);
        return kNoSocket;
    }
    const BOOL one = TRUE;
    // The end mark and the answers are small: no waiting for more data to fill a packet.
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s;
}

}  // namespace

bool startSockets() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopSockets() {
    WSACleanup();
}

Socket connectNumeric(const char* address, int port, int timeoutMs) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<u_short>(port));
    if (::inet_pton(AF_INET, address, &v4.sin_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4, AF_INET, timeoutMs);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<u_short>(port));
    if (::inet_pton(AF_INET6, address, &v6.sin6_addr) == 1)
        return connectAddress(reinterpret_cast<sockaddr*>(&v6), sizeof v6, AF_INET6, timeoutMs);
    return kNoSocket;
}

bool waitSocket(Socket socket, bool forWriting, int timeoutMs) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval wait = interval(timeoutMs);
    return ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed,
                    &wait) > 0;
}

long sendSome(Socket socket, const Piece* pieces, size_t count) {
    WSABUF buffers[8];
    count = std::min(count, std::size(buffers));
    for (size_t i = 0; i < count; ++i) {
        buffers[i].buf = const_cast<char*>(pieces[i].data);
        buffers[i].len = static_cast<ULONG>(std::min<size_t>(pieces[i].size, INT_MAX / 8));
    }
    DWORD sent = 0;
    if (WSASend(socket, buffers, static_cast<DWORD>(count), &sent, 0, nullptr, nullptr) == 0)
        return static_cast<long>(sent);
    return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long receiveSome(Socket socket, char* buffer, size_t size) {
    const int got = ::recv(socket, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
    if (got >= 0) return got;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void shutdownSending(Socket socket) {
    ::shutdown(socket, SD_SEND);
}

void closeSocket(Socket socket) {
    if (socket != kNoSocket) ::closesocket(socket);
}

struct SinkStream::State {
    std::function<bool(const char*, size_t)> sink;
    HANDLE readEnd = nullptr;
    std::thread pump;
};

SinkStream::SinkStream(std::function<bool(const char*, size_t)> sink)
    : state_(std::make_unique<State>()) {
    state_->sink = std::move(sink);
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&state_->readEnd, &writeEnd, nullptr, 1u << 20)) {
        state_->readEnd = nullptr;
        return;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(writeEnd);
        return;
    }
    file_ = _fdopen(fd, "wb");
    if (file_ == nullptr) {
        _close(fd);
        return;
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
    try {
        // Empties the pipe until the stream is closed; once the sink failed, only drops.
        state_->pump = std::thread([state = state_.get()] {
            std::vector<char> chunk(1 << 16);
            bool failed = false;
            DWORD got = 0;
            while (ReadFile(state->readEnd, chunk.data(), static_cast<DWORD>(chunk.size()), &got,
                            nullptr) &&
                   got > 0) {
                if (!failed) failed = !state->sink(chunk.data(), got);
            }
        });
    } catch (...) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

SinkStream::~SinkStream() {
    if (file_ != nullptr) std::fclose(file_);  // the pump then reads the pipe's end
    if (state_->pump.joinable()) state_->pump.join();
    if (state_->readEnd != nullptr) CloseHandle(state_->readEnd);
}

std::string ownModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ownModulePath), &module)) {
        return {};
    }
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring path(size, L'\0');
        const DWORD n = GetModuleFileNameW(module, path.data(), size);
        if (n == 0) return {};
        if (n < size) return utf8(path.data(), n);  // else cut short: a larger buffer
    }
    return {};
}

bool readSmallFile(const std::string& path, std::string& out, size_t limit) {
    const std::wstring name = wide(path);
    if (name.empty()) return false;
    // A link's target is not read: the records are plain files.
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    out.clear();
    char buffer[1024];
    while (ok) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        out.append(buffer, got);
        if (out.size() > limit) ok = false;
    }
    CloseHandle(file);
    return ok;
}

std::vector<std::string> folderEntries(const std::string& folder, size_t limit) {
    std::vector<std::string> names;
    const std::wstring pattern = wide(folder + "\\*");
    if (pattern.empty()) return names;
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(utf8(entry.cFileName, wcslen(entry.cFileName)));
    } while (names.size() < limit && FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

void removeFile(const std::string& path) {
    const std::wstring name = wide(path);
    if (!name.empty()) DeleteFileW(name.c_str());
}

// The renderer this library talks to is the Linux one (docs/live-link-protocol.md, "Windows"):
// its records hold its Linux process id and start time, so the liveness check reads that
// system's /proc, which Wine opens under its \\?\unix\ names.
std::optional<std::string> processStatText(int64_t processId) {
    std::string text;
    if (!readSmallFile("\\\\?\\unix\\proc\\" + std::to_string(processId) + "\\stat", text, 8192))
        return std::nullopt;
    return text;
}

}  // namespace vex::raymint::platform
