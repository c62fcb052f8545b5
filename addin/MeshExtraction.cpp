// Host display mesh -> triangle mesh node: one copy of each host array, scaled in place.
#include <exception>

#include "addin/FusionSceneExporter.hpp"

std::shared_ptr<vex::TriangleObject> FusionSceneExporter::convertMesh(
    adsk::core::Ptr<adsk::fusion::TriangleMesh>& mesh) {
    auto object = std::make_shared<vex::TriangleObject>("");
    if (!mesh) throw std::exception();
    std::vector<float> coordinates = mesh->nodeCoordinatesAsFloat();
    std::vector<float> normals = mesh->normalVectorsAsFloat();
    std::vector<float> uvs = mesh->textureCoordinatesAsFloat();
    const float scale = unitsPerCentimetre;
    for (float& c : coordinates) c *= scale;
    const size_t coordinateCount = coordinates.size();
    object->setVertices(std::move(coordinates));
    // Normals and texture coordinates are per node; anything else would not line up.
    if (normals.size() == coordinateCount) object->setNormals(std::move(normals));
    if (uvs.size() == coordinateCount / 3 * 2) object->setUVs(std::move(uvs));
    object->setTriangles(mesh->nodeIndices());
    mesh = nullptr;
    return object;
}
