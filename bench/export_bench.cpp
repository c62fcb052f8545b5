// The export command through the whole flow (host walk, mesh extraction, scene graph, scene
// file) on the two designs of BenchDesign.hpp, against assimp's OBJ exporter writing the
// mesh-heavy design's meshes.
//
// BM_ExportFlow/<design> reports the scene file's bytes per second, the design's mesh bytes
// (meshBytes: 4 bytes per float and index, per placement) and the peak resident set size of an
// export of that design alone: the peak is a whole process's, so each design's figure comes from
// a fresh process (this program run with --peak DESIGN) that builds the design and exports it
// once. At the end the console shows the ratio of the designs' median bytes per second.
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Exporter.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "BenchDesign.hpp"
#include "Session.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

using namespace benchdesign;

const std::map<std::string, host::DocumentRef (*)()> kDesigns{
    {"mesh_heavy", meshHeavyDesign},
    {"many_parts", [] { return manyPartsDesign(); }},
    {"many_parts_10", [] { return manyPartsDesign(10); }},  // for profiles: --peak many_parts_10
};

double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
}

std::string outputPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

// Exports document through the add-in as "Export to RayMint .rmq" does, times iterations;
// the error text, or "" on success.
template <class Loop>
std::string exportDesign(const host::DocumentRef& document, const std::string& path, Loop loop) {
    host::Session session;
    session.install();
    session.openDocument(document);
    std::string error = run("") ? "" : "run failed";
    if (error.empty())
        loop([&] {
            session.answerSaveDialog(path);
            const host::ClickReport report = session.click("rayMint11ExportCommandOnPanelCPP");
            if (!report.exceptions.empty()) error = report.exceptions.front();
            return error.empty();
        });
    stop("");
    session.uninstall();
    return error;
}

// The child's side of peakOf: one export of the named design; prints the peak in bytes. The
// scene file stays at keep when given (to compare outputs). Also the way to profile one
// export: valgrind --tool=callgrind export_bench --peak NAME
int peakChild(const std::string& name, const char* keep) {
    const auto found = kDesigns.find(name);
    if (found == kDesigns.end()) return 2;
    const host::DocumentRef document = found->second();
    const std::string path = keep ? keep : outputPath("export_bench_peak_" + name + ".rmq");
    const std::string error = exportDesign(document, path, [](auto once) { once(); });
    if (!keep) std::filesystem::remove(path);
    if (!error.empty()) return 1;
    std::printf("%.0f\n", peakResidentBytes());
    return 0;
}

// Peak resident bytes of a fresh process exporting the named design once; 0 on failure.
double peakOf(const std::string& name) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "export_bench", "--peak", name.c_str(), nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[64];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return 0;
    return std::strtod(out.c_str(), nullptr);
}

void BM_ExportFlow(benchmark::State& state, const std::string& name) {
    // One document per design and process, as a host holds one open document per design: a
    // design made per call would be built while the add-in still holds the previous call's (its
    // application reference outlives stop).
    static std::map<std::string, host::DocumentRef> documents;
    static std::map<std::string, double> peaks;
    host::DocumentRef& document = documents[name];
    if (!document) document = kDesigns.at(name)();
    if (!peaks.contains(name)) peaks[name] = peakOf(name);
    const std::string path = outputPath("export_bench_" + name + ".rmq");
    const std::string error = exportDesign(document, path, [&](auto once) {
        for (auto _ : state)
            if (!once()) break;
    });
    if (!error.empty()) state.SkipWithError(error.c_str());
    std::error_code ec;
    const double fileBytes = static_cast<double>(std::filesystem::file_size(path, ec));
    std::filesystem::remove(path, ec);
    state.SetBytesProcessed(static_cast<int64_t>(fileBytes) * state.iterations());
    const double bytes = meshBytes(*document);
    state.counters["file_MB"] = fileBytes / 1e6;
    state.counters["mesh_MB"] = bytes / 1e6;
    state.counters["host_mesh_MB"] = meshBytes(*document, false) / 1e6;
    state.counters["peak_rss_MB"] = peaks[name] / 1e6;
    state.counters["peak_per_mesh_byte"] = peaks[name] / bytes;
}

