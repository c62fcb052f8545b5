// Host display mesh -> triangle mesh node. The node keeps the host's mesh and copies its arrays
// only while it is written: the whole scene graph is built before it is written, so nodes that
// held their copies from the walk on would keep a second copy of every mesh of the design in
// memory at once. Each array is copied once, handed back, scaled in place and dropped as soon as
// the node has been written.
#include <exception>
#include <utility>

#include "addin/FusionSceneExporter.hpp"

namespace {

class HostMeshObject final : public vex::TriangleObject {
  public:
    HostMeshObject(adsk::core::Ptr<adsk::fusion::TriangleMesh> mesh, float scale)
        : vex::TriangleObject(""), mesh_(std::move(mesh)), scale_(scale) {}

    void emit(vex::vexSceneapi_oo& out) override {
        Release release{*this};
        load();
        vex::TriangleObject::emit(out);
    }
    // Drops the arrays itself once the definition is written; later emits write an instance.
    void define(vex::vexSceneapi_oo& out) override {
        Release release{*this};
        load();
        vex::TriangleObject::define(out);
        mesh_ = nullptr;
    }

  private:
    // Releases the copies also when copying or writing throws.
    struct Release {
        HostMeshObject& object;
        ~Release() { object.unload(); }
    };

    void load() {
        if (!mesh_) return;  // defined: nothing more to copy
        std::vector<float> coordinates = mesh_->nodeCoordinatesAsFloat();
        std::vector<float> normals = mesh_->normalVectorsAsFloat();
        std::vector<float> uvs = mesh_->textureCoordinatesAsFloat();
        for (float& c : coordinates) c *= scale_;
        const size_t coordinateCount = coordinates.size();
        setVertices(std::move(coordinates));
        // Normals and texture coordinates are per node; anything else would not line up.
        if (normals.size() == coordinateCount) setNormals(std::move(normals));
        if (uvs.size() == coordinateCount / 3 * 2) setUVs(std::move(uvs));
        setTriangles(mesh_->nodeIndices());
    }
    void unload() {
        setVertices(std::vector<float>());
        setNormals(std::vector<float>());
        setUVs(std::vector<float>());
        setTriangles(std::vector<int32_t>());
    }

    adsk::core::Ptr<adsk::fusion::TriangleMesh> mesh_;
    float scale_;
};

}  // namespace

std::shared_ptr<vex::TriangleObject> FusionSceneExporter::convertMesh(
    adsk::core::Ptr<adsk::fusion::TriangleMesh>& mesh) {
    if (!mesh) throw std::exception();
    return std::make_shared<HostMeshObject>(std::exchange(mesh, nullptr), unitsPerCentimetre);
}
