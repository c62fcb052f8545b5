// Helpers of the renderer tests: designs streamed the way the add-in streams them, model-set
// content by component, programs run to their end, and an installation in a temporary prefix
// with the renderers started from it. On Windows (under Wine) the renderer and its installer
// are the Linux programs: Wine starts them through CreateProcessW but hands back no process to
// wait for, so there they run behind a shell that leaves their exit status in a file.
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
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <map>
#include <memory>
#include <optional>
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
using Content = std::map<std::string, std::vector<float>>;

// The first "vertices" number of each mesh below `block`: tells the test bodies apart.
inline void markers(const Block& block, std::vector<float>& out) {
    for (const Node& n : block.children)
        if (n.isBlock())
            markers(n.block(), out);
        else if (n.statement().name == "vertices")
            out.push_back(static_cast<float>(n.statement().values.at(0).numbers.at(0)));
}

// For every component group (by its path of names), the markers of the bodies it holds directly.
inline void componentContent(const Block& block, const std::string& path, Content& out) {
    for (const Node& n : block.children) {
        if (!n.isBlock() || n.block().keyword != "group") continue;
        const std::string here = path + "/" + n.block().name();
        if (raymint::isBodyGroup(n.block())) {
            markers(n.block(), out[path]);
        } else {
            if (raymint::isComponentGroup(n.block())) out[here];
            componentContent(n.block(), here, out);
        }
    }
}

inline Content componentContent(const Document& doc) {
    Content out;
    componentContent(doc.root, "", out);
    return out;
}

// A body group as the add-in writes one: body -> appearance group -> one triangle whose first
// vertex coordinate is `marker`, and `extra` more triangles.
inline std::shared_ptr<VexGroup> body(const std::string& name, float marker, size_t extra = 0) {
    auto group = std::make_shared<VexGroup>(name);
    group->setFlags(0x400);
    auto appearance = group->addGroup(name);
    appearance->setFlags(0x10000);
    auto mesh = std::make_shared<TriangleObject>(name);
    std::vector<float> vertices = {marker, 0, 0, 1, 0, 0, 0, 1, 0};
    std::vector<int32_t> triangles = {0, 1, 2};
    for (size_t i = 0; i < extra; ++i) {
        vertices.insert(vertices.end(), {float(i), 1, 0, 1, float(i), 0, 0, 1, float(i)});
        const auto base = static_cast<int32_t>(3 * (i + 1));
        triangles.insert(triangles.end(), {base, base + 1, base + 2});
    }
    mesh->setVertices(std::move(vertices));
    mesh->setTriangles(std::move(triangles));
    appearance->addNode(mesh);
    return group;
}

using Groups = std::vector<std::shared_ptr<VexGroup>>;

// A component group (flag 0x8000: changed), placed at x when given.
inline std::shared_ptr<VexGroup> component(const std::string& name, bool changed,
                                           Groups children = {}, Groups bodies = {},
                                           std::optional<double> x = std::nullopt) {
    auto group = std::make_shared<VexGroup>(name);
    group->setFlags(changed ? 0x8001 : 0x1);
    if (x) {
        VexGroup::Transform t = VexGroup::kIdentity;
        t[12] = *x;
        group->setTransform(t);
    }
    for (auto& c : children) group->addChildGroup(c);
    for (auto& b : bodies) group->addChildGroup(b);
    return group;
}

inline std::shared_ptr<VexGroup> design(const std::string& name, std::shared_ptr<VexGroup> root) {
    auto top = std::make_shared<VexGroup>(name);
    top->addChildGroup(std::move(root));
    return top;
}

// Doc -> Cart (root component) -> Axle -> Wheel, and Frame beside Axle.
inline std::shared_ptr<VexGroup> cart(bool changed, float wheel = 1, double axleX = -200) {
    auto bodies = [changed](Groups b) { return changed ? b : Groups{}; };
    auto axle = component("Axle", changed,
                          {component("Wheel", changed, {}, bodies({body("Tyre", wheel)}), 0)},
                          bodies({body("Rod", 2)}), axleX);
    auto frame = component("Frame", changed, {}, bodies({body("Beam", 3), body("Plate", 4)}), 0);
    return design("Doc", component("Cart", changed, {axle, frame}, bodies({body("Base", 5)})));
}

