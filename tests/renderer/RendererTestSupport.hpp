// Helpers of the renderer tests: temporary folders, tree comparison, designs streamed the way
// the add-in streams them, and real renderer processes installed into a temporary prefix.
// On Windows (under Wine) the renderer and its installer are the Linux programs: Wine starts
// them through CreateProcessW but hands back no process to wait for, so there they run behind
// a shell that leaves their exit status in a file.
#pragma once

#ifdef _WIN32
#include <windows.h>
//
#include <process.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "livelink/LiveLinkApi.hpp"
#include "reader/SceneReader.hpp"
#include "renderer/GroupKinds.hpp"
#include "renderer/InstanceRecords.hpp"
#include "scene/DefaultRTModule.hpp"
#include "scene/LightCamera.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "sceneapi/LightFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

#include "TestFiles.hpp"

#ifndef _WIN32
extern char** environ;
#endif

namespace vex::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- trees ----------------------------------------------------------------------------------

// The group named `name` among the children of `block`; null when there is none.
inline const Block* childGroup(const Block& block, const std::string& name, int index = 0) {
    for (const Node& n : block.children) {
        if (n.isBlock() && n.block().keyword == "group" && n.block().name() == name && index-- == 0)
            return &n.block();
    }
    return nullptr;
}

// The first "vertices" float of every object below `block`: tells the test bodies apart.
inline void collectMarkers(const Block& block, std::vector<float>& out) {
    for (const Node& n : block.children) {
        if (!n.isBlock()) {
            const Statement& s = n.statement();
            if (s.name == "vertices" && !s.values.empty() &&
                s.values[0].kind == Value::Kind::Numbers && s.values[0].numbers.size() > 0)
                out.push_back(static_cast<float>(s.values[0].numbers.at(0)));
            continue;
        }
        collectMarkers(n.block(), out);
    }
}

// For every component group (by its path of names below the file), the markers of the bodies
// it holds directly.
inline void componentContent(const Block& block, const std::string& path,
                             std::map<std::string, std::vector<float>>& out) {
    for (const Node& n : block.children) {
        if (!n.isBlock() || n.block().keyword != "group") continue;
        const Block& g = n.block();
        const std::string here = path + "/" + g.name();
        if (raymint::isBodyGroup(g)) {
            collectMarkers(g, out[path]);
        } else {
            if (raymint::isComponentGroup(g)) out[here];
            componentContent(g, here, out);
        }
    }
}

inline std::map<std::string, std::vector<float>> componentContent(const Document& doc) {
    std::map<std::string, std::vector<float>> out;
    componentContent(doc.root, "", out);
    return out;
}

// ---- designs --------------------------------------------------------------------------------

inline constexpr uint32_t kComponent = 0x1;
inline constexpr uint32_t kChanged = 0x8000;
inline constexpr uint32_t kBodyWithFaces = 0x400;
inline constexpr uint32_t kAppearance = 0x10000;

// A body group as the add-in writes one: body -> appearance group -> one triangle whose first
// vertex coordinate is `marker`.
inline std::shared_ptr<VexGroup> body(const std::string& name, float marker,
                                      size_t extraTriangles = 0) {
    auto group = std::make_shared<VexGroup>(name);
    group->setFlags(kBodyWithFaces);
    auto appearance = group->addGroup(name);
    appearance->setFlags(kAppearance);
    auto mesh = std::make_shared<TriangleObject>(name);
    std::vector<float> vertices = {marker, 0, 0, 1, 0, 0, 0, 1, 0};
    std::vector<int32_t> triangles = {0, 1, 2};
    for (size_t i = 0; i < extraTriangles; ++i) {
        vertices.insert(vertices.end(), {float(i), 1, 0, 1, float(i), 0, 0, 1, float(i)});
        const int32_t base = static_cast<int32_t>(3 * (i + 1));
        triangles.insert(triangles.end(), {base, base + 1, base + 2});
    }
    mesh->setVertices(std::move(vertices));
    mesh->setTriangles(std::move(triangles));
    appearance->addNode(mesh);
    return group;
}

