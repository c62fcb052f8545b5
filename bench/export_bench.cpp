// The export command through the whole flow (host walk, mesh extraction, scene graph, scene
// file) against assimp's OBJ exporter writing the same meshes.
// Design: 200 components x 10,000 triangles, each placed once under the root.
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <assimp/Exporter.hpp>

#include <cstdlib>
#include <memory>
#include <string>

#include "Model.hpp"
#include "Session.hpp"

extern "C" bool run(const char* context);
extern "C" bool stop(const char* context);

namespace {

constexpr int kComponents = 200;
constexpr int kGrid = 71;  // 70 x 70 quads = 9,800 triangles, plus a strip to reach 10,000

// A wavy grid of 10,000 triangles with normals and texture coordinates.
host::MeshRef gridMesh(int seed) {
    auto mesh = std::make_shared<host::MeshModel>();
    std::vector<float> xyz, normals, uvs;
    std::vector<int> indices;
    const int columns = kGrid + 1;  // 72 x 71 nodes give 71 x 70 quads = 9,940; trimmed below
    for (int r = 0; r < kGrid; ++r)
        for (int c = 0; c < columns; ++c) {
            const float x = c * 0.37f, y = r * 0.41f;
            xyz.insert(xyz.end(), {x, y, 0.3f * static_cast<float>((r * 7 + c * 3 + seed) % 11)});
            normals.insert(normals.end(), {0.f, 0.f, 1.f});
            uvs.insert(uvs.end(), {c / float(columns - 1), r / float(kGrid - 1)});
        }
    for (int r = 0; r + 1 < kGrid && indices.size() < 30000; ++r)
        for (int c = 0; c + 1 < columns && indices.size() < 30000; ++c) {
            const int a = r * columns + c, b = a + 1, d = a + columns, e = d + 1;
            indices.insert(indices.end(), {a, b, e});
            if (indices.size() < 30000) indices.insert(indices.end(), {a, e, d});
        }
    mesh->coordinates = std::move(xyz);
    mesh->normals = std::move(normals);
    mesh->uvs = std::move(uvs);
    mesh->indices = std::move(indices);
    return mesh;
}

host::DocumentRef design() {
    auto doc = std::make_shared<host::DocumentModel>();
    doc->name = "Bench Assembly v1";
    auto paint = std::make_shared<host::AppearanceModel>();
    paint->id = "paint";
    paint->name = "Paint";
    host::PropertyModel color;
    color.kind = host::PropertyModel::Kind::Color;
    color.id = "generic_diffuse";
    color.hasColor = true;
    color.rgba = {200, 40, 40, 255};
    paint->properties.push_back(color);
    doc->appearances.push_back(paint);
    auto root = std::make_shared<host::ComponentModel>();
    root->name = "Bench Assembly";
    for (int i = 0; i < kComponents; ++i) {
        auto part = std::make_shared<host::ComponentModel>();
        part->name = "Part " + std::to_string(i);
        host::BodyModel body;
        body.name = "Body";
        body.appearance = paint;
        body.faces.push_back(host::FaceModel{nullptr, {gridMesh(i)}});
        part->bodies.push_back(std::move(body));
        host::OccurrenceModel occurrence;
        occurrence.component = part;
        occurrence.cells[3] = i * 30.0;
        root->occurrences.push_back(std::move(occurrence));
    }
    host::ProductModel product;
    product.name = "Bench Assembly";
    product.unit = "mm";
    product.root = root;
    doc->products.push_back(std::move(product));
    return doc;
}

std::string outputPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

void BM_ExportFlow(benchmark::State& state) {
    host::Session session;
    session.install();
    session.openDocument(design());
    if (!run("")) state.SkipWithError("run failed");
    const std::string path = outputPath("export_bench.rmq");
    for (auto _ : state) {
        session.answerSaveDialog(path);
        const host::ClickReport report = session.click("rayMint11ExportCommandOnPanelCPP");
        if (!report.exceptions.empty()) state.SkipWithError(report.exceptions.front().c_str());
    }
    stop("");
    session.uninstall();
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
