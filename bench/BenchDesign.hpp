// The generated design of the export and live-link benchmarks: 200 components x 10,000
// triangles, each placed once under the root, every mesh with normals and texture coordinates.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Model.hpp"

namespace benchdesign {

constexpr int kComponents = 200;
constexpr int kRows = 50;      // quads per column
constexpr int kColumns = 100;  // quads per row: 50 x 100 quads = 10,000 triangles

// A wavy grid of 10,000 triangles with normals and texture coordinates.
inline host::MeshRef gridMesh(int seed) {
    auto mesh = std::make_shared<host::MeshModel>();
    std::vector<float> xyz, normals, uvs;
    std::vector<int> indices;
    const int columns = kColumns + 1;  // nodes per row
    const size_t nodes = static_cast<size_t>(kRows + 1) * columns;
    // Exact sizes: grown vectors would leave the host model holding up to twice the mesh
    // bytes, which the export's memory figure would then wrongly include.
    xyz.reserve(3 * nodes);
    normals.reserve(3 * nodes);
    uvs.reserve(2 * nodes);
    indices.reserve(6 * kRows * kColumns);
    for (int r = 0; r <= kRows; ++r)
        for (int c = 0; c < columns; ++c) {
            const float x = c * 0.37f, y = r * 0.41f;
            xyz.insert(xyz.end(), {x, y, 0.3f * static_cast<float>((r * 7 + c * 3 + seed) % 11)});
            normals.insert(normals.end(), {0.f, 0.f, 1.f});
            uvs.insert(uvs.end(), {c / float(kColumns), r / float(kRows)});
        }
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            const int a = r * columns + c, b = a + 1, d = a + columns, e = d + 1;
            indices.insert(indices.end(), {a, b, e, a, e, d});
        }
    mesh->coordinates = std::move(xyz);
    mesh->normals = std::move(normals);
    mesh->uvs = std::move(uvs);
    mesh->indices = std::move(indices);
    return mesh;
}

inline host::DocumentRef design() {
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

// Bytes of the mesh arrays the host model holds, each mesh counted once.
inline double meshBytes(const host::DocumentModel& document) {
    std::set<const host::MeshModel*> seen;
    double bytes = 0;
    auto count = [&](const host::ComponentModel& component, auto& self) -> void {
        for (const host::BodyModel& body : component.bodies)
            for (const host::FaceModel& face : body.faces)
                for (const host::MeshRef& mesh : face.meshes) {
                    if (!mesh || !seen.insert(mesh.get()).second) continue;
                    for (const auto* floats : {&mesh->coordinates, &mesh->normals, &mesh->uvs})
                        if (*floats) bytes += 4.0 * (*floats)->size();
                    if (mesh->indices) bytes += 4.0 * mesh->indices->size();
                }
        for (const host::OccurrenceModel& occurrence : component.occurrences)
            if (occurrence.component) self(*occurrence.component, self);
    };
    for (const host::ProductModel& product : document.products)
        if (product.root) count(*product.root, count);
    return bytes;
}

}  // namespace benchdesign