inline VexGroup::Transform translation(double x) {
    VexGroup::Transform t = VexGroup::kIdentity;
    t[12] = x;
    return t;
}

inline std::shared_ptr<VexGroup> component(const std::string& name, bool changed,
                                           std::vector<std::shared_ptr<VexGroup>> children = {},
                                           std::vector<std::shared_ptr<VexGroup>> bodies = {},
                                           std::optional<double> x = std::nullopt) {
    auto group = std::make_shared<VexGroup>(name);
    group->setFlags(changed ? kComponent | kChanged : kComponent);
    if (x) group->setTransform(translation(*x));
    for (auto& c : children) group->addChildGroup(c);
    for (auto& b : bodies) group->addChildGroup(b);
    return group;
}

inline std::shared_ptr<VexGroup> design(const std::string& name,
                                        std::shared_ptr<VexGroup> rootComponent) {
    auto root = std::make_shared<VexGroup>(name);
    root->addChildGroup(std::move(rootComponent));
    return root;
}

// Hands one scene interface to the wrapper, as the add-in's live-link target does.
class ApiTarget : public LightFactory {
  public:
    explicit ApiTarget(vexScene_api* api) : api_(api) {}
    vexScene_api* scene_api() override { return api_; }
    void begin(vexSceneapi_oo&) override {}
    void close() override {}

  private:
    vexScene_api* api_;
};

// Everything RenderFlow writes for a click: banner and version, client attribute, import
// options, camera, design.
inline void writeTransfer(vexScene_api* api, VexGroup& root) {
    ApiTarget target(api);
    vexSceneapi_oo writer(target);
    writer.api()->attribute("process identifier", "Fusion 360, 0x4d2");
    DefaultRTModule module;
    module.setUpVector(2);
    module.setMeterScale(1000);
    module.setUseCamera("Active Camera");
    writer.write(module);
    LightCamera camera("Active Camera");
    camera.setPosition(10, 20, 30);
    camera.setDirection(0, 0, -1);
    camera.setUp(0, 1, 0);
    camera.setFov(40);
    writer.write(camera);
    writer.write(root);
}

// ---- processes ------------------------------------------------------------------------------

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string output;
};

#ifdef _WIN32

inline int processId() {
    return ::_getpid();
}

// Wine's own conversions between its paths and the Linux system's ("Z:\\tmp" and "/tmp").
inline std::string unixPath(const fs::path& path) {
    using Convert = char*(__cdecl*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) throw std::runtime_error("not running under Wine");
    char* name = convert(fs::absolute(path).wstring().c_str());
    if (name == nullptr) throw std::runtime_error("no Linux path for " + path.string());
    std::string result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

inline fs::path windowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    using Convert = wchar_t*(__cdecl*)(const char*);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (convert == nullptr) throw std::runtime_error("not running under Wine");
    wchar_t* name = convert(path.c_str());
    if (name == nullptr) throw std::runtime_error("no Windows path for " + path);
    fs::path result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// One argument of a Windows command line.
inline std::wstring commandWord(const std::wstring& word) {
    std::wstring quoted = L"\"";
    size_t slashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') quoted.append(slashes + 1, L'\\');
            slashes = 0;
        }
        quoted += c;
    }
    return quoted.append(slashes, L'\\') + L"\"";
}

// One word of a sh command line.
inline std::string shWord(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline PROCESS_INFORMATION createProcess(const fs::path& program,
                                         const std::vector<std::string>& args, HANDLE output) {
    std::wstring line = commandWord(program.wstring());
    for (const std::string& a : args) line += L" " + commandWord(fs::path(a).wstring());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                          nullptr, nullptr, &startup, &process))
        throw std::runtime_error("cannot start " + program.string());
    return process;
}

