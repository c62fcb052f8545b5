// The export command through the whole flow (host walk, mesh extraction, scene graph, scene
// file) against assimp's OBJ exporter writing the same meshes, on the design of BenchDesign.hpp.
//
// BM_ExportFlow reports the design's mesh bytes (every float of the node coordinates, normals
// and texture coordinates and every index int the host model holds, 4 bytes each) and the
// process's peak resident set size. The peak is the whole process's, so for the export's own
// figure run the flow alone: export_bench --benchmark_filter=BM_ExportFlow
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <assimp/Exporter.hpp>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "BenchDesign.hpp"
#include "Session.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

using namespace benchdesign;

double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return 1024.0 * static_cast<double>(usage.ru_maxrss);  // kilobytes on Linux
}

std::string outputPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

void BM_ExportFlow(benchmark::State& state) {
    // One design per process, as a host holds one open document. The benchmark library calls
    // this function more than once, and a design made per call would be built while the add-in
    // still holds the previous call's (its application reference outlives stop), doubling the
    // host's share of the peak.
    static const host::DocumentRef document = design();
    host::Session session;
    session.install();
    session.openDocument(document);
    if (!run("")) state.SkipWithError("run failed");
    const std::string path = outputPath("export_bench.rmq");
    for (auto _ : state) {
        session.answerSaveDialog(path);
        const host::ClickReport report = session.click("rayMint11ExportCommandOnPanelCPP");
        if (!report.exceptions.empty()) state.SkipWithError(report.exceptions.front().c_str());
    }
    stop("");
    session.uninstall();
    const double bytes = meshBytes(*document);
    state.counters["mesh_MB"] = bytes / 1e6;
    state.counters["peak_rss_MB"] = peakResidentBytes() / 1e6;
    state.counters["peak_per_mesh_byte"] = peakResidentBytes() / bytes;
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

BENCHMARK(BM_ExportFlow)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_AssimpObjExport)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
