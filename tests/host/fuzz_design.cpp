// libFuzzer target: any text is a design or a DesignError, and a design that loads holds only
// finite values within the float range of the scene, meshes whose checked indices are in range,
// and occurrences that end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "DesignLoader.hpp"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void checkNumbers(const std::vector<float>& values) {
    for (float v : values) require(std::isfinite(v));
}

void checkComponents(const host::ComponentModel& root) {
    std::set<const host::ComponentModel*> seen;
    std::vector<std::pair<const host::ComponentModel*, int>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [c, level] = pending.back();
        pending.pop_back();
        require(level <= host::kMaxNesting);
        if (!seen.insert(c).second) continue;
        for (const auto& o : c->occurrences) {
            require(o.component != nullptr);
            for (double v : o.cells) require(std::fabs(v) <= host::kMaxLength);
            pending.emplace_back(o.component.get(), level + 1);
        }
        for (const auto& b : c->bodies)
            for (const auto& f : b.faces)
                for (const auto& m : f.meshes) {
                    require(m != nullptr);
                    for (const auto* a : {&m->coordinates, &m->normals, &m->uvs})
                        if (*a) checkNumbers(**a);
                }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    host::DocumentRef doc;
    try {
        doc = host::parseJsonDesign(text, "fuzz.json");
    } catch (const host::DesignError& e) {
        require(std::string(e.what()).rfind("fuzz.json", 0) == 0);
        return 0;
    }
    const auto& cam = doc->camera;
    for (double v : {cam.eye[0], cam.eye[1], cam.eye[2], cam.target[0], cam.target[1],
                     cam.target[2], cam.up[0], cam.up[1], cam.up[2], cam.angleRadians})
        require(std::fabs(v) <= std::numeric_limits<float>::max());
    for (const auto& p : doc->products)
        if (p.isDesign) {
            require(p.root != nullptr);
            checkComponents(*p.root);
        }
    host::totals(*doc);
    return 0;
}
