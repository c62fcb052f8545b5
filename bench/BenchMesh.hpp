// The mesh the scene file benchmarks write and read: 1,000,000 vertices on a noisy grid and
// 2,000,000 triangles, and the wrapper calls that write it as one geometry block.
#pragma once

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "sceneapi/LightFileFactory.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex::bench {

struct Mesh {
    std::vector<vexSceneapi_oo::Float3> vertices;
    std::vector<int> triangles;
};

inline const Mesh& mesh() {
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

// A file in $TMPDIR (or /tmp).
inline std::string outputPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

// Writes the mesh through the wrapper as a scene file, text or binary arrays.
inline void writeMesh(const std::string& path, bool binary) {
    LightFileFactory target(path);
    {
        vexSceneapi_oo out(target);
        out.api()->set_mode(binary ? 3 : 1);
        out.api()->begin_geometry("triangle_mesh");
        out.set_float3_array("vertices", mesh().vertices);
        out.set_int_array("triangles", mesh().triangles);
        out.api()->end_geometry();
    }
    target.close();
}

}  // namespace vex::bench
