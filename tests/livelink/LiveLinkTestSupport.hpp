// Temporary folders, installation records and loaded libraries for the live-link tests.
// The records are written in the syntax of registry exports and go, through TestHives,
// either into hive files (POSIX) or into the system's registry (Windows), so one table of
// records serves both platforms and the user's own records are never read.
#pragma once

#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TestFiles.hpp"

namespace vex::test {

namespace fs = std::filesystem;

// A string value in registry-export syntax.
inline std::string regString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

inline std::string dword(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", value);
    return buffer;
}

inline constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

inline std::string section(const std::string& hive, const std::string& key) {
    return "[" + hive + "\\SOFTWARE\\Corvan" + (key.empty() ? "" : "\\" + key) + "]\r\n";
}

// The section of one version's installation key with its three paths.
inline std::string installationSection(const std::string& hive, int version,
                                       const fs::path& binName, const fs::path& resources,
                                       const fs::path& bin) {
    return section(hive, "RayMint " + std::to_string(version)) +
           "\"BinName\"=" + regString(binName.string()) + "\r\n" +
           "\"ResourceFolder\"=" + regString(resources.string()) + "\r\n" +
           "\"BinFolder\"=" + regString(bin.string()) + "\r\n";
}

// A renderer installation on disk: an executable file, a resource folder, a bin folder.
struct Installation {
    int version = 0;
    fs::path binName;
    fs::path resources;
    fs::path bin;

    Installation(const TempDir& dir, int major, const std::string& tag = "") : version(major) {
        const fs::path root = dir / ("RayMint " + std::to_string(major) + tag);
        binName = root / "bin" / "raymint";
        resources = root / "resources";
        bin = root / "bin";
        writeFile(binName, "#!/bin/sh\n");
        fs::create_directories(resources);
    }

    // The installation key's section with its values; `extra` adds or overrides values.
    std::string records(const std::string& hive, const std::string& extra = "") const {
        return installationSection(hive, version, binName, resources, bin) + extra + "\r\n";
    }
};

inline constexpr const char* kCU = "HKEY_CURRENT_USER";
inline constexpr const char* kLM = "HKEY_LOCAL_MACHINE";

#ifdef _WIN32
inline constexpr const char* kLibrarySuffix = ".dll";
#else
inline constexpr const char* kLibrarySuffix = ".so";
#endif

inline std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return std::string(s);
}

// The two hives the installation lookup reads, empty at first; user() and machine()
// replace a hive's whole content with the records given (export syntax, without the
// header line).
#ifndef _WIN32
// POSIX: two hive files named through VEX_REGISTRY_HKCU and VEX_REGISTRY_HKLM.
class TestHives {
  public:
    void user(const std::string& records) { writeFile(cu_, kHeader + records); }
    void machine(const std::string& records) { writeFile(lm_, kHeader + records); }
    const fs::path& userFile() const { return cu_; }
    const fs::path& machineFile() const { return lm_; }

  private:
    TempDir dir_;
    fs::path cu_ = dir_ / "HKEY_CURRENT_USER.reg";
    fs::path lm_ = dir_ / "HKEY_LOCAL_MACHINE.reg";
    ScopedEnv cuEnv_{"VEX_REGISTRY_HKCU", cu_.string()};
    ScopedEnv lmEnv_{"VEX_REGISTRY_HKLM", lm_.string()};
};
#else
// Windows: a test key of its own under each real hive, written with RegSetValueExW. The
// process's HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are redirected to them
// (RegOverridePredefKey) for the fixture's life, so the lookup reads its fixed
// "SOFTWARE\Corvan" keys there; both test keys are deleted afterwards.
class TestHives {
  public:
    TestHives() {
        static int serial = 0;
        name_ = L"Software\\VexTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++serial);
        for (int h = 0; h < 2; ++h) {
            if (RegCreateKeyExW(kPredefined[h], name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &roots_[h], nullptr) != ERROR_SUCCESS ||
                RegOverridePredefKey(kPredefined[h], roots_[h]) != ERROR_SUCCESS) {
                throw std::runtime_error("cannot make the test registry keys");
            }
        }
    }
    ~TestHives() {
        for (int h = 0; h < 2; ++h) {
            // Back to the real hive first: the test key is deleted there.
            RegOverridePredefKey(kPredefined[h], nullptr);
            RegCloseKey(roots_[h]);
            RegDeleteTreeW(kPredefined[h], name_.c_str());
        }
    }
    TestHives(const TestHives&) = delete;
    TestHives& operator=(const TestHives&) = delete;

