// Wide strings are UTF-16 here, as the system's own; conversions go through the system's
// strict converters so that invalid text is refused, never replaced.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>

#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {
namespace {

bool validUtf16(const wchar_t* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const auto u = static_cast<char16_t>(text[i]);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= size) return false;
            const auto low = static_cast<char16_t>(text[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// The C library's number for why a file could not be opened.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return EINVAL;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_DISK_FULL:
            return ENOSPC;
        default:
            return EACCES;
    }
}

bool usablePath(const std::wstring& path) {
    return !path.empty() && path.find(L'\0') == std::wstring::npos;
}

HANDLE openHandle(const std::wstring& path, DWORD access, DWORD disposition) {
    // Not inherited by processes this process starts (the renderer, say).
    SECURITY_ATTRIBUTES noInherit{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &noInherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

static_assert(sizeof(wchar_t) == 2, "Windows wide strings are UTF-16");

std::optional<std::string> utf8FromWide(std::wstring_view text) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX / 4 || !validUtf16(text.data(), text.size())) return std::nullopt;
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), units,
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string out(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), units, out.data(), bytes,
                            nullptr, nullptr) != bytes) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::wstring> wideFromUtf8(std::string_view text) {
    if (text.empty()) return std::wstring();
    if (text.size() > INT_MAX) return std::nullopt;
    const int bytes = static_cast<int>(text.size());
    const int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
    if (units <= 0) return std::nullopt;
    std::wstring out(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, out.data(), units) !=
            units ||
        !validUtf16(out.data(), out.size())) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::u16string> utf16FromWide(std::wstring_view text) {
    if (!validUtf16(text.data(), text.size())) return std::nullopt;
    return std::u16string(text.begin(), text.end());
}

std::optional<std::wstring> wideFromUtf16(std::u16string_view text) {
    std::wstring out(text.begin(), text.end());
    if (!validUtf16(out.data(), out.size())) return std::nullopt;
    return out;
}

std::optional<std::string> nativePath(std::wstring_view path) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    return utf8FromWide(path);
}

FILE* openWideForWriting(const std::wstring& path, bool replace) {
    if (!usablePath(path) || !validUtf16(path.data(), path.size())) {
        errno = EILSEQ;
        return nullptr;
    }
    const HANDLE handle = openHandle(path, GENERIC_WRITE, replace ? CREATE_ALWAYS : OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errnoOf(GetLastError());
        return nullptr;
    }
    // A device (NUL, CON, a pipe) in the log's place could stall or swallow the writes.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        errno = EINVAL;
        return nullptr;
    }
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_TEXT | (replace ? 0 : _O_APPEND));
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, replace ? "w" : "a");
    if (stream == nullptr) _close(fd);
    return stream;
}

std::optional<uint64_t> wideFileSize(const std::wstring& path) {
    if (!usablePath(path)) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool readableRegularFile(const std::wstring& path) {
    if (!usablePath(path)) return false;
    const HANDLE handle = openHandle(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return regular;
}

bool directoryExists(const std::wstring& path) {
    if (!usablePath(path)) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace vex::platform
