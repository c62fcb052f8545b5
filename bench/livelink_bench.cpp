// "Render in RayMint 11" streaming the design of BenchDesign.hpp to the stand-in renderer,
// side by side with "Export to RayMint .rmq" writing it to a file.
//
// The renderer is installed into a temporary folder with a hive file of its own and started
// before the timed clicks, so the figures are the transfer (discovery, description, stream,
// the renderer taking it in and acknowledging), not the renderer's start-up.
//
// - BM_ExportFlow: the file export.
// - BM_RenderFirstClick: a click on a renderer that does not show the design yet (a fresh
//   renderer per iteration, started outside the timing): the whole design is sent.
// - BM_RenderUnchangedClick: a later click on the unchanged design; `bytes` against
//   `first_click_bytes` is the share the update sends.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesign.hpp"
#include "Session.hpp"
#include "renderer/InstanceRecords.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);
extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace benchdesign;

constexpr char kRender[] = "rayMint11RenderCommandOnQATCPP";
constexpr char kExport[] = "rayMint11ExportCommandOnPanelCPP";

pid_t spawnQuiet(const std::string& path, std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) throw std::runtime_error("cannot start " + path);
    return pid;
}

// An installation of the stand-in renderer in a temporary folder, found by the add-in through
// its own hive file, and at most one renderer of it running.
class Renderer {
  public:
    Renderer() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/livelink-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        const std::string hive = dir_ + "/HKEY_CURRENT_USER.reg";
        int status = 0;
        ::waitpid(spawnQuiet(RAYMINT_INSTALL_EXE,
                             {"--prefix", prefix(), "--hive", hive, "--ports", "46100-46131"}),
                  &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("raymint-install failed");
        ::setenv("VEX_REGISTRY_HKCU", hive.c_str(), 1);
        ::setenv("VEX_REGISTRY_HKLM", "", 1);
    }
    ~Renderer() {
        stop();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    std::string prefix() const { return dir_ + "/prefix"; }

    // Starts a renderer and waits until it is listed, as the add-in would find it.
    void start() {
        stop();
        pid_ = spawnQuiet(prefix() + "/bin/raymint", {});
        const std::string records = vex::raymint::instanceFolder(prefix());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (vex::raymint::liveInstances(records).empty()) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("the renderer did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // The scene bytes of the last transfer and whether it succeeded, from the transfer log.
    uint64_t lastTransferBytes(bool& ok) const {
        std::ifstream in(prefix() + "/var/output/transfers.log");
        std::string line, last;
        while (std::getline(in, line)) last = line;
        ok = last.ends_with(" status ok");
        const size_t at = last.find(" bytes ");
        return at == std::string::npos ? 0 : std::stoull(last.substr(at + 7));
    }

  private:
    std::string dir_;
    pid_t pid_ = -1;
};

// One design per process, as a host holds one open document.
const host::DocumentRef& benchDocument() {
    static const host::DocumentRef document = design();
    return document;
}

// The host with the add-in loaded and the design open, for one benchmark.
class Host {
  public:
    explicit Host(benchmark::State& state) : state_(state) {
        session_.install();
        session_.openDocument(benchDocument());
        if (!run("")) state.SkipWithError("run failed");
    }
    ~Host() {
        stop("");
        session_.uninstall();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    host::Session& session() { return session_; }

    // False (and the benchmark skipped) when the click failed or showed a message.
    bool click(const char* control) {
        const size_t boxes = session_.messageBoxes().size();
        const host::ClickReport report = session_.click(control);
        if (!report.exceptions.empty()) {
            state_.SkipWithError(report.exceptions.front().c_str());
            return false;
        }
        if (session_.messageBoxes().size() != boxes) {
            state_.SkipWithError(session_.messageBoxes().back().c_str());
            return false;
        }
        return true;
    }

  private:
    benchmark::State& state_;
    host::Session session_;
};

Renderer& renderer() {
    static Renderer installed;
    return installed;
}

void BM_ExportFlow(benchmark::State& state) {
    Host host(state);
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp ? tmp : "/tmp") + "/livelink_bench.rmq";
    for (auto _ : state) {
        host.session().answerSaveDialog(path);
        if (!host.click(kExport)) break;
    }
    std::error_code error;
    state.counters["bytes"] = static_cast<double>(fs::file_size(path, error));
    fs::remove(path, error);
}

void BM_RenderFirstClick(benchmark::State& state) {
    Host host(state);
    uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        renderer().start();  // shows nothing yet: the add-in sends everything
        state.ResumeTiming();
        if (!host.click(kRender)) break;
        bool ok = false;
        bytes = renderer().lastTransferBytes(ok);
        if (!ok) state.SkipWithError("the renderer did not take the transfer");
    }
    renderer().stop();
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["mesh_MB"] = meshBytes(*benchDocument()) / 1e6;
}

void BM_RenderUnchangedClick(benchmark::State& state) {
    Host host(state);
    renderer().start();
    bool ok = false;
    uint64_t first = 0;
    if (host.click(kRender)) first = renderer().lastTransferBytes(ok);
    if (!ok) state.SkipWithError("the first click did not arrive");
    uint64_t bytes = 0;
    for (auto _ : state) {
        if (!ok || !host.click(kRender)) break;
        bytes = renderer().lastTransferBytes(ok);
        if (!ok) state.SkipWithError("the renderer did not take the update");
    }
    renderer().stop();
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["first_click_bytes"] = static_cast<double>(first);
    state.counters["share_percent"] = first != 0 ? 100.0 * static_cast<double>(bytes) / first : 0;
}

BENCHMARK(BM_ExportFlow)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_RenderFirstClick)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_RenderUnchangedClick)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
