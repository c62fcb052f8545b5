// The generated designs of the export and live-link benchmarks, built by one generator:
// - meshHeavyDesign(): 200 components x 10,000 triangles, each placed once under the root,
//   every mesh with normals and texture coordinates;
// - manyPartsDesign(): 100 sub-assemblies placed under the root, each a plate (one body of six
//   faces) and 200 placements of its bolt component (one body of six faces, 72 triangles):
//   20,100 occurrences, 120,600 mesh objects, about 1.46 M triangles.
#pragma once

#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Model.hpp"

namespace benchdesign {

constexpr int kComponents = 200;
constexpr int kRows = 50;      // quads per column
constexpr int kColumns = 100;  // quads per row: 50 x 100 quads = 10,000 triangles

constexpr int kSubAssemblies = 100;
constexpr int kBoltsPerPlate = 200;  // placed as a 10 x 20 pattern

using Vec3 = std::array<float, 3>;

// A grid of rows x columns quads spanned by u and v from origin, with normals, texture
// coordinates and a small wave (seeded) along the normal.
inline host::MeshRef patch(int rows, int columns, Vec3 origin, Vec3 u, Vec3 v, Vec3 normal,
                           float wave, int seed) {
    auto mesh = std::make_shared<host::MeshModel>();
    std::vector<float> xyz, normals, uvs;
    std::vector<int> indices;
    const int across = columns + 1;  // nodes per row
    const size_t nodes = static_cast<size_t>(rows + 1) * across;
    // Exact sizes: grown vectors would leave the host model holding up to twice the mesh
    // bytes, which the export's memory figure would then wrongly include.
    xyz.reserve(3 * nodes);
    normals.reserve(3 * nodes);
    uvs.reserve(2 * nodes);
    indices.reserve(6 * static_cast<size_t>(rows) * columns);
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c < across; ++c) {
            const float h = wave * static_cast<float>((r * 7 + c * 3 + seed) % 11);
            for (int k = 0; k < 3; ++k)
                xyz.push_back(origin[k] + static_cast<float>(c) * u[k] +
                              static_cast<float>(r) * v[k] + h * normal[k]);
            normals.insert(normals.end(), normal.begin(), normal.end());
            uvs.insert(uvs.end(), {c / float(columns), r / float(rows)});
        }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int a = r * across + c, b = a + 1, d = a + across, e = d + 1;
            indices.insert(indices.end(), {a, b, e, a, e, d});
        }
    mesh->coordinates = std::move(xyz);
    mesh->normals = std::move(normals);
    mesh->uvs = std::move(uvs);
    mesh->indices = std::move(indices);
    return mesh;
}

// A wavy grid of 10,000 triangles in the xy plane.
inline host::MeshRef gridMesh(int seed) {
    return patch(kRows, kColumns, {0, 0, 0}, {0.37f, 0, 0}, {0, 0.41f, 0}, {0, 0, 1}, 0.3f, seed);
}

// One body of six faces: the sides of a box of size s at origin o, each face a grid of
// rows x columns quads (2 x rows x columns triangles).
inline host::BodyModel boxBody(const std::string& name, Vec3 o, Vec3 s, int rows, int columns,
                               int seed) {
    host::BodyModel body;
    body.name = name;
    const float du = 1.0f / static_cast<float>(columns), dv = 1.0f / static_cast<float>(rows);
    const std::array<std::array<Vec3, 4>, 6> sides{{
        // origin, u, v, normal
        {{{o[0], o[1], o[2]}, {s[0] * du, 0, 0}, {0, s[1] * dv, 0}, {0, 0, -1}}},
        {{{o[0], o[1], o[2] + s[2]}, {s[0] * du, 0, 0}, {0, s[1] * dv, 0}, {0, 0, 1}}},
        {{{o[0], o[1], o[2]}, {s[0] * du, 0, 0}, {0, 0, s[2] * dv}, {0, -1, 0}}},
        {{{o[0], o[1] + s[1], o[2]}, {s[0] * du, 0, 0}, {0, 0, s[2] * dv}, {0, 1, 0}}},
        {{{o[0], o[1], o[2]}, {0, s[1] * du, 0}, {0, 0, s[2] * dv}, {-1, 0, 0}}},
        {{{o[0] + s[0], o[1], o[2]}, {0, s[1] * du, 0}, {0, 0, s[2] * dv}, {1, 0, 0}}},
    }};
    for (const auto& [origin, u, v, normal] : sides)
        body.faces.push_back(
            host::FaceModel{nullptr, {patch(rows, columns, origin, u, v, normal, 0.0f, seed)}});
    return body;
}

