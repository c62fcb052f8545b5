// Scene file writer against the naive ways of producing the same bytes:
// text arrays against one fprintf per value, binary blocks against raw fwrite.
// Mesh: 1,000,000 vertices and 2,000,000 triangles, written to a real file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchMesh.hpp"
#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace {

using vex::bench::mesh;
using vex::bench::outputPath;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWithWrapper(const std::string& path, bool binary) {
    vex::bench::writeMesh(path, binary);
}

const char kPrefix[] =
    "//---corvan:dal:7---\n//---import:dal:1---\n//---id:1---\n"
    "// This is a RayMint scene file\n\n"
    "#print \"RayMint SceneApi oo 11.1.0  (built Thu Sep 23 14:16:20 2021)\"\nversion 9\n\n"
    "geometry \"triangle_mesh\" {\n \"vertices\" ";

// Same bytes as the writer's text form, one fprintf per value.
void writeWithPrintf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs(kPrefix, f);
    const auto& v = mesh().vertices;
    std::fputs("[ ", f);
    for (size_t i = 0; i < v.size(); ++i) {
        std::fprintf(f, "%g", v[i][0]);
        std::fputc(' ', f);
        std::fprintf(f, "%g", v[i][1]);
        std::fputc(' ', f);
        std::fprintf(f, "%g", v[i][2]);
        std::fputc(i + 1 < v.size() ? ',' : ' ', f);
        if (i != 0 && i % 8 == 0) std::fputs("\n ", f);
    }
    std::fputs("] ,\n \"triangles\" [ ", f);
    const auto& t = mesh().triangles;
    for (size_t i = 0; i < t.size(); ++i) {
        std::fprintf(f, "%d", t[i]);
        std::fputc(i + 1 < t.size() ? ',' : ' ', f);
        if (i != 0 && i % 8 == 0) std::fputs("\n ", f);
    }
    std::fputs("] ,\n}\n", f);
    std::fclose(f);
}

// Same bytes as the writer's binary form, with plain fwrites.
void writeWithFwrite(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs(kPrefix, f);
    const auto block = [f](char tag, const void* data, uint32_t scalars) {
        const unsigned char head[8] = {1,
                                       2,
                                       3,
                                       static_cast<unsigned char>(tag),
                                       static_cast<unsigned char>(scalars),
                                       static_cast<unsigned char>(scalars >> 8),
                                       static_cast<unsigned char>(scalars >> 16),
                                       static_cast<unsigned char>(scalars >> 24)};
        std::fputs("[ ", f);
        std::fwrite(head, 1, 8, f);
        std::fwrite(data, 4, scalars, f);
        std::fputs("] ", f);
    };
    block('c', mesh().vertices.data(), static_cast<uint32_t>(3 * mesh().vertices.size()));
    std::fputs(",\n \"triangles\" ", f);
    block('i', mesh().triangles.data(), static_cast<uint32_t>(mesh().triangles.size()));
    std::fputs(",\n}\n", f);
    std::fclose(f);
}

void checkSame(const std::string& a, const std::string& b, benchmark::State& state) {
    if (readAll(a) != readAll(b)) state.SkipWithError("baseline bytes differ from the writer's");
}

void BM_TextArrays(benchmark::State& state) {
    const std::string path = outputPath("writer_bench_text.rmq");
    for (auto _ : state) writeWithWrapper(path, false);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(readAll(path).size()));
}

void BM_PrintfBaseline(benchmark::State& state) {
    const std::string path = outputPath("writer_bench_printf.rmq");
    const std::string reference = outputPath("writer_bench_text_ref.rmq");
    writeWithWrapper(reference, false);
    writeWithPrintf(path);
    checkSame(reference, path, state);
    for (auto _ : state) writeWithPrintf(path);
    std::remove(reference.c_str());
}

void BM_BinaryArrays(benchmark::State& state) {
    const std::string path = outputPath("writer_bench_binary.rmq");
    for (auto _ : state) writeWithWrapper(path, true);
}

void BM_FwriteBaseline(benchmark::State& state) {
    const std::string path = outputPath("writer_bench_fwrite.rmq");
    const std::string reference = outputPath("writer_bench_binary_ref.rmq");
    writeWithWrapper(reference, true);
    writeWithFwrite(path);
    checkSame(reference, path, state);
    for (auto _ : state) writeWithFwrite(path);
    std::remove(reference.c_str());
}

BENCHMARK(BM_TextArrays)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_PrintfBaseline)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_BinaryArrays)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FwriteBaseline)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
