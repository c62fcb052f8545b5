#include "renderer/Installer.hpp"

#include "renderer/PosixFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace vex::raymint {

namespace fs = std::filesystem;

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr size_t kMaxHiveBytes = 1024u * 1024u;  // the add-in ignores larger hive files
constexpr size_t kMaxPathUnits = 259;            // longer paths are missing for the add-in
constexpr char kLibraryName[] = "vexraymintlive6_64.so";

std::string folded(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string trimmed(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

// Components split at backslashes, empty ones dropped, letters folded: how keys compare.
std::string keyPath(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            if (!out.empty()) out += '\\';
            out += folded(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 units of valid UTF-8 text, or nullopt for invalid text.
std::optional<size_t> utf16Units(const std::string& text) {
    size_t units = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        size_t n = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            n = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
        } else {
            return std::nullopt;
        }
        if (static_cast<size_t>(end - p) < n) return std::nullopt;
        for (size_t k = 1; k < n; ++k) {
            if ((p[k] & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        units += cp >= 0x10000 ? 2 : 1;
        p += n;
    }
    return units;
}

// The file's bytes as UTF-8 text: a UTF-8 byte-order mark is dropped, UTF-16 with a mark is
// converted (the merged file is written as UTF-8, which the add-in reads as well).
std::optional<std::string> decodeHive(const std::string& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        if (n % 2 != 0) return std::nullopt;
        const bool little = b[0] == 0xFF;
        std::string out;
        for (size_t i = 2; i < n; i += 2) {
            uint32_t u = little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]);
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (i + 3 >= n) return std::nullopt;
                i += 2;
                const uint32_t low = little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]);
                if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                return std::nullopt;
            }
            appendUtf8(out, u);
        }
        return out;
    }
    std::string text = bytes;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) text.erase(0, 3);
    if (!utf16Units(text)) return std::nullopt;
    return text;
}

// The folded name of a value line ("name"=... or @=...), nullopt for other lines.
std::optional<std::string> valueName(const std::string& line) {
    if (line.empty()) return std::nullopt;
    if (line[0] == '@') return std::string();
    if (line[0] != '"') return std::nullopt;
    std::string name;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '"') return folded(name);
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        name += line[i];
    }
    return std::nullopt;
}

std::string dword(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
    return text;
}

bool checkedPath(const char* what, const std::string& path, std::string& error) {
    const auto units = utf16Units(path);
    if (!units) {
        error = std::string(what) + " \"" + path + "\" is not valid UTF-8";
        return false;
    }
    for (unsigned char c : path) {
        if (c < 0x20) {
            error = std::string(what) + " holds a control character";
            return false;
        }
    }
    if (*units > kMaxPathUnits) {
        error = std::string(what) + " \"" + path + "\" is longer than " +
                std::to_string(kMaxPathUnits) + " characters, which the add-in cannot read";
        return false;
    }
    return true;
}

bool readFile(const std::string& path, std::string& out, size_t limit, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + " is not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        ::close(fd);
        error = path + " is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    out.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        out.append(buffer, static_cast<size_t>(got));
        if (out.size() > limit) {
            ::close(fd);
            error = path + " is larger than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    ::close(fd);
    return true;
}

// Writes through a temporary file beside `path` and a rename: no reader sees half a file.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode,
                 std::string& error) {
    const fs::path target(path);
    const std::string temp =
        (target.parent_path() / ("." + target.filename().string() + ".tmp")).string();
    return writeAtomically(path, temp, bytes, mode, error);
}

bool copyFile(const std::string& from, const std::string& to, std::string& error) {
    std::string bytes;
    // The files are a few megabytes; sanitizer builds a few tens.
    if (!readFile(from, bytes, size_t{1} << 30, error)) return false;
    return replaceFile(to, bytes, 0755, error);
}

bool makeFolder(const std::string& path, std::string& error) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (!fs::is_directory(path, ec)) {
        error = "cannot create folder " + path + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    return true;
}

}  // namespace