inline host::AppearanceRef colour(const std::string& id, const std::string& name,
                                  std::array<short, 4> rgba) {
    auto appearance = std::make_shared<host::AppearanceModel>();
    appearance->id = id;
    appearance->name = name;
    host::PropertyModel color;
    color.kind = host::PropertyModel::Kind::Color;
    color.id = "generic_diffuse";
    color.hasColor = true;
    color.rgba = rgba;
    appearance->properties.push_back(color);
    return appearance;
}

inline host::OccurrenceModel placed(host::ComponentRef component, double x, double y, double z) {
    host::OccurrenceModel occurrence;
    occurrence.component = std::move(component);
    occurrence.cells[3] = x;
    occurrence.cells[7] = y;
    occurrence.cells[11] = z;
    return occurrence;
}

// A document named "<name> v1" with one design product (unit mm) whose root is root.
inline host::DocumentRef document(const std::string& name, host::ComponentRef root,
                                  std::vector<host::AppearanceRef> appearances) {
    auto doc = std::make_shared<host::DocumentModel>();
    doc->name = name + " v1";
    doc->appearances = std::move(appearances);
    root->name = name;
    host::ProductModel product;
    product.name = name;
    product.unit = "mm";
    product.root = std::move(root);
    doc->products.push_back(std::move(product));
    return doc;
}

inline host::DocumentRef meshHeavyDesign() {
    const host::AppearanceRef paint = colour("paint", "Paint", {200, 40, 40, 255});
    auto root = std::make_shared<host::ComponentModel>();
    for (int i = 0; i < kComponents; ++i) {
        auto part = std::make_shared<host::ComponentModel>();
        part->name = "Part " + std::to_string(i);
        host::BodyModel body;
        body.name = "Body";
        body.appearance = paint;
        body.faces.push_back(host::FaceModel{nullptr, {gridMesh(i)}});
        part->bodies.push_back(std::move(body));
        root->occurrences.push_back(placed(part, i * 30.0, 0, 0));
    }
    return document("Bench Assembly", root, {paint});
}

// The mesh-heavy design, under its older name.
inline host::DocumentRef design() {
    return meshHeavyDesign();
}

inline host::DocumentRef manyPartsDesign(int subAssemblies = kSubAssemblies) {
    const host::AppearanceRef paint = colour("paint", "Paint", {200, 40, 40, 255});
    const host::AppearanceRef steel = colour("steel", "Steel", {160, 160, 170, 255});
    auto root = std::make_shared<host::ComponentModel>();
    for (int i = 0; i < subAssemblies; ++i) {
        auto bolt = std::make_shared<host::ComponentModel>();
        bolt->name = "Bolt M6x" + std::to_string(10 + i);
        bolt->bodies.push_back(boxBody("Bolt", {0, 0, 0}, {0.6f, 0.6f, 1.0f + 0.01f * i}, 2, 3, i));
        bolt->bodies.back().appearance = steel;
        auto plate = std::make_shared<host::ComponentModel>();
        plate->name = "Plate Assembly " + std::to_string(i);
        plate->bodies.push_back(boxBody("Plate", {0, 0, -1}, {30, 60, 1}, 4, 5, i));
        plate->bodies.back().appearance = paint;
        for (int b = 0; b < kBoltsPerPlate; ++b)
            plate->occurrences.push_back(
                placed(bolt, 1.0 + 3.0 * (b % 10), 1.0 + 3.0 * (b / 10), 0));
        root->occurrences.push_back(placed(plate, 40.0 * (i % 10), 70.0 * (i / 10), 0));
    }
    return document("Fastener Assembly", root, {paint, steel});
}

// Bytes of the mesh arrays the export handles: every float of the node coordinates, normals and
// texture coordinates and every index int, 4 bytes each, for every placement of each mesh
// (the scene holds one copy per placement). With perPlacement false, each mesh of the host
// model counts once.
inline double meshBytes(const host::DocumentModel& document, bool perPlacement = true) {
    std::set<const host::MeshModel*> seen;
    double bytes = 0;
    auto count = [&](const host::ComponentModel& component, auto& self) -> void {
        for (const host::BodyModel& body : component.bodies)
            for (const host::FaceModel& face : body.faces)
                for (const host::MeshRef& mesh : face.meshes) {
                    if (!mesh || (!seen.insert(mesh.get()).second && !perPlacement)) continue;
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
