// An indexed triangle mesh with optional texture coordinates, normals and vertex colours.
// It checks its arrays before writing and can be written in full or, once defined, as an
// instance of its definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "scene/LightGeometry.hpp"

namespace vex {

class TriangleObject : public LightGeometry {
  public:
    // Takes the name; the material is a new Diffuse named "default".
    explicit TriangleObject(std::string name);
    // With its material from the start (no default material made only to be replaced).
    TriangleObject(std::string name, std::shared_ptr<Material> material);
    ~TriangleObject() override;

    // A plain object with geometry and material, followed by the error statement of the
    // validation when it found anything. A mesh without triangles yields only the error.
    void emit(vexSceneapi_oo& out) override;
    // Writes the full geometry as a numbered definition (no material), then drops the
    // arrays: later emits write an instance of the definition.
    void define(vexSceneapi_oo& out) override;
    size_t byteSize() const override;

    // Each replaces the whole array with a copy of `count` elements; a null pointer gives
    // an empty array. Counts are elements (floats or ints), not vertices or triangles.
    void setVertices(const float* data, size_t count);
    void setTriangles(const int32_t* data, size_t count);
    void setUVs(const float* data, size_t count);
    void setNormals(const float* data, size_t count);
    void setUVIndices(const int32_t* data, size_t count);
    void setNormalIndices(const int32_t* data, size_t count);
    void setVertexColors(const float* data, size_t count);
    // Take the array over without copying it.
    void setVertices(std::vector<float>&& values) { vertices_ = std::move(values); }
    void setTriangles(std::vector<int32_t>&& values) { triangles_ = std::move(values); }
    void setUVs(std::vector<float>&& values) { uvs_ = std::move(values); }
    void setNormals(std::vector<float>&& values) { normals_ = std::move(values); }
    void setUVIndices(std::vector<int32_t>&& values) { uvIndices_ = std::move(values); }
    void setNormalIndices(std::vector<int32_t>&& values) { normalIndices_ = std::move(values); }
    void setVertexColors(std::vector<float>&& values) { vertexColors_ = std::move(values); }

    // Stores the messages of every inconsistency found; true when the mesh is writable,
    // that is when it has triangles (or is defined, which skips the checks).
    bool validate();
    // The geometry block: "instance" with the definition's id once defined, else the arrays.
    void writeGeometry(vexSceneapi_oo& out);

    const std::string& validationMessage() const { return validationMessage_; }
    uint32_t flags() const { return flags_; }

  private:
    // The wrapper's int arrays are std::vector<int>; the meshes hand theirs over as they are.
    static_assert(std::is_same_v<int32_t, int>);

    std::vector<float> vertices_;
    std::vector<int32_t> triangles_;
    std::vector<float> uvs_;
    std::vector<int32_t> uvIndices_;
    std::vector<float> normals_;
    std::vector<int32_t> normalIndices_;
    std::vector<float> vertexColors_;
    uint32_t flags_ = 0;
    std::string validationMessage_;
};

}  // namespace vex