inline std::shared_ptr<VexGroup> cartOf(const std::string& name, Groups children,
                                        Groups bodies = {}) {
    return design(name, component("Cart", !bodies.empty(), children, bodies));
}

// Hands one scene interface to the writer, as the add-in's live-link target does.
class ApiTarget : public LightFactory {
  public:
    explicit ApiTarget(vexScene_api* api) : api_(api) {}
    vexScene_api* scene_api() override { return api_; }
    void begin(vexSceneapi_oo&) override {}
    void close() override {}

  private:
    vexScene_api* api_;
};

// Everything the add-in writes for a click: client attribute, import options, camera, design.
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

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string output;
};

#ifdef _WIN32

// Wine's own conversion of its paths to the Linux system's ("C:\\x" to "/home/u/.wine/drive_c/x").
inline std::string unixPath(const fs::path& path) {
    using Convert = char*(__cdecl*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert ? convert(fs::absolute(path).wstring().c_str()) : nullptr;
    if (name == nullptr) throw std::runtime_error("no Linux path for " + path.string());
    std::string result(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// Runs `path` to its end and collects its output (with plain line ends). Windows programs
// (".exe") run through the command interpreter, Linux programs (at most 30 s) behind sh.
inline RunResult run(const std::string& path, const std::vector<std::string>& args) {
    TempDir dir;
    RunResult result;
    std::string words, output;
    const bool windows = fs::path(path).extension() == ".exe";
    for (const std::string& a : args) words += " " + (windows ? shellQuote(a) : shWord(a));
    if (windows) {
        const CommandResult r = runCommand(shellQuote(buildPath(path).string()) + words + " 2>&1");
        result.status = r.status;
        output = r.out;
    } else {
        const std::string status = shWord(unixPath(dir / "status"));
        const std::string script = "exec </dev/null >" + shWord(unixPath(dir / "output")) +
                                   " 2>&1; " + shWord(path[0] == '/' ? path : unixPath(path)) +
                                   words + "; echo $? >" + status + ".tmp && mv " + status +
                                   ".tmp " + status;
        std::wstring line = L"sh -c \"" + fs::path(script).wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(buildPath("/bin/sh").wstring().c_str(), line.data(), nullptr, nullptr,
                              FALSE, 0, nullptr, nullptr, &startup, &process))
            throw std::runtime_error("cannot start " + path);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        // Wine gives no process to wait for when it starts a Linux program.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!fs::exists(dir / "status") && Clock::now() < deadline) ::Sleep(5);
        const std::string code = readFile(dir / "status");
        if (!code.empty()) result.status = std::stoi(code);
        output = readFile(dir / "output");
    }
    result.output = replaced(output, "\r", "");
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

// Paths of programs and files are the same for all programs here.
inline std::string unixPath(const fs::path& path) {
    return path.string();
}

// Starts `path` with `args`; standard output and error go to `log`.
inline pid_t spawn(const std::string& path, const std::vector<std::string>& args,
                   const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv = {const_cast<char*>(path.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) throw std::runtime_error("cannot start " + path);
    return pid;
}

// Waits (at most `seconds`, then it is killed) for the child `pid` to end; its exit status or
// 128 + signal.
inline int waitFor(pid_t pid, int seconds = 30) {
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `path` to its end (at most 30 s) and collects its output.
inline RunResult run(const std::string& path, const std::vector<std::string>& args) {
    TempDir dir;
    const int status = waitFor(spawn(path, args, dir / "output"));
    return {status, readFile(dir / "output")};
}

// A renderer the add-in started is no child of the test: nothing to reap.
inline void killProcess(int64_t pid) {
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// The library of an installation, loaded as the add-in loads it.
class Library {
  public:
    explicit Library(const fs::path& file) : handle_(::dlopen(file.c_str(), RTLD_NOW)) {
        auto entry = reinterpret_cast<raymint_live_initialize_fn>(
            handle_ ? ::dlsym(handle_, kLiveLinkEntryPoint) : nullptr);
        live_ = entry ? entry() : nullptr;
        if (live_ == nullptr) throw std::runtime_error("cannot load " + file.string());
        scene = live_->scene_api();
        query = live_->query_api();
    }
    ~Library() {
        live_->destroy(1);
        ::dlclose(handle_);
    }
    vexScene_api* scene = nullptr;
    vexQuery_api* query = nullptr;

  private:
    void* handle_;
    vexLive_api* live_ = nullptr;
};

#endif

// A port range for this test process, apart from those of tests running beside it.
inline std::string portRange() {
    const int base = 20000 + static_cast<int>(::getpid()) % 2000 * 16;
    return std::to_string(base) + "-" + std::to_string(base + 15);
}

// An installation in a temporary prefix; every renderer of it still running at the end is
// killed (and reaped, where the test started it). On Windows the Linux installer lays out the
// folder, the Windows library goes beside the renderer, and the records are the registry's own
// values, removed at the end.
class Installation {
  public:
    TempDir dir;
    const fs::path prefix = dir / "prefix", hive = dir / "HKEY_CURRENT_USER.reg";
    const fs::path binary = prefix / "bin" / "raymint", log = dir / "raymint.log";
    const fs::path library = prefix / "bin" / "vexraymintlive6_64.so";
    const fs::path output = prefix / "var" / "output", records = prefix / "var" / "instances";
    const fs::path transferLog = output / "transfers.log";

    explicit Installation(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {"--prefix",     unixPath(prefix), "--hive",
                                         unixPath(hive), "--ports",        portRange()};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run(RAYMINT_INSTALL_EXE, args);
        if (r.status != 0) throw std::runtime_error("install failed: " + r.output);
#ifdef _WIN32
        fs::copy_file(buildPath(RAYMINT_LIBRARY), prefix / "bin" / "vexraymintlive6_64.dll");
        // The installer's records, their paths on drive Z:, imported into the registry.
        writeFile(dir / "records.reg", replaced(readFile(hive), "\"=\"/", "\"=\"Z:/"));
        if (runCommand("reg import " + shellQuote((dir / "records.reg").string()) + " >NUL 2>&1")
                .status != 0)
            throw std::runtime_error("cannot import the installation's records");
#endif
    }
    ~Installation() {
#ifdef _WIN32
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvan");
#else
        for (pid_t pid : running_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
#endif
        for (const auto& r : raymint::liveInstances(records.string())) killProcess(r.processId);
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    fs::path record(int64_t pid) const {
        return raymint::recordPath(records.string(), pid);
    }

#ifndef _WIN32
    // Starts the installed renderer with `args` and waits for its instance record.
    raymint::InstanceRecord start(const std::vector<std::string>& args = {}) {
        const pid_t pid = spawn(binary.string(), args, log);
        running_.push_back(pid);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            if (const auto r = raymint::parseRecord(readFile(record(pid)))) return *r;
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                std::erase(running_, pid);
                throw std::runtime_error("renderer exited early: " + readFile(log));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        throw std::runtime_error("renderer did not publish its record: " + readFile(log));
    }

    // Waits (at most 20 s) for a renderer started here to end; its exit status or 128 + signal.
    int wait(int64_t pid) {
        std::erase(running_, static_cast<pid_t>(pid));
        return waitFor(static_cast<pid_t>(pid), 20);
    }

    int kill(int64_t pid, int signal) {
        ::kill(static_cast<pid_t>(pid), signal);
        return wait(pid);
    }

  private:
    std::vector<pid_t> running_;
#endif
};

}  // namespace vex::test
