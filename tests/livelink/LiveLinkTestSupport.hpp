// Installation records (registry-export syntax, loaded by TestHives into hive files on
// POSIX, the system's registry on Windows), loaded libraries and the probe's report.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <map>
#include <set>
#include <thread>

#include "TestFiles.hpp"
#include "livelink/LiveLinkApi.hpp"

namespace vex::test {

inline std::string regString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

inline std::string value(const std::string& name, const std::string& data) {
    return "\"" + name + "\"=" + data + "\r\n";
}

inline constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
inline constexpr const char* kCU = "HKEY_CURRENT_USER";
inline constexpr const char* kLM = "HKEY_LOCAL_MACHINE";

inline std::string section(const std::string& hive, const std::string& key) {
    return "[" + hive + "\\SOFTWARE\\Corvan" + (key.empty() ? "" : "\\" + key) + "]\r\n";
}

inline std::string installationSection(const std::string& hive, int version,
                                       const fs::path& binName, const fs::path& resources,
                                       const fs::path& bin) {
    return section(hive, "RayMint " + std::to_string(version)) +
           value("BinName", regString(binName.string())) +
           value("ResourceFolder", regString(resources.string())) +
           value("BinFolder", regString(bin.string()));
}

// A renderer installation on disk: an executable file, a resource folder, a bin folder.
struct Installation {
    int version;
    fs::path bin, binName = bin / "raymint", resources = bin / ".." / "resources";

    Installation(const TempDir& dir, int major, const std::string& tag = "")
        : version(major), bin(dir / ("RayMint " + std::to_string(major) + tag) / "bin") {
        writeFile(binName, "#!/bin/sh\n");
        fs::create_directories(resources);
    }
    std::string records(const std::string& hive) const {
        return installationSection(hive, version, binName, resources, bin) + "\r\n";
    }
};

// The two hives the lookup reads; user() and machine() replace one's whole content.
#ifndef _WIN32
// POSIX: two hive files named through VEX_REGISTRY_HKCU and VEX_REGISTRY_HKLM.
class TestHives {
  public:
    void user(const std::string& records) { writeFile(cu_, kHeader + records); }
    void machine(const std::string& records) { writeFile(lm_, kHeader + records); }
    const fs::path& userFile() const { return cu_; }

  private:
    TempDir dir_;
    fs::path cu_ = dir_ / "HKEY_CURRENT_USER.reg";
    fs::path lm_ = dir_ / "HKEY_LOCAL_MACHINE.reg";
    ScopedEnv cuEnv_{"VEX_REGISTRY_HKCU", cu_.string()};
    ScopedEnv lmEnv_{"VEX_REGISTRY_HKLM", lm_.string()};
};
#else
// Windows: a test key of its own under each real hive, to which the process's hives are
// redirected (RegOverridePredefKey); reg.exe, which sees the real hives, imports there.
class TestHives {
  public:
    TestHives() {
        static int serial = 0;
        name_ = "Software\\VexTest-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        for (int h = 0; h < 2; ++h) {
            if (RegCreateKeyExA(kPredefined[h], name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &roots_[h], nullptr) != ERROR_SUCCESS ||
                RegOverridePredefKey(kPredefined[h], roots_[h]) != ERROR_SUCCESS) {
                throw std::runtime_error("cannot make the test registry keys");
            }
        }
    }
    ~TestHives() {
        for (int h = 0; h < 2; ++h) {
            RegOverridePredefKey(kPredefined[h], nullptr);
            RegCloseKey(roots_[h]);
            RegDeleteTreeA(kPredefined[h], name_.c_str());
        }
    }

    void user(const std::string& records) { load(0, records); }
    void machine(const std::string& records) { load(1, records); }

  private:
    static inline const HKEY kPredefined[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

    // Each key line moved below the test key; UTF-16, so that any text survives.
    void load(int h, const std::string& records) {
        RegDeleteTreeW(roots_[h], nullptr);
        std::string text = kHeader;
        std::istringstream in(records);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] == '[') line.insert(line.find('\\'), "\\" + name_);
            text += line + "\n";
        }
        const std::wstring wide = fs::path(std::u8string(text.begin(), text.end())).wstring();
        writeFile(dir_ / "records.reg",
                  "\xff\xfe" + std::string(reinterpret_cast<const char*>(wide.data()),
                                           wide.size() * sizeof(wchar_t)));
        const std::string command =
            "reg import \"" + (dir_ / "records.reg").string() + "\" >NUL 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("reg import failed for:\n" + records);
    }

    TempDir dir_;
    std::string name_;
    HKEY roots_[2] = {};
};
#endif

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

// Whether the library file is loaded now; lets go of the reference that asking took.
inline bool isLoaded(const fs::path& path) {
#ifdef _WIN32
    HMODULE handle = nullptr;
    GetModuleHandleExW(0, path.wstring().c_str(), &handle);
#else
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
#endif
    if (handle != nullptr) closeLibrary(handle);
    return handle != nullptr;
}

// The report of tests/livelink/ProcessProbe.cpp, in the file named by VEX_PROBE_REPORT.
class ProbeReport {
  public:
    explicit ProbeReport(const TempDir& dir)
        : path_(dir / "probe-report"), env_("VEX_PROBE_REPORT", path_.string()) {}

    // Waits for the whole report (the bound guards against a probe that never starts) and
    // takes it, so that the next start reports again; empty when none came.
    std::map<std::string, std::string> report() {
        std::map<std::string, std::string> fields;
        for (int i = 0; i < 3000 && fields.count("pid") == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(i > 0 ? 10 : 0));
            std::istringstream in(readFile(path_));
            for (std::string line; std::getline(in, line);)
                fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
        std::filesystem::remove(path_);
        return fields;
    }

  private:
    fs::path path_;
    ScopedEnv env_;
};

inline std::string narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

// What the test library (TestLibrary.cpp) answers, and the calls it received, one a line.
struct LiveScript {
    bool sceneInterface = true, queryInterface = true;
    std::vector<std::optional<std::string>> instances;  // one per call, the last repeats
    size_t instancesCalls = 0;
    std::map<int64_t, std::pair<bool, std::optional<std::string>>> processes;  // attachable, text
    std::set<int> acceptedPorts;
    bool disconnectResult = true;
    int initCalls = 0;
    std::string journal;
    const void* scene = nullptr;
    vexLive_api* root = nullptr;
    vexQuery_api* query = nullptr;
};

inline LiveScript* liveScript(void* library) {
#ifdef _WIN32
    void* symbol =
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), "live_test_script"));
#else
    void* symbol = ::dlsym(library, "live_test_script");
#endif
    if (symbol == nullptr) throw std::runtime_error("no live_test_script in the library");
    return reinterpret_cast<LiveScript* (*)()>(symbol)();
}

}  // namespace vex::test
