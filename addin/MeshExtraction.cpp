// Host display mesh -> triangle mesh node. Each host array is fetched once, copied into the node's
// own array and handed straight back (also when the copy fails), and the host mesh is released
// before the conversion returns: the scene graph holds no host reference and no host array.
#include <exception>
#include <utility>
#include <vector>

#include "addin/FusionSceneExporter.hpp"

std::shared_ptr<vex::TriangleObject> FusionSceneExporter::convertMesh(
    adsk::core::Ptr<adsk::fusion::TriangleMesh>& mesh, const std::string& name,
    std::shared_ptr<vex::Material> material) {
    auto object = std::make_shared<vex::TriangleObject>(name, std::move(material));
    if (!mesh) throw std::exception();
    // The caller gives its reference up, whatever happens below.
    const adsk::core::Ptr<adsk::fusion::TriangleMesh> held = std::exchange(mesh, nullptr);

    std::vector<float> coordinates = held->nodeCoordinatesAsFloat();
    std::vector<float> normals = held->normalVectorsAsFloat();
    std::vector<float> uvs = held->textureCoordinatesAsFloat();
    for (float& c : coordinates) c *= unitsPerCentimetre;  // host centimetres -> design unit
    const size_t coordinateCount = coordinates.size();
    object->setVertices(std::move(coordinates));
    // Normals and texture coordinates are per node; anything else would not line up.
    if (normals.size() == coordinateCount) object->setNormals(std::move(normals));
    if (uvs.size() == coordinateCount / 3 * 2) object->setUVs(std::move(uvs));
    object->setTriangles(held->nodeIndices());
    return object;
}
