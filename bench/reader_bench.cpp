// Reading a scene file against writing it: a mesh of 1,000,000 vertices and 2,000,000
// triangles, in text and in binary form, through a real file on both sides.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchMesh.hpp"
#include "reader/SceneReader.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

using vex::bench::mesh;

std::string path(bool binary) {
    return vex::bench::outputPath(binary ? "reader_bench_b.rmq" : "reader_bench_t.rmq");
}

void write(const std::string& file, bool binary) {
    vex::bench::writeMesh(file, binary);
}

// Counts what a consumer of the stream would count, without building the tree.
struct Counter : vex::SceneHandler {
    size_t numbers = 0;
    void beginBlock(vex::Block&&) override {}
    void endBlock(int) override {}
    void statement(vex::Statement&& s) override {
        for (const auto& v : s.values) numbers += v.numbers.size();
    }
};

void BM_Write(benchmark::State& state) {
    const bool binary = state.range(0) != 0;
    for (auto _ : state) write(path(binary), binary);
}

void BM_Read(benchmark::State& state) {
    const bool binary = state.range(0) != 0;
    write(path(binary), binary);
    for (auto _ : state) {
        Counter c;
        vex::parsePath(path(binary), c);
        if (c.numbers != 9'000'000) state.SkipWithError("wrong count of numbers");
        benchmark::DoNotOptimize(c.numbers);
    }
}

// The same reading from a string in memory, in the 1 MiB pieces parseStream uses: the parser
// without the file system.
void BM_ReadMemory(benchmark::State& state) {
    const bool binary = state.range(0) != 0;
    write(path(binary), binary);
    std::string text;
    {
        std::FILE* f = std::fopen(path(binary).c_str(), "rb");
        if (f == nullptr) {
            state.SkipWithError("cannot open the scene file");
            return;
        }
        char buf[1 << 16];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    const size_t piece = size_t{1} << 20;
    for (auto _ : state) {
        Counter c;
        vex::SceneReader reader(c, "memory");
        reader.expectInput(text.size());  // as parseStream does for a regular file
        for (size_t at = 0; at < text.size(); at += piece)
            reader.feed(text.data() + at, std::min(piece, text.size() - at));
        reader.finish();
        if (c.numbers != 9'000'000) state.SkipWithError("wrong count of numbers");
        benchmark::DoNotOptimize(c.numbers);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ReadTree(benchmark::State& state) {
    const bool binary = state.range(0) != 0;
    write(path(binary), binary);
    for (auto _ : state) {
        vex::Document d = vex::parseFile(path(binary));
        benchmark::DoNotOptimize(d.root.children.size());
    }
    std::remove(path(binary).c_str());
}

BENCHMARK(BM_Write)->ArgName("binary")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Read)->ArgName("binary")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ReadMemory)
    ->ArgName("binary")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_ReadTree)
    ->ArgName("binary")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
