// The preview against reading: the export benchmark's design (BenchDesign.hpp, 2 M triangles)
// exported once through the real export command, then read into a tree and rendered at
// 1024x768 (with the PNG encoding). BM_Render reports render_per_read, its time over the time
// of one BM_ReadTree-style read measured in the same process; the target is below 4.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "BenchDesign.hpp"
#include "Session.hpp"
#include "preview/Preview.hpp"
#include "reader/SceneReader.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

const std::string& scenePath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        const std::string file = std::string(dir ? dir : "/tmp") + "/preview_bench.rmq";
        const host::DocumentRef document = benchdesign::design();
        host::Session session;
        session.install();
        session.openDocument(document);
        run("");
        session.answerSaveDialog(file);
        session.click("rayMint11ExportCommandOnPanelCPP");
        stop("");
        session.uninstall();
        return file;
    }();
    return path;
}

double seconds(auto&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ReadTree(benchmark::State& state) {
    const std::string& path = scenePath();
    for (auto _ : state) {
        vex::Document doc = vex::parseFile(path);
        benchmark::DoNotOptimize(doc.root.children.size());
    }
}

void BM_Render(benchmark::State& state) {
    vex::Document doc;
    const double read = seconds([&] { doc = vex::parseFile(scenePath()); });
    double total = 0;
    uint64_t triangles = 0;
    for (auto _ : state) {
        total += seconds([&] {
            const vex::preview::Picture p = vex::preview::render(doc);
            benchmark::DoNotOptimize(vex::preview::encodePng(p.image).size());
            triangles = p.counts.triangles;
        });
    }
    if (triangles != 2'000'000) state.SkipWithError("not every triangle was drawn");
    state.counters["read_s"] = read;
    state.counters["render_per_read"] = total / static_cast<double>(state.iterations()) / read;
}

BENCHMARK(BM_ReadTree)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Render)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
