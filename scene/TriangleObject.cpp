#include "scene/TriangleObject.hpp"

#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include "scene/Diffuse.hpp"
#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

namespace {

template <class T>
void assign(std::vector<T>& array, const T* data, size_t count) {
    if (data == nullptr)
        array.clear();
    else
        array.assign(data, data + count);
}

// The wrapper's triple setter wants std::array elements; the flat floats have the same
// layout, so the descriptor is built here to hand them over without a copy.
void setFloat3Array(vexSceneapi_oo& out, const char* name, const std::vector<float>& values) {
    const size_t triples = values.size() / 3;
    if (triples > std::numeric_limits<uint32_t>::max())
        throw std::length_error(std::string("array too large for the scene interface: ") + name);
    const SceneArray array{values.data(), static_cast<uint32_t>(triples)};
    out.api()->set_value(name, kFloat3Array, &array);
}

}  // namespace

TriangleObject::TriangleObject(std::string name)
    : LightGeometry(std::move(name), std::make_shared<Diffuse>("default")) {}

TriangleObject::TriangleObject(std::string name, std::shared_ptr<Material> material)
    : LightGeometry(std::move(name), std::move(material)) {}

TriangleObject::~TriangleObject() = default;

void TriangleObject::setVertices(const float* data, size_t count) {
    assign(vertices_, data, count);
}
void TriangleObject::setTriangles(const int32_t* data, size_t count) {
    assign(triangles_, data, count);
}
void TriangleObject::setUVs(const float* data, size_t count) {
    assign(uvs_, data, count);
}
void TriangleObject::setNormals(const float* data, size_t count) {
    assign(normals_, data, count);
}
void TriangleObject::setUVIndices(const int32_t* data, size_t count) {
    assign(uvIndices_, data, count);
}
void TriangleObject::setNormalIndices(const int32_t* data, size_t count) {
    assign(normalIndices_, data, count);
}
void TriangleObject::setVertexColors(const float* data, size_t count) {
    assign(vertexColors_, data, count);
}

size_t TriangleObject::byteSize() const {
    return 4 * (vertices_.size() + triangles_.size() + uvs_.size() + uvIndices_.size() +
                normals_.size() + normalIndices_.size() + vertexColors_.size());
}

bool TriangleObject::validate() {
    if (isDefined()) return true;
    std::string message;
    if (!normals_.empty() && !normalIndices_.empty() && normalIndices_.size() != triangles_.size())
        message += "Normals count does not match number of triangles " +
                   std::to_string(normalIndices_.size()) + " vs " +
                   std::to_string(triangles_.size());
    if (!normals_.empty() && normalIndices_.empty() && normals_.size() != vertices_.size())
        message += "Number of normals does not equal number of vertices";
    if (normals_.empty() && !normalIndices_.empty()) message += "No normals defined for index";
    if (!uvs_.empty() && !uvIndices_.empty() && triangles_.size() != uvIndices_.size())
        message += "UV index count does not match triangle count";
    if (!uvs_.empty() && uvIndices_.empty() && 2 * vertices_.size() != 3 * uvs_.size())
        message += "Number of uvs(" + std::to_string(uvs_.size()) +
                   ")  does not match vertex count(" + std::to_string(vertices_.size()) + ")";
    if (uvs_.empty() && !uvIndices_.empty()) message += "No uvs defined for index";
    if (!vertexColors_.empty() && vertexColors_.size() != vertices_.size())
        message += "VetexColor count does not match number of vertices";
    if (triangles_.empty()) message += "No triangles defined";
    validationMessage_ = std::move(message);
    return !triangles_.empty();
}

void TriangleObject::emit(vexSceneapi_oo& out) {
    if (validate()) {
        vexScene_api& api = *out.api();
        api.begin_object(name().c_str(), true);
        api.flags(flags_);
        writeGeometry(out);
        // A null material would be a caller's mistake; the renderer's default then applies
        // rather than a crash in the middle of the output.
        if (const auto material = getMaterial()) material->emit(out);
        api.end_object();
    }
    if (!validationMessage_.empty()) out.error(validationMessage_);
}

void TriangleObject::define(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    api.begin_object(name().c_str(), false);
    const int id = out.next_id();
    api.flags(flags_);
    writeGeometry(out);
    api.end_object();
    // Written once; the definition now carries the data, so the memory goes back.
    for (auto* floats : {&vertices_, &uvs_, &normals_, &vertexColors_})
        std::vector<float>().swap(*floats);
    for (auto* ints : {&triangles_, &uvIndices_, &normalIndices_})
        std::vector<int32_t>().swap(*ints);
    markDefined(id);
}

void TriangleObject::writeGeometry(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    if (isDefined()) {
        api.begin_geometry("instance");
        out.set_int("id", definitionId());
    } else {
        api.begin_geometry("triangles");
        setFloat3Array(out, "vertices", vertices_);
        out.set_int_array("triangles", triangles_);
        if (!uvIndices_.empty()) out.set_int_array("triangles_uv", uvIndices_);
        if (!uvs_.empty()) out.set_float_array("uv_tex", uvs_);
        if (!normalIndices_.empty()) out.set_int_array("triangles_norm", normalIndices_);
        if (!normals_.empty()) setFloat3Array(out, "normals", normals_);
        if (!vertexColors_.empty()) setFloat3Array(out, "vcolors", vertexColors_);
    }
    api.end_geometry();
}

}  // namespace vex
