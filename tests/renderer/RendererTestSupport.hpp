// Helpers of the renderer tests: temporary folders, tree comparison, designs streamed the way
// the add-in streams them, and real renderer processes installed into a temporary prefix.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "renderer/InstanceRecords.hpp"
#include "renderer/ModelSets.hpp"
#include "scene/DefaultRTModule.hpp"
#include "scene/LightCamera.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "sceneapi/LightFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

#include "TestFiles.hpp"

extern char** environ;

namespace vex::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- trees ----------------------------------------------------------------------------------

bool sameBlock(const Block& a, const Block& b, std::string& where);

inline bool sameNumbers(const NumberArray& a, const NumberArray& b) {
    if (a.type != b.type || a.width != b.width || a.tag != b.tag || a.ints != b.ints ||
        a.floats.size() != b.floats.size() || a.doubles.size() != b.doubles.size())
        return false;
    // Bits, not values: NaN payloads and signed zeros count.
    return (a.floats.empty() ||
            std::memcmp(a.floats.data(), b.floats.data(), a.floats.size() * 4) == 0) &&
           (a.doubles.empty() ||
            std::memcmp(a.doubles.data(), b.doubles.data(), a.doubles.size() * 8) == 0);
}

inline bool sameValue(const Value& a, const Value& b, std::string& where) {
    if (a.kind != b.kind || a.hex != b.hex || a.listForm != b.listForm || a.i != b.i ||
        a.bytes != b.bytes || a.names != b.names || !sameNumbers(a.numbers, b.numbers)) {
        where = "value of kind " + std::to_string(static_cast<int>(a.kind));
        return false;
    }
    if (a.kind == Value::Kind::Number && std::memcmp(&a.d, &b.d, sizeof a.d) != 0 &&
        !(std::isnan(a.d) && std::isnan(b.d))) {
        where = "number " + std::to_string(a.d);
        return false;
    }
    if ((a.shader == nullptr) != (b.shader == nullptr)) return false;
    if (a.shader && !sameBlock(*a.shader, *b.shader, where)) return false;
    if (a.list.size() != b.list.size()) return false;
    for (size_t i = 0; i < a.list.size(); ++i) {
        if (a.list[i].size() != b.list[i].size()) return false;
        for (size_t k = 0; k < a.list[i].size(); ++k)
            if (!sameValue(a.list[i][k], b.list[i][k], where)) return false;
    }
    return true;
}

inline bool sameStatement(const Statement& a, const Statement& b, std::string& where) {
    if (a.form != b.form || a.name != b.name || a.link != b.link ||
        a.values.size() != b.values.size()) {
        where = "statement " + a.name + " / " + b.name;
        return false;
    }
    for (size_t i = 0; i < a.values.size(); ++i)
        if (!sameValue(a.values[i], b.values[i], where)) {
            where = "statement " + a.name + ": " + where;
            return false;
        }
    return true;
}

inline bool sameBlock(const Block& a, const Block& b, std::string& where) {
    if (a.keyword != b.keyword || a.prefix != b.prefix || a.captured != b.captured ||
        a.args.size() != b.args.size() || a.children.size() != b.children.size()) {
        where = "block " + a.keyword + " " + a.name() + " / " + b.keyword + " " + b.name();
        return false;
    }
    for (size_t i = 0; i < a.args.size(); ++i)
        if (!sameValue(a.args[i], b.args[i], where)) return false;
    for (size_t i = 0; i < a.children.size(); ++i) {
        const Node& x = a.children[i];
        const Node& y = b.children[i];
        if (x.isBlock() != y.isBlock()) {
            where = "node " + std::to_string(i) + " of " + a.keyword + " " + a.name();
            return false;
        }
        if (x.isBlock() ? !sameBlock(x.block(), y.block(), where)
                        : !sameStatement(x.statement(), y.statement(), where))
            return false;
    }
    return true;
}

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

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string output;
};

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

// A port range for this test process, apart from those of tests running beside it.
inline std::string portRange(int width = 16) {
    const int base = 20000 + static_cast<int>(::getpid() % 2000) * 16;
    return std::to_string(base) + "-" + std::to_string(base + width - 1);
}

// The library of an installation, loaded as the add-in loads it.
class Library {
  public:
    explicit Library(const fs::path& file) {
        handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        auto entry =
            reinterpret_cast<raymint_live_initialize_fn>(::dlsym(handle_, kLiveLinkEntryPoint));
        if (entry == nullptr) throw std::runtime_error("no entry point");
        live_ = entry();
        if (live_ == nullptr) throw std::runtime_error("no root object");
        scene = live_->scene_api();
        query = live_->query_api();
    }
    ~Library() {
        if (live_ != nullptr) live_->destroy(1);
        if (handle_ != nullptr) ::dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    vexScene_api* scene = nullptr;
    vexQuery_api* query = nullptr;

  private:
    void* handle_ = nullptr;
    vexLive_api* live_ = nullptr;
};

// An installation in a temporary prefix and the renderers started from it; every renderer
// still running at the end is killed and reaped.
class Installation {
  public:
    explicit Installation(const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {"--prefix",      prefix().string(), "--hive",
                                         hive().string(), "--ports",         portRange()};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = run(RAYMINT_INSTALL_EXE, args);
        if (r.status != 0) throw std::runtime_error("install failed: " + r.output);
    }
    ~Installation() {
        for (pid_t pid : running_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    fs::path prefix() const { return dir_ / "prefix"; }
    fs::path hive() const { return dir_ / "HKEY_CURRENT_USER.reg"; }
    fs::path binary() const { return prefix() / "bin" / "raymint"; }
    fs::path library() const { return prefix() / "bin" / "vexraymintlive6_64.so"; }
    fs::path output() const { return prefix() / "var" / "output"; }
    fs::path records() const { return prefix() / "var" / "instances"; }
    fs::path log() const { return dir_ / "raymint.log"; }
    fs::path transferLog() const { return output() / "transfers.log"; }
    // Where the renderer `pid` of this installation keeps its instance record.
    fs::path record(int64_t pid) const { return raymint::recordPath(records().string(), pid); }
    const TempDir& dir() const { return dir_; }

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
    void forget(pid_t pid) { std::erase(running_, pid); }

    TempDir dir_;
    std::vector<pid_t> running_;
};

}  // namespace vex::test