// The same meshes as an assimp scene, placed like the occurrences.
std::unique_ptr<aiScene> assimpScene() {
    auto scene = std::make_unique<aiScene>();
    scene->mRootNode = new aiNode("Bench Assembly");
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { new aiMaterial() };
    scene->mNumMeshes = kComponents;
    scene->mMeshes = new aiMesh*[kComponents];
    scene->mRootNode->mNumChildren = kComponents;
    scene->mRootNode->mChildren = new aiNode*[kComponents];
    for (int i = 0; i < kComponents; ++i) {
        const host::MeshRef m = gridMesh(i);
        auto* mesh = new aiMesh();
        const unsigned nodes = static_cast<unsigned>(m->coordinates->size() / 3);
        mesh->mNumVertices = nodes;
        mesh->mVertices = new aiVector3D[nodes];
        mesh->mNormals = new aiVector3D[nodes];
        mesh->mTextureCoords[0] = new aiVector3D[nodes];
        mesh->mNumUVComponents[0] = 2;
        for (unsigned k = 0; k < nodes; ++k) {
            const auto& c = *m->coordinates;
            mesh->mVertices[k] = aiVector3D(c[3 * k] * 10, c[3 * k + 1] * 10, c[3 * k + 2] * 10);
            mesh->mNormals[k] = aiVector3D(0, 0, 1);
            mesh->mTextureCoords[0][k] = aiVector3D((*m->uvs)[2 * k], (*m->uvs)[2 * k + 1], 0);
        }
        const unsigned faces = static_cast<unsigned>(m->indices->size() / 3);
        mesh->mNumFaces = faces;
        mesh->mFaces = new aiFace[faces];
        mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        for (unsigned f = 0; f < faces; ++f) {
            mesh->mFaces[f].mNumIndices = 3;
            mesh->mFaces[f].mIndices = new unsigned[3];
            for (int k = 0; k < 3; ++k)
                mesh->mFaces[f].mIndices[k] = static_cast<unsigned>((*m->indices)[3 * f + k]);
        }
        scene->mMeshes[i] = mesh;
        auto* node = new aiNode("Part " + std::to_string(i));
        node->mTransformation.a4 = static_cast<float>(i * 300.0);
        node->mNumMeshes = 1;
        node->mMeshes = new unsigned[1]{static_cast<unsigned>(i)};
        node->mParent = scene->mRootNode;
        scene->mRootNode->mChildren[i] = node;
    }
    return scene;
}

void BM_AssimpObjExport(benchmark::State& state) {
    const std::unique_ptr<aiScene> scene = assimpScene();
    const std::string path = outputPath("export_bench.obj");
    Assimp::Exporter exporter;
    for (auto _ : state)
        if (exporter.Export(scene.get(), "obj", path) != AI_SUCCESS)
            state.SkipWithError(exporter.GetErrorString());
}

BENCHMARK_CAPTURE(BM_ExportFlow, mesh_heavy, std::string("mesh_heavy"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(BM_ExportFlow, many_parts, std::string("many_parts"))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_AssimpObjExport)->Unit(benchmark::kMillisecond)->MinTime(2);

// The console output, and then the ratios of the designs' median (or only) bytes per second,
// by CPU time (the library's bytes_per_second) and by wall time: on a shared machine the two
// differ widely.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal (a reporter of our own does not see --benchmark_color).
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("bytes_per_second");
            const auto file = run.counters.find("file_MB");
            if (rate == run.counters.end() || file == run.counters.end()) continue;
            const double seconds =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const char* design : {"mesh_heavy", "many_parts"})
                if (run.run_name.str().find(design) != std::string::npos) {
                    cpuRates_[design] = rate->second;
                    wallRates_[design] = seconds > 0 ? file->second * 1e6 / seconds : 0;
                }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (auto* rates : {&cpuRates_, &wallRates_})
            if (rates->size() == 2 && (*rates)["mesh_heavy"] > 0)
                std::printf(
                    "bytes/s by %s time: many_parts %.1f MB/s, mesh_heavy %.1f MB/s, ratio %.3f\n",
                    rates == &cpuRates_ ? "CPU" : "wall", (*rates)["many_parts"] / 1e6,
                    (*rates)["mesh_heavy"] / 1e6, (*rates)["many_parts"] / (*rates)["mesh_heavy"]);
    }

  private:
    std::map<std::string, double> cpuRates_, wallRates_;
};

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--peak") == 0)
        return peakChild(argv[2], argc == 4 ? argv[3] : nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
