#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {
namespace {

bool scalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<std::string> utf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (!scalarValue(c)) return std::nullopt;
        appendUtf8(out, c);
    }
    return out;
}

std::optional<std::wstring> wideFromUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra;
        char32_t min;
        char32_t cp;
        if (c < 0x80) {
            out += static_cast<wchar_t>(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return std::nullopt;
        }
        if (n - i <= extra) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || !scalarValue(cp)) return std::nullopt;
        out += static_cast<wchar_t>(cp);
        i += extra + 1;
    }
    return out;
}

std::optional<std::u16string> utf16FromWide(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        const auto c = static_cast<char32_t>(w);
        if (!scalarValue(c)) return std::nullopt;
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            const char32_t v = c - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        }
    }
    return out;
}

std::optional<std::wstring> wideFromUtf16(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= text.size()) return std::nullopt;
            const char16_t low = text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            out += static_cast<wchar_t>(0x10000 + ((char32_t{u} - 0xD800) << 10) +
                                        (char32_t{low} - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        } else {
            out += static_cast<wchar_t>(u);
        }
    }
    return out;
}

std::optional<std::string> nativePath(std::wstring_view path) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    return utf8FromWide(path);
}

FILE* openWideForWriting(const std::wstring& path, bool replace) {
    const auto native = nativePath(path);
    if (!native) {
        errno = EILSEQ;
        return nullptr;
    }
    const int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (replace ? O_TRUNC : O_APPEND);
    const int fd = ::open(native->c_str(), flags, 0644);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    FILE* stream = ::fdopen(fd, replace ? "w" : "a");
    if (stream == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return stream;
}

std::optional<uint64_t> wideFileSize(const std::wstring& path) {
    const auto native = nativePath(path);
    if (!native) return std::nullopt;
    struct stat st {};
    if (::stat(native->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool readableRegularFile(const std::wstring& path) {
    const auto native = nativePath(path);
    if (!native) return false;
    // Non-blocking, so that a FIFO named by a hostile record cannot stall the open.
    const int fd = ::open(native->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool directoryExists(const std::wstring& path) {
    const auto native = nativePath(path);
    if (!native) return false;
    struct stat st {};
    return ::stat(native->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace vex::platform