std::string regQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool mergeHive(const std::string& existing, const HiveRecord& record, std::string& merged,
               std::string& error) {
    if (record.version < 5 || record.version > 99) {
        error = "version " + std::to_string(record.version) + " is not within 5 to 99";
        return false;
    }
    for (const auto& [what, path] :
         {std::pair{"BinName", &record.binName}, std::pair{"BinFolder", &record.binFolder},
          std::pair{"ResourceFolder", &record.resourceFolder}}) {
        if (!checkedPath(what, *path, error)) return false;
    }
    const std::string root = record.localMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    const std::string base = root + "\\SOFTWARE\\Corvan";
    const std::string installKey = base + "\\RayMint " + std::to_string(record.version);
    const std::string baseFolded = keyPath(base);
    const std::string installFolded = keyPath(installKey);

    std::string out;
    if (existing.empty()) {
        out = std::string(kHeader) + "\n";
    } else {
        const auto text = decodeHive(existing);
        if (!text) {
            error = "the hive file is not UTF-8 or UTF-16 text";
            return false;
        }
        std::vector<std::string> lines;
        size_t start = 0;
        while (start <= text->size()) {
            size_t end = text->find('\n', start);
            if (end == std::string::npos) end = text->size();
            lines.push_back(text->substr(start, end - start));
            start = end + 1;
        }
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        const std::string header = lines.empty() ? std::string() : trimmed(lines[0]);
        if (header != kHeader && header != "REGEDIT4") {
            error = "the hive file is not a registry file (its first line is not \"" +
                    std::string(kHeader) + "\")";
            return false;
        }
        // Sections: the header line with what follows it, then each key line with its lines.
        struct Section {
            std::string path;  // folded key path; empty for the part before the first key
            std::vector<std::string> lines;
        };
        std::vector<Section> sections(1);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string line = trimmed(lines[i]);
            if (i > 0 && !line.empty() && line[0] == '[') {
                std::string inner = line.substr(
                    1, line.size() >= 2 && line.back() == ']' ? line.size() - 2 : line.size() - 1);
                if (!inner.empty() && inner[0] == '-') inner.erase(0, 1);
                sections.push_back({keyPath(inner), {}});
            }
            sections.back().lines.push_back(lines[i]);
        }
        for (Section& section : sections) {
            const std::string& path = section.path;
            // This version's key and its sub-keys are replaced, deletions of them included.
            if (!path.empty() &&
                (path == installFolded || path.rfind(installFolded + "\\", 0) == 0)) {
                continue;
            }
            std::vector<std::string> kept;
            bool continued = false;  // a dropped value goes on in this line
            for (size_t k = 0; k < section.lines.size(); ++k) {
                const std::string line = trimmed(section.lines[k]);
                const bool drop = continued || (k > 0 && path == baseFolded &&
                                                valueName(line) == std::string("raymintversion"));
                if (drop) {
                    continued = !line.empty() && line.back() == '\\';
                    continue;
                }
                kept.push_back(section.lines[k]);
            }
            // A base key section left with nothing but its key line goes as well.
            bool empty = path == baseFolded;
            for (size_t k = 1; k < kept.size() && empty; ++k) empty = trimmed(kept[k]).empty();
            if (empty) continue;
            for (const std::string& line : kept) {
                out += line;
                out += '\n';
            }
        }
        // Blank lines at the end go, so that installing again gives the same file.
        while (out.size() >= 2 && out.back() == '\n' &&
               (out[out.size() - 2] == '\n' ||
                (out[out.size() - 2] == '\r' && out.size() >= 3 && out[out.size() - 3] == '\n')))
            out.erase(out.size() - (out[out.size() - 2] == '\r' ? 2 : 1));
    }
    out += "\n[" + base + "]\n";
    out += "\"RayMintVersion\"=" + regQuoted("RayMint " + std::to_string(record.version)) + "\n";
    out += "\n[" + installKey + "]\n";
    out += "\"BinName\"=" + regQuoted(record.binName) + "\n";
    out += "\"BinFolder\"=" + regQuoted(record.binFolder) + "\n";
    out += "\"ResourceFolder\"=" + regQuoted(record.resourceFolder) + "\n";
    out += "\"LiveLinkPort\"=" + dword(record.firstPort) + "\n";
    out += "\"LiveLinkMaxPort\"=" + dword(record.lastPort) + "\n";
    if (out.size() > kMaxHiveBytes) {
        error = "the merged hive file would be larger than " + std::to_string(kMaxHiveBytes) +
                " bytes, which the add-in ignores";
        return false;
    }
    merged = std::move(out);
    return true;
}

bool install(const InstallOptions& options, std::string& summary, std::string& error) {
    std::error_code ec;
    if (options.prefix.empty() || options.hive.empty()) {
        error = "--prefix and --hive are required";
        return false;
    }
    std::string prefix = fs::absolute(options.prefix, ec).lexically_normal().string();
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    const std::string hive = fs::absolute(options.hive, ec).lexically_normal().string();

    for (const auto& [what, path] : {std::pair{"renderer", &options.rendererSource},
                                     std::pair{"live-link library", &options.librarySource}}) {
        if (path->empty() || !fs::is_regular_file(*path, ec)) {
            error = std::string("the built ") + what + " is missing" +
                    (path->empty() ? std::string() : " (" + *path + ")");
            return false;
        }
    }
    HiveRecord record;
    record.localMachine = options.localMachine;
    record.version = options.config.version;
    record.binFolder = prefix + "/bin";
    record.binName = record.binFolder + "/raymint";
    record.resourceFolder = prefix + "/resources";
    record.firstPort = options.config.firstPort;
    record.lastPort = options.config.lastPort;

    // Everything that can be checked is checked before anything is written.
    std::string existing;
    if (fs::exists(hive, ec) || fs::is_symlink(hive, ec)) {
        if (!readFile(hive, existing, kMaxHiveBytes, error)) return false;
        if (existing.empty()) existing = std::string(kHeader) + "\n";
    }
    std::string merged;
    if (!mergeHive(existing, record, merged, error)) {
        error = hive + ": " + error;
        return false;
    }

    for (const std::string& folder :
         {record.binFolder, record.resourceFolder, prefix + "/etc", prefix + "/var/instances",
          options.config.output.empty() ? prefix + "/var/output" : options.config.output,
          fs::path(hive).parent_path().string()}) {
        if (!makeFolder(folder, error)) return false;
    }
    if (!copyFile(options.rendererSource, record.binName, error) ||
        !copyFile(options.librarySource, record.binFolder + "/" + kLibraryName, error) ||
        !replaceFile(prefix + "/etc/raymint.conf", configText(options.config), 0644, error) ||
        !replaceFile(hive, merged, 0644, error)) {
        return false;
    }
    summary = "installed RayMint " + std::to_string(record.version) + " in " + prefix + " (ports " +
              std::to_string(record.firstPort) + "-" + std::to_string(record.lastPort) +
              ")\nrecorded in " + hive + " under " +
              (record.localMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") +
              "\\SOFTWARE\\Corvan\\RayMint " + std::to_string(record.version) + "\n";
    return true;
}

}  // namespace vex::raymint