// Starts the Linux program `path` behind sh, with its output going to `log`. `pid`, when given,
// receives its process id once it runs; `status` its exit status (or 128 + signal) once it ended.
// Each file appears whole.
inline void startBehindSh(const std::string& path, const std::vector<std::string>& args,
                          const fs::path& log, const fs::path& status,
                          const fs::path& pid = fs::path()) {
    const auto leave = [](const std::string& what, const fs::path& file) {
        const std::string name = unixPath(file);
        return "echo " + what + " >" + shWord(name + ".tmp") + " && mv " + shWord(name + ".tmp") +
               " " + shWord(name);
    };
    std::string script = "exec <" + shWord("/dev/null") + " >>" + shWord(unixPath(log)) +
                         " 2>&1; " + shWord(path[0] == '/' ? path : unixPath(path));
    for (const std::string& a : args) script += " " + shWord(a);
    script += pid.empty() ? "; " : " & " + leave("$!", pid) + "; wait $!; ";
    script += leave("$?", status);
    const PROCESS_INFORMATION process =
        createProcess(windowsPath("/bin/sh"), {"-c", script}, nullptr);
    ::CloseHandle(process.hThread);  // Wine gives none for a Linux program
    ::CloseHandle(process.hProcess);
}

// Runs `path` to its end (at most 30 s) and collects its output. Windows programs (".exe") are
// waited for directly, their text output with plain line ends; Linux programs run behind sh.
inline RunResult run(const std::string& path, const std::vector<std::string>& args) {
    TempDir dir;
    RunResult result;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    if (fs::path(path).extension() == ".exe") {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE log =
            ::CreateFileW((dir / "output").wstring().c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
        if (log == INVALID_HANDLE_VALUE) throw std::runtime_error("no output file");
        PROCESS_INFORMATION process{};
        try {
            process = createProcess(windowsPath(path), args, log);
        } catch (...) {
            ::CloseHandle(log);
            throw;
        }
        ::CloseHandle(log);
        ::CloseHandle(process.hThread);
        if (::WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
            ::TerminateProcess(process.hProcess, 137);
        DWORD status = 0;
        ::GetExitCodeProcess(process.hProcess, &status);
        ::CloseHandle(process.hProcess);
        result.status = static_cast<int>(status);
        for (char c : readFile(dir / "output"))
            if (c != '\r') result.output += c;
        return result;
    }
    startBehindSh(path, args, dir / "output", dir / "status");
    while (!fs::exists(dir / "status") && Clock::now() < deadline) ::Sleep(5);
    const std::string code = readFile(dir / "status");
    if (!code.empty()) result.status = std::stoi(code);
    result.output = readFile(dir / "output");
    return result;
}

// Ends a process of the Linux system (a renderer) at once, and waits (at most 20 s) until it
// is gone.
inline void killProcess(int64_t pid) {
    run("/bin/kill", {"-KILL", std::to_string(pid)});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (raymint::processStartTime(pid) && Clock::now() < deadline) ::Sleep(5);
}

#else

inline int processId() {
    return static_cast<int>(::getpid());
}

// Starts `path` with `args`; standard output and error go to `log`.
inline pid_t spawn(const std::string& path, const std::vector<std::string>& args,
                   const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) throw std::runtime_error("cannot start " + path);
    return pid;
}

// Runs `path` to its end (at most 30 s, then it is killed) and collects its output.
inline RunResult run(const std::string& path, const std::vector<std::string>& args) {
    TempDir dir;
    const fs::path log = dir / "output";
    const pid_t pid = spawn(path, args, log);
    RunResult result;
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = readFile(log);
    return result;
}

// Ends a process at once. A renderer the add-in started is no child of the test: nothing to
// reap.
inline void killProcess(int64_t pid) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

#endif

// A port range for this test process, apart from those of tests running beside it.
inline std::string portRange(int width = 16) {
    const int base = 20000 + processId() % 2000 * 16;
    return std::to_string(base) + "-" + std::to_string(base + width - 1);
}

// The library of an installation, loaded as the add-in loads it.
class Library {
  public:
    explicit Library(const fs::path& file) {
#ifdef _WIN32
        handle_ = ::LoadLibraryW(file.wstring().c_str());
        if (handle_ == nullptr) throw std::runtime_error("LoadLibraryW failed: " + file.string());
        auto entry = reinterpret_cast<raymint_live_initialize_fn>(
            reinterpret_cast<void*>(::GetProcAddress(handle_, kLiveLinkEntryPoint)));
#else
        handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        auto entry =
            reinterpret_cast<raymint_live_initialize_fn>(::dlsym(handle_, kLiveLinkEntryPoint));
#endif
        if (entry == nullptr) throw std::runtime_error("no entry point");
        live_ = entry();
        if (live_ == nullptr) throw std::runtime_error("no root object");
        scene = live_->scene_api();
        query = live_->query_api();
    }
    ~Library() {
        if (live_ != nullptr) live_->destroy(1);
#ifdef _WIN32
        if (handle_ != nullptr) ::FreeLibrary(handle_);
#else
        if (handle_ != nullptr) ::dlclose(handle_);
#endif
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    vexScene_api* scene = nullptr;
    vexQuery_api* query = nullptr;

  private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    vexLive_api* live_ = nullptr;
};

// An installation in a temporary prefix and the renderers started from it; every renderer
// still running at the end is killed (and reaped, where the test started it). On Windows the
// Linux installer lays out the folder, the Windows library goes beside the renderer, and the
// records are the registry's own values, removed at the end.
class Installation {
  public:
    explicit Installation(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {"--prefix",       hostPath(prefix()), "--hive",
                                         hostPath(hive()), "--ports",          portRange()};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run(RAYMINT_INSTALL_EXE, args);
        if (r.status != 0) throw std::runtime_error("install failed: " + r.output);
#ifdef _WIN32
        fs::copy_file(windowsPath(RAYMINT_LIBRARY), library());
        std::string version = "11";
        for (size_t i = 0; i + 1 < options.size(); ++i)
            if (options[i] == "--version") version = options[i + 1];
        writeRecords(version);
#endif
    }
    ~Installation() {
#ifdef _WIN32
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kRecordsKey);
        for (const auto& r : raymint::liveInstances(records().string())) killProcess(r.processId);
        // The shells behind the renderers started here write into the folder until they end.
        for (const auto& [pid, status] : ended_) {
            if (!fs::exists(status)) kill(pid, 9);
        }
#else
        for (pid_t pid : running_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
#endif
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    fs::path prefix() const {
        return dir_ / "prefix";
    }
    fs::path hive() const {
        return dir_ / "HKEY_CURRENT_USER.reg";
    }
    fs::path binary() const {
        return prefix() / "bin" / "raymint";
    }
#ifdef _WIN32
    fs::path library() const {
        return prefix() / "bin" / "vexraymintlive6_64.dll";
    }
#else
    fs::path library() const {
        return prefix() / "bin" / "vexraymintlive6_64.so";
    }
#endif
    fs::path output() const {
        return prefix() / "var" / "output";
    }
    fs::path records() const {
        return prefix() / "var" / "instances";
    }
    fs::path log() const {
        return dir_ / "raymint.log";
    }
    fs::path transferLog() const {
        return output() / "transfers.log";
    }
    // Where the renderer `pid` of this installation keeps its instance record.
    fs::path record(int64_t pid) const {
        return raymint::recordPath(records().string(), pid);
    }
    const TempDir& dir() const {
        return dir_;
    }

#ifdef _WIN32
    // Starts the installed renderer without arguments (or with `args`) behind sh and waits for
    // its instance record.
    raymint::InstanceRecord start(const std::vector<std::string>& args = {}) {
        const std::string n = std::to_string(ended_.size());
        const fs::path pid = dir_ / ("renderer-" + n + ".pid");
        const fs::path status = dir_ / ("renderer-" + n + ".status");
        startBehindSh(binary().string(), args, log(), status, pid);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!fs::exists(pid) && Clock::now() < deadline) ::Sleep(5);
        const int64_t id = std::stoll("0" + readFile(pid));
        ended_[id] = status;
        const fs::path file = record(id);
        while (Clock::now() < deadline) {
            if (fs::exists(file)) {
                const auto r = raymint::parseRecord(readFile(file));
                if (r) return *r;
            }
            if (fs::exists(status))
                throw std::runtime_error("renderer exited early: " + readFile(log()));
            ::Sleep(5);
        }
        throw std::runtime_error("renderer did not publish its record: " + readFile(log()));
    }

    // Waits (at most 20 s) for a renderer started here to end; its exit status or 128 + signal.
    int wait(int64_t pid) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!fs::exists(ended_.at(pid)) && Clock::now() < deadline) ::Sleep(5);
        const std::string status = readFile(ended_.at(pid));
        return status.empty() ? -1 : std::stoi(status);
    }

    int kill(int64_t pid, int signal) {
        run("/bin/kill", {"-" + std::to_string(signal), std::to_string(pid)});
        return wait(pid);
    }

  private:
    static constexpr const wchar_t* kRecordsKey = L"SOFTWARE\\Corvan";

    // A path as the Linux installer takes it.
    static std::string hostPath(const fs::path& path) {
        return unixPath(path);
    }

    // What raymint-install records in its hive file, as registry values.
    void writeRecords(const std::string& version) const {
        const std::wstring name = L"RayMint " + fs::path(version).wstring();
        const std::string ports = portRange();
        const DWORD first = std::stoul(ports.substr(0, ports.find('-')));
        const DWORD last = std::stoul(ports.substr(ports.find('-') + 1));
        const auto text = [](HKEY key, const wchar_t* value, const std::wstring& data) {
            return ::RegSetValueExW(key, value, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(data.c_str()),
                                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        };
        const auto number = [](HKEY key, const wchar_t* value, DWORD data) {
            return ::RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                    sizeof data);
        };
        HKEY base = nullptr;
        HKEY installation = nullptr;
        bool ok = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRecordsKey, 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &base, nullptr) == ERROR_SUCCESS;
        ok = ok && text(base, L"RayMintVersion", name) == ERROR_SUCCESS &&
             ::RegCreateKeyExW(base, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &installation,
                               nullptr) == ERROR_SUCCESS;
        ok = ok && text(installation, L"BinName", binary().wstring()) == ERROR_SUCCESS &&
             text(installation, L"BinFolder", (prefix() / "bin").wstring()) == ERROR_SUCCESS &&
             text(installation, L"ResourceFolder", (prefix() / "resources").wstring()) ==
                 ERROR_SUCCESS &&
             number(installation, L"LiveLinkPort", first) == ERROR_SUCCESS &&
             number(installation, L"LiveLinkMaxPort", last) == ERROR_SUCCESS;
        if (installation != nullptr) ::RegCloseKey(installation);
        if (base != nullptr) ::RegCloseKey(base);
        if (!ok) throw std::runtime_error("cannot write the installation records");
    }

    TempDir dir_;
    std::map<int64_t, fs::path> ended_;  // the exit status file of each renderer started here
#else
    // Starts the installed renderer without arguments (or with `args`) and waits for its
    // instance record.
    raymint::InstanceRecord start(const std::vector<std::string>& args = {}) {
        const pid_t pid = spawn(binary().string(), args, log());
        running_.push_back(pid);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        const fs::path file = raymint::recordPath(records().string(), pid);
        while (Clock::now() < deadline) {
            std::ifstream in(file);
            if (in) {
                const auto record = raymint::parseRecord(readFile(file));
                if (record) return *record;
            }
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                forget(pid);
                throw std::runtime_error("renderer exited early: " + readFile(log()));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        throw std::runtime_error("renderer did not publish its record: " + readFile(log()));
    }

    // Waits (at most 20 s) for the renderer to end; its exit status or 128 + signal.
    int wait(pid_t pid) {
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        forget(pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int kill(pid_t pid, int signal) {
        ::kill(pid, signal);
        return wait(pid);
    }

  private:
    static std::string hostPath(const fs::path& path) {
        return path.string();
    }
    void forget(pid_t pid) {
        std::erase(running_, pid);
    }

    TempDir dir_;
    std::vector<pid_t> running_;
#endif
};

}  // namespace vex::test
