// Temporary folders, hive files and environment for the live-link tests. Every test
// points the installation lookup at hive files of its own through VEX_REGISTRY_HKCU and
// VEX_REGISTRY_HKLM, so the user's records are never read.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vex::test {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "livelink-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Sets (or with nullopt unsets) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

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
        return section(hive, "RayMint " + std::to_string(version)) +
               "\"BinName\"=" + regString(binName.string()) + "\r\n" +
               "\"ResourceFolder\"=" + regString(resources.string()) + "\r\n" +
               "\"BinFolder\"=" + regString(bin.string()) + "\r\n" + extra + "\r\n";
    }
};

inline constexpr const char* kCU = "HKEY_CURRENT_USER";
inline constexpr const char* kLM = "HKEY_LOCAL_MACHINE";

inline std::string narrow(const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += static_cast<char>(c);
    return out;
}

inline std::wstring wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace vex::test