    void user(const std::string& records) { load(0, records); }
    void machine(const std::string& records) { load(1, records); }

  private:
    static inline const HKEY kPredefined[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    static inline const char* kNames[2] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

    static std::wstring utf16(const std::string& text) {
        std::wstring out(text.size() + 1, L'\0');
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<size_t>(n > 0 ? n : 0));
        return out;
    }
    static bool sameText(std::string a, std::string b) {
        for (char& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return a == b;
    }
    // A quoted text at the start of `s` with the escapes \\ and \"; `rest` after it.
    static std::string quoted(std::string_view s, std::string_view& rest) {
        std::string out;
        for (size_t i = 1; i < s.size(); ++i) {
            if (s[i] == '"') {
                rest = s.substr(i + 1);
                return out;
            }
            if (s[i] == '\\') ++i;
            out += s.at(i);
        }
        throw std::runtime_error("unterminated text in test records");
    }
    static void check(LSTATUS status, const std::string& what) {
        if (status != ERROR_SUCCESS)
            throw std::runtime_error(what + ": status " + std::to_string(status));
    }

    // Imports `records` as the registry editor would, below the hive's test key.
    void load(int h, const std::string& records) {
        check(RegDeleteTreeW(roots_[h], nullptr), "emptying the test hive");
        HKEY key = nullptr;
        std::istringstream in(records);
        for (std::string line; std::getline(in, line);) {
            line = trim(line);
            while (!line.empty() && line.back() == '\\') {
                std::string next;
                std::getline(in, next);
                line.pop_back();
                line += trim(next);
            }
            if (line.empty() || line[0] == ';') continue;
            if (line[0] == '[') {
                if (key != nullptr) RegCloseKey(key);
                key = nullptr;
                std::string path = line.substr(1, line.size() - 2);
                const bool remove = path[0] == '-';
                if (remove) path.erase(0, 1);
                const size_t cut = path.find('\\');
                if (!sameText(path.substr(0, cut), kNames[h]))
                    throw std::runtime_error("records of another hive: " + line);
                const std::wstring sub = utf16(path.substr(cut + 1));
                if (remove) {
                    RegDeleteTreeW(roots_[h], sub.c_str());
                    RegDeleteKeyW(roots_[h], sub.c_str());
                } else {
                    check(RegCreateKeyExW(roots_[h], sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr),
                          line);
                }
                continue;
            }
            if (key == nullptr) throw std::runtime_error("value outside a key: " + line);
            std::string_view rest;
            const std::wstring name = line[0] == '@' ? std::wstring() : utf16(quoted(line, rest));
            if (line[0] == '@') rest = std::string_view(line).substr(1);
            const std::string data = trim(rest.substr(1));
            if (data == "-") {
                RegDeleteValueW(key, name.c_str());
                continue;
            }
            DWORD type = REG_BINARY;
            std::vector<BYTE> bytes;
            if (data[0] == '"') {
                std::string_view after;
                const std::wstring text = utf16(quoted(data, after)) + L'\0';
                type = REG_SZ;
                bytes.resize(text.size() * 2);
                std::memcpy(bytes.data(), text.data(), bytes.size());
            } else if (data.rfind("dword:", 0) == 0) {
                const DWORD v = std::stoul(data.substr(6), nullptr, 16);
                type = REG_DWORD;
                bytes.resize(4);
                std::memcpy(bytes.data(), &v, 4);
            } else if (data.rfind("hex", 0) == 0) {
                size_t colon = data.find(':');
                if (data[3] == '(') type = std::stoul(data.substr(4), nullptr, 16);
                std::istringstream list(data.substr(colon + 1));
                for (std::string item; std::getline(list, item, ',');) {
                    if (!trim(item).empty())
                        bytes.push_back(static_cast<BYTE>(std::stoul(item, nullptr, 16)));
                }
            } else {
                throw std::runtime_error("value syntax the test records do not use: " + line);
            }
            check(RegSetValueExW(key, name.c_str(), 0, type, bytes.data(),
                                 static_cast<DWORD>(bytes.size())),
                  line);
        }
        if (key != nullptr) RegCloseKey(key);
    }

    std::wstring name_;
    HKEY roots_[2] = {};
};
#endif

// The test's own reference to a library file that is loaded in this process, null when
// it is not loaded; closeLibrary() lets go of it.
inline void* loadedLibrary(const fs::path& path) {
#ifdef _WIN32
    HMODULE module = nullptr;
    return GetModuleHandleExW(0, path.wstring().c_str(), &module) ? module : nullptr;
#else
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
#endif
}

// Loads the library file; null when it cannot be.
inline void* openLibrary(const fs::path& path) {
#ifdef _WIN32
    return LoadLibraryW(path.wstring().c_str());
#else
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

inline void closeLibrary(void* library) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(library));
#else
    ::dlclose(library);
#endif
}

