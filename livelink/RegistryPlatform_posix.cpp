// The registry on POSIX: each hive is a text file in the syntax of registry exports
// ("Windows Registry Editor Version 5.00", [KEY] sections, "name"="text", dword:, hex:).
// Every open reads the hive file again, so a change is seen by the next request, as with
// the real registry. A file that cannot be read or parsed is reported in the log; what
// could not be parsed is simply absent, which callers already treat as a missing value.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "livelink/RegistryPlatform.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {

namespace {

enum class HiveId { CurrentUser, LocalMachine };

struct Value {
    std::wstring name;
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
};

struct KeyData {
    std::vector<Value> values;
};

// Key paths are stored folded (ASCII letters lowered), as the registry compares them.
using Hive = std::map<std::wstring, KeyData>;

// A real hive export of the few keys this add-in reads is a few kilobytes; the limit
// keeps a hostile or mistaken file from costing the host time and memory on every open.
constexpr size_t kMaxHiveBytes = 1024u * 1024u;
constexpr size_t kMaxReportedProblems = 10;

}  // namespace

struct RegistryKeyObject {
    bool root = false;
    HiveId hive = HiveId::CurrentUser;
    std::wstring path;  // folded components joined by backslashes; empty for a root
    std::vector<Value> values;
};

namespace {

RegistryKeyObject g_currentUserRoot{true, HiveId::CurrentUser, {}, {}};
RegistryKeyObject g_localMachineRoot{true, HiveId::LocalMachine, {}, {}};

const wchar_t* rootName(HiveId hive) {
    return hive == HiveId::CurrentUser ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
}

std::optional<std::string> hiveFilePath(HiveId hive) {
    const bool user = hive == HiveId::CurrentUser;
    if (const char* chosen = std::getenv(user ? "VEX_REGISTRY_HKCU" : "VEX_REGISTRY_HKLM")) {
        // Set but empty: this hive is deliberately absent.
        if (*chosen == '\0') return std::nullopt;
        return std::string(chosen);
    }
    if (!user) return std::string("/etc/corvan/HKEY_LOCAL_MACHINE.reg");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/corvan/HKEY_CURRENT_USER.reg";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/corvan/HKEY_CURRENT_USER.reg";
    }
    return std::nullopt;
}

wchar_t fold(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring folded(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = fold(c);
    return out;
}

// Splits at backslashes and drops empty components, so "SOFTWARE\Corvan\" and
// "SOFTWARE\Corvan" name the same key.
std::wstring normalizedPath(std::wstring_view path) {
    std::wstring out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring_view::npos) end = path.size();
        if (end > start) {
            if (!out.empty()) out += L'\\';
            out += folded(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t';
}

std::wstring_view trimmed(std::wstring_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && (isSpace(s.back()) || s.back() == L'\r')) s.remove_suffix(1);
    return s;
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Parses 1 to 8 hex digits, the whole of `text`.
std::optional<uint32_t> parseHex32(std::wstring_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (wchar_t c : text) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

// A quoted text starting at s[0] == '"' with the export's two escapes \\ and \".
// Returns the text and leaves `rest` after the closing quote.
std::optional<std::wstring> parseQuoted(std::wstring_view s, std::wstring_view& rest) {
    if (s.empty() || s[0] != L'"') return std::nullopt;
    std::wstring out;
    for (size_t i = 1; i < s.size(); ++i) {
        const wchar_t c = s[i];
        if (c == L'"') {
            rest = s.substr(i + 1);
            return out;
        }
        if (c == L'\\') {
            if (i + 1 >= s.size()) return std::nullopt;
            const wchar_t e = s[++i];
            if (e != L'\\' && e != L'"') return std::nullopt;
            out += e;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> stringData(const std::wstring& text) {
    // The decoded file holds only valid characters, so the conversion cannot fail.
    std::u16string units = utf16FromWide(text).value_or(std::u16string());
    units += u'\0';
    std::vector<uint8_t> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::wstring_view list) {
    std::vector<uint8_t> bytes;
    list = trimmed(list);
    if (list.empty()) return bytes;
    size_t start = 0;
    while (true) {
        size_t end = list.find(L',', start);
        const bool last = end == std::wstring_view::npos;
        if (last) end = list.size();
        const std::wstring_view item = trimmed(list.substr(start, end - start));
        if (item.empty()) {
            // Only a trailing comma may leave an empty item.
            if (!last || start == 0) return std::nullopt;
            return bytes;
        }
        if (item.size() > 2) return std::nullopt;
        const auto v = parseHex32(item);
        if (!v) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*v));
        if (last) return bytes;
        start = end + 1;
    }
}

struct ParseResult {
    Hive hive;
    std::vector<std::string> problems;
    size_t problemCount = 0;
};

void problem(ParseResult& result, size_t line, const std::string& what) {
    ++result.problemCount;
    if (result.problems.size() < kMaxReportedProblems) {
        result.problems.push_back("line " + std::to_string(line) + ": " + what);
    }
}

std::optional<std::wstring> decode(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        // Exports written by the registry editor are UTF-16 with a byte-order mark.
        if (n % 2 != 0) return std::nullopt;
        const bool little = b[0] == 0xFF;
        std::u16string units;
        units.reserve(n / 2 - 1);
        for (size_t i = 2; i < n; i += 2) {
            units +=
                static_cast<char16_t>(little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]));
        }
        return wideFromUtf16(units);
    }
    size_t skip = 0;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) skip = 3;
    return wideFromUtf8(std::string_view(bytes).substr(skip));
}

