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
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
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