inline void* librarySymbol(void* library, const char* name) {
#ifdef _WIN32
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    void* address = nullptr;
    std::memcpy(&address, &symbol, sizeof address);
    return address;
#else
    return ::dlsym(library, name);
#endif
}

// A path CMake gave at build time, as this platform names it: under Wine the drive Z:
// maps the build machine's root.
inline fs::path buildPath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') return fs::path("Z:" + path).make_preferred();
#endif
    return fs::path(path);
}

// The report that tests/livelink/ProcessProbe.cpp writes when it is started, in a file
// named through VEX_PROBE_REPORT.
class ProbeReport {
  public:
    explicit ProbeReport(const TempDir& dir)
        : path_(dir / "probe-report"), env_("VEX_PROBE_REPORT", path_.string()) {}

    // Waits for the report (the bound only guards against a probe that never starts) and
    // reads it; empty when none came. Taking it lets the next start report again.
    std::map<std::string, std::string> report() {
        std::map<std::string, std::string> fields;
        // Until the whole report is there (its file may show before it can be read, under Wine).
        for (int i = 0; i < 3000 && fields.count("pid") == 0; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            fields.clear();
            std::istringstream in(readFile(path_));
            for (std::string line; std::getline(in, line);) {
                const size_t eq = line.find('=');
                if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        std::error_code ignored;
        fs::remove(path_, ignored);
        return fields;
    }
    bool started() { return !report().empty(); }
    bool reported() const { return fs::exists(path_); }

  private:
    fs::path path_;
    ScopedEnv env_;
};

// The line end of the log: the C runtime's text mode writes CR LF on Windows.
#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

// `text` with its line feeds as the log writes them.
inline std::string onDisk(std::string_view text) {
    std::string out;
    for (char c : text) c == '\n' ? out += kLineEnd : out += c;
    return out;
}

// The log's lines without their line ends.
inline std::vector<std::string> logLines(const fs::path& path) {
    const std::string text = readFile(path);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(kLineEnd, start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + kLineEnd.size();
    }
    return lines;
}

inline std::string narrow(const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += static_cast<char>(c);
    return out;
}

inline std::wstring wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// `text` after 1 to 8 random edits: a byte replaced by one of `pieces` or by any byte, one of
// `pieces` inserted, bytes erased, a stretch of the text copied in, or the text cut short.
inline std::string mutated(std::string text, std::mt19937& random, std::string_view pieces) {
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const size_t at = random() % text.size();
        const char piece = pieces[random() % pieces.size()];
        const unsigned kind = random() % 6;
        if (kind == 0) text[at] = piece;
        if (kind == 1) text.insert(at, 1, piece);
        if (kind == 2) text.erase(at, 1 + random() % 16);
        if (kind == 3) text.resize(at);
        if (kind == 4) text.insert(at, text.substr(random() % text.size(), random() % 40));
        if (kind == 5) text[at] = static_cast<char>(random());
    }
    return text;
}

}  // namespace vex::test