std::vector<std::wstring_view> splitLines(std::wstring_view text) {
    std::vector<std::wstring_view> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void parseText(std::wstring_view text, HiveId hiveId, ParseResult& result) {
    const std::vector<std::wstring_view> lines = splitLines(text);
    const std::wstring_view header = lines.empty() ? std::wstring_view() : trimmed(lines[0]);
    if (header != L"Windows Registry Editor Version 5.00" && header != L"REGEDIT4") {
        problem(result, 1, "not a registry file (no \"Windows Registry Editor Version 5.00\")");
        return;
    }
    const std::wstring rootFolded = folded(rootName(hiveId));
    KeyData* current = nullptr;
    bool skipping = false;  // inside a section that was already reported or deletes a key
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t lineNo = i + 1;
        std::wstring_view line = trimmed(lines[i]);
        if (line.empty() || line[0] == L';') continue;
        if (line.find(L'\0') != std::wstring_view::npos) {
            problem(result, lineNo, "NUL character");
            continue;
        }
        if (line[0] == L'[') {
            current = nullptr;
            skipping = true;
            if (line.back() != L']') {
                problem(result, lineNo, "key line without \"]\"; its values are ignored");
                continue;
            }
            std::wstring_view inner = line.substr(1, line.size() - 2);
            const bool remove = !inner.empty() && inner[0] == L'-';
            if (remove) inner.remove_prefix(1);
            const std::wstring full = normalizedPath(inner);
            const size_t cut = full.find(L'\\');
            const std::wstring root = full.substr(0, cut);
            if (root != rootFolded) {
                problem(result, lineNo,
                        "key outside " + logText(rootName(hiveId)) + "; its values are ignored");
                continue;
            }
            const std::wstring path = cut == std::wstring::npos ? L"" : full.substr(cut + 1);
            if (remove) {
                // A deleted key takes its sub-keys with it.
                for (auto it = result.hive.begin(); it != result.hive.end();) {
                    const std::wstring& k = it->first;
                    const bool below =
                        path.empty() || k == path ||
                        (k.size() > path.size() && k.compare(0, path.size(), path) == 0 &&
                         k[path.size()] == L'\\');
                    it = below ? result.hive.erase(it) : std::next(it);
                }
                continue;
            }
            current = &result.hive[path];
            skipping = false;
            continue;
        }
        // A value line: "name"=data or @=data.
        std::wstring name;
        std::wstring_view rest;
        if (line[0] == L'@') {
            rest = line.substr(1);
        } else if (auto quoted = parseQuoted(line, rest)) {
            name = *quoted;
        } else {
            problem(result, lineNo, "unreadable line");
            continue;
        }
        if (rest.empty() || rest[0] != L'=') {
            problem(result, lineNo, "value without \"=\"");
            continue;
        }
        rest = trimmed(rest.substr(1));
        // Continuation lines of hex data belong to this value even when it is dropped.
        std::wstring joined;
        if (rest.size() >= 3 && rest.substr(0, 3) == L"hex") {
            joined.assign(rest);
            while (!joined.empty() && joined.back() == L'\\' && i + 1 < lines.size()) {
                joined.pop_back();
                joined += trimmed(lines[++i]);
            }
            rest = joined;
        }
        if (current == nullptr) {
            if (!skipping) problem(result, lineNo, "value outside any key");
            continue;
        }
        Value value;
        value.name = name;
        std::wstring_view after;
        if (rest == L"-") {
            auto& values = current->values;
            const std::wstring key = folded(name);
            for (auto it = values.begin(); it != values.end(); ++it) {
                if (folded(it->name) == key) {
                    values.erase(it);
                    break;
                }
            }
            continue;
        } else if (auto text = parseQuoted(rest, after)) {
            if (!trimmed(after).empty()) {
                problem(result, lineNo, "text after the closing quote");
                continue;
            }
            value.type = kRegSz;
            value.data = stringData(*text);
        } else if (rest.substr(0, 6) == L"dword:") {
            const auto v = parseHex32(trimmed(rest.substr(6)));
            if (!v) {
                problem(result, lineNo, "dword value is not 1 to 8 hex digits");
                continue;
            }
            value.type = kRegDword;
            for (int k = 0; k < 4; ++k) value.data.push_back(static_cast<uint8_t>(*v >> (8 * k)));
        } else if (rest.substr(0, 3) == L"hex") {
            std::wstring_view valueText = rest.substr(3);
            uint32_t type = kRegBinary;
            if (!valueText.empty() && valueText[0] == L'(') {
                const size_t close = valueText.find(L')');
                const auto t = close == std::wstring_view::npos
                                   ? std::nullopt
                                   : parseHex32(valueText.substr(1, close - 1));
                if (!t) {
                    problem(result, lineNo, "unreadable hex value type");
                    continue;
                }
                type = *t;
                valueText = valueText.substr(close + 1);
            }
            if (valueText.empty() || valueText[0] != L':') {
                problem(result, lineNo, "hex value without \":\"");
                continue;
            }
            auto bytes = parseHexBytes(valueText.substr(1));
            if (!bytes) {
                problem(result, lineNo, "unreadable hex bytes");
                continue;
            }
            value.type = type;
            value.data = std::move(*bytes);
        } else {
            problem(result, lineNo, "unknown value syntax");
            continue;
        }
        auto& values = current->values;
        const std::wstring key = folded(name);
        bool replaced = false;
        for (Value& existing : values) {
            if (folded(existing.name) == key) {
                existing = std::move(value);
                replaced = true;
                break;
            }
        }
        if (!replaced) values.push_back(std::move(value));
    }
}

