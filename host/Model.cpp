#include "Model.hpp"

#include <cmath>
#include <set>

namespace host {

Measures measure(const ComponentModel& component) {
    Measures m;
    for (const BodyModel& body : component.bodies)
        for (const FaceModel& face : body.faces)
            for (const MeshRef& mesh : face.meshes) {
                if (!mesh || !mesh->coordinates || !mesh->indices) continue;
                const auto& p = *mesh->coordinates;
                const auto& ix = *mesh->indices;
                std::size_t nodes = p.size() / 3;
                for (std::size_t t = 0; t + 2 < ix.size(); t += 3) {
                    int a = ix[t], b = ix[t + 1], c = ix[t + 2];
                    if (a < 0 || b < 0 || c < 0 || std::size_t(a) >= nodes ||
                        std::size_t(b) >= nodes || std::size_t(c) >= nodes)
                        continue;  // meshes loaded unchecked may hold such indices
                    double ax = p[3 * a], ay = p[3 * a + 1], az = p[3 * a + 2];
                    double ux = p[3 * b] - ax, uy = p[3 * b + 1] - ay, uz = p[3 * b + 2] - az;
                    double vx = p[3 * c] - ax, vy = p[3 * c + 1] - ay, vz = p[3 * c + 2] - az;
                    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
                    m.area += 0.5 * std::sqrt(nx * nx + ny * ny + nz * nz);
                    // Signed volume of the tetrahedron (origin, a, b, c).
                    m.volume += (ax * nx + ay * ny + az * nz) / 6.0;
                }
            }
    return m;
}

namespace {

void count(const ComponentModel& c, DesignTotals& t, std::set<const ComponentModel*>& seen) {
    seen.insert(&c);
    for (const BodyModel& body : c.bodies) {
        ++t.bodies;
        for (const FaceModel& face : body.faces)
            for (const MeshRef& mesh : face.meshes)
                if (mesh) t.triangles += mesh->triangleCount();
    }
    for (const OccurrenceModel& o : c.occurrences) {
        ++t.occurrences;
        if (o.component) count(*o.component, t, seen);
    }
}

}  // namespace

DesignTotals totals(const DocumentModel& document) {
    DesignTotals t;
    std::set<const ComponentModel*> seen;
    for (const ProductModel& p : document.products)
        if (p.isDesign && p.root) count(*p.root, t, seen);
    t.components = seen.size();
    return t;
}

std::optional<double> centimetresPerUnit(const std::string& unit) {
    if (unit == "mm") return 0.1;
    if (unit == "cm") return 1.0;
    if (unit == "m") return 100.0;
    if (unit == "in") return 2.54;
    if (unit == "ft") return 30.48;
    return std::nullopt;
}

}  // namespace host
