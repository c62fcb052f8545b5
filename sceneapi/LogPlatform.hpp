// Platform seam for wide texts and wide paths: the one place that converts between the
// wide strings the installation records and the log use (std::wstring) and the bytes the
// platform takes, and that opens or inspects a file named by a wide path. The log uses it
// for "sceneapi.log"; the live-link code (installation lookup, library loading, process
// start) uses the same conversions. POSIX version in LogPlatform_posix.cpp, where paths
// are UTF-8 and registry texts are stored as UTF-16; Windows version in LogPlatform_win32.cpp,
// where wide strings are UTF-16 and paths stay wide.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vex::platform {

// Separator placed between a folder and a file name.
#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// Strict conversions: nullopt for text that is not a valid encoding (surrogate halves,
// code points above U+10FFFF, overlong or truncated UTF-8 sequences).
std::optional<std::string> utf8FromWide(std::wstring_view text);
std::optional<std::wstring> wideFromUtf8(std::string_view text);
std::optional<std::u16string> utf16FromWide(std::wstring_view text);
std::optional<std::wstring> wideFromUtf16(std::u16string_view text);

// The platform path of a wide path; nullopt when it cannot name a file (not convertible,
// or an embedded NUL that would silently cut it short).
std::optional<std::string> nativePath(std::wstring_view path);

// Opens a regular file for writing, created when missing, appending or (replace) emptied,
// as fopen's "a" and "w" do; null with errno set. Anything but a regular file is refused
// without blocking, so a FIFO or a device in its place cannot stall or swallow the writes.
// The stream is not inherited by processes this process starts.
FILE* openWideForWriting(const std::wstring& path, bool replace);

// Size in bytes of the file, nullopt when it cannot be examined.
std::optional<uint64_t> wideFileSize(const std::wstring& path);

// True when the path names a regular file that opens for reading.
bool readableRegularFile(const std::wstring& path);

// True when the path names an existing directory.
bool directoryExists(const std::wstring& path);

}  // namespace vex::platform