// What was last reported per hive, so that the many opens of one lookup report a broken
// file once and a changed file again.
std::string g_reported[2];

void report(HiveId hive, const std::string& path, const std::string& signature,
            const std::vector<std::string>& problems, size_t count) {
    std::string& last = g_reported[hive == HiveId::CurrentUser ? 0 : 1];
    if (problems.empty()) {
        last.clear();
        return;
    }
    if (last == signature) return;
    // Recorded first: opening the log looks up the resource folder, which reads this hive.
    last = signature;
    std::vector<std::string> lines;
    for (const std::string& p : problems) {
        lines.push_back("registry file " + logBytes(path) + ": " + p);
    }
    if (count > problems.size()) {
        lines.push_back("registry file " + logBytes(path) + ": " +
                        std::to_string(count - problems.size()) + " more problems");
    }
    for (const std::string& line : lines) {
        if (Output2FILE::ready()) {
            VEX_LOG(logERROR) << line;
        } else {
            // No log yet (often because the broken file hides the installation).
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }
}

bool readAll(int fd, std::string& out, size_t limit) {
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        out.append(buffer, static_cast<size_t>(got));
        if (out.size() > limit) return true;
    }
}

Hive loadHive(HiveId hiveId) {
    ParseResult result;
    const std::optional<std::string> path = hiveFilePath(hiveId);
    if (!path) return {};
    std::string signature = *path;
    const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) {
            report(hiveId, *path, signature + "|open",
                   {std::string("cannot be read: ") + std::strerror(error)}, 1);
        } else {
            report(hiveId, *path, signature, {}, 0);
        }
        return {};
    }
    struct stat st {};
    std::string bytes;
    std::string failure;
    if (::fstat(fd, &st) != 0) {
        failure = std::string("cannot be examined: ") + std::strerror(errno);
    } else {
        signature += "|" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
                     std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec);
        if (!S_ISREG(st.st_mode)) {
            failure = "is not a regular file";
        } else if (static_cast<uint64_t>(st.st_size) > kMaxHiveBytes) {
            failure = "is larger than " + std::to_string(kMaxHiveBytes) + " bytes";
        } else if (!readAll(fd, bytes, kMaxHiveBytes)) {
            failure = std::string("cannot be read: ") + std::strerror(errno);
        } else if (bytes.size() > kMaxHiveBytes) {
            failure = "is larger than " + std::to_string(kMaxHiveBytes) + " bytes";
        }
    }
    ::close(fd);
    if (!failure.empty()) {
        report(hiveId, *path, signature, {failure + "; the hive is ignored"}, 1);
        return {};
    }
    const std::optional<std::wstring> text = decode(bytes);
    if (!text) {
        report(hiveId, *path, signature, {"is not UTF-8 or UTF-16 text; the hive is ignored"}, 1);
        return {};
    }
    parseText(*text, hiveId, result);
    report(hiveId, *path, signature, result.problems, result.problemCount);
    return std::move(result.hive);
}

