// Reading a scene file against writing it: a mesh of 1,000,000 vertices and 2,000,000
// triangles, in text and in binary form, through a real file on both sides.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "reader/SceneReader.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

struct Mesh {
    std::vector<vex::vexSceneapi_oo::Float3> vertices;
    std::vector<int> triangles;
};

const Mesh& mesh() {
    static const Mesh m = [] {
        Mesh m;
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
        m.vertices.resize(1'000'000);
        for (size_t i = 0; i < m.vertices.size(); ++i)
            m.vertices[i] = {static_cast<float>(i % 1000) * 0.173f + noise(rng),
                             static_cast<float>(i / 1000) * 0.173f + noise(rng), noise(rng) * 40};
        m.triangles.resize(6'000'000);
        for (size_t i = 0; i < m.triangles.size(); ++i)
            m.triangles[i] = static_cast<int>(rng() % m.vertices.size());
        return m;
    }();
    return m;
}

std::string path(bool binary) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") +
           (binary ? "/reader_bench_b.rmq" : "/reader_bench_t.rmq");
}

void write(const std::string& file, bool binary) {
    vex::LightFileFactory target(file);
    {
        vex::vexSceneapi_oo out(target);
        out.api()->set_mode(binary ? 3 : 1);
        out.api()->begin_geometry("triangle_mesh");
        out.set_float3_array("vertices", mesh().vertices);
        out.set_int_array("triangles", mesh().triangles);
        out.api()->end_geometry();
    }
    target.close();
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
BENCHMARK(BM_ReadTree)
    ->ArgName("binary")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