bool keyExists(const Hive& hive, const std::wstring& path) {
    if (path.empty()) return true;
    auto it = hive.lower_bound(path);
    if (it == hive.end()) return false;
    if (it->first == path) return true;
    // Sub-keys imply their parents, as in the registry.
    const std::wstring& k = it->first;
    return k.size() > path.size() && k.compare(0, path.size(), path) == 0 &&
           k[path.size()] == L'\\';
}

}  // namespace

const RegKey kHkeyCurrentUser = &g_currentUserRoot;
const RegKey kHkeyLocalMachine = &g_localMachineRoot;

long regOpenKeyEx(RegKey parent, const wchar_t* subKey, uint32_t, uint32_t, RegKey* result) {
    if (result == nullptr) return kErrorInvalidParameter;
    *result = nullptr;
    if (parent == nullptr) return kErrorInvalidHandle;
    std::wstring path = parent->path;
    const std::wstring sub = normalizedPath(subKey != nullptr ? subKey : L"");
    if (!sub.empty()) path = path.empty() ? sub : path + L'\\' + sub;
    const Hive hive = loadHive(parent->hive);
    if (!keyExists(hive, path)) return kErrorFileNotFound;
    auto key = std::make_unique<RegistryKeyObject>();
    key->hive = parent->hive;
    key->path = path;
    if (auto it = hive.find(path); it != hive.end()) key->values = it->second.values;
    *result = key.release();
    return kErrorSuccess;
}

long regQueryValueEx(RegKey key, const wchar_t* name, uint32_t* type, uint8_t* data,
                     uint32_t* size) {
    if (key == nullptr) return kErrorInvalidHandle;
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    const std::wstring wanted = folded(name != nullptr ? name : L"");
    for (const Value& value : key->values) {
        if (folded(value.name) != wanted) continue;
        if (type != nullptr) *type = value.type;
        const auto needed = static_cast<uint32_t>(value.data.size());
        if (size == nullptr) return kErrorSuccess;
        if (data == nullptr) {
            *size = needed;
            return kErrorSuccess;
        }
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        if (needed != 0) std::memcpy(data, value.data.data(), needed);
        *size = needed;
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

long regCloseKey(RegKey key) {
    if (key == nullptr) return kErrorInvalidHandle;
    if (key->root) return kErrorSuccess;
    delete key;
    return kErrorSuccess;
}

}  // namespace vex::platform
