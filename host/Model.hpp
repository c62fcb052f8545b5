// The stand-in host's in-memory document: plain data that the API objects of the Api*.cpp files
// present to the add-in. Lengths are centimetres, as the host interface gives them.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct TextureModel;

struct PropertyModel {
    enum class Kind { Color, Filename, Float };
    Kind kind = Kind::Float;
    std::string id;
    std::string name;
    // Colour: value present or not, components 0 to 255, and an optional connected texture.
    bool hasColor = false;
    std::array<short, 4> rgba{255, 255, 255, 255};
    std::shared_ptr<TextureModel> texture;
    // File name property.
    std::string file;
    // Number property.
    double number = 0.0;
};

struct TextureModel {
    std::vector<PropertyModel> properties;
};

struct AppearanceModel {
    std::string id;
    std::string name;
    std::vector<PropertyModel> properties;
};
using AppearanceRef = std::shared_ptr<AppearanceModel>;

// An absent array is handed to the add-in as a null pointer.
struct MeshModel {
    std::optional<std::vector<float>> coordinates;
    std::optional<std::vector<float>> normals;
    std::optional<std::vector<float>> uvs;
    std::optional<std::vector<int>> indices;

    std::size_t triangleCount() const { return indices ? indices->size() / 3 : 0; }
};
using MeshRef = std::shared_ptr<MeshModel>;

struct FaceModel {
    AppearanceRef appearance;  // null: the body's
    std::vector<MeshRef> meshes;
};

struct BodyModel {
    std::string name;
    bool visible = true;
    AppearanceRef appearance;  // null: inherited
    std::vector<FaceModel> faces;
};

struct ComponentModel;

// Row-major 4x4 placement: cells[4 * row + column]; translation in column 3, centimetres.
using Cells = std::array<double, 16>;
constexpr Cells kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct OccurrenceModel {
    std::shared_ptr<ComponentModel> component;
    bool visible = true;
    AppearanceRef appearance;  // override, null when none
    Cells cells = kIdentity;
};

struct ComponentModel {
    std::string name;
    std::vector<OccurrenceModel> occurrences;
    std::vector<BodyModel> bodies;
};
using ComponentRef = std::shared_ptr<ComponentModel>;

struct ProductModel {
    bool isDesign = true;
    std::string name;
    std::string unit = "cm";  // default length unit of a design
    ComponentRef root;        // designs only
};

struct CameraModel {
    int type = 1;  // adsk::core::CameraTypes
    std::array<double, 3> eye{0, 0, 100};
    std::array<double, 3> target{0, 0, 0};
    std::array<double, 3> up{0, 1, 0};
    double angleRadians = 0.7853981633974483;  // 45 degrees
};

struct DocumentModel {
    std::string name;
    std::vector<ProductModel> products;
    std::vector<AppearanceRef> appearances;
    CameraModel camera;
    int upAxis = 0;  // adsk::core::DefaultModelingOrientations
};
using DocumentRef = std::shared_ptr<DocumentModel>;

// Measures of a component's own bodies: total area (cm^2) and signed enclosed volume (cm^3).
struct Measures {
    double area = 0.0;
    double volume = 0.0;
};
Measures measure(const ComponentModel& component);

// Totals over everything a design shows (each occurrence counted), for summaries and tests.
struct DesignTotals {
    std::size_t components = 0;   // distinct components
    std::size_t occurrences = 0;  // placements, nested ones included
    std::size_t bodies = 0;       // bodies over all placements
    std::size_t triangles = 0;    // triangles over all placements
};
DesignTotals totals(const DocumentModel& document);

// The cm per unit of "mm", "cm", "m", "in", "ft"; nullopt for any other text.
std::optional<double> centimetresPerUnit(const std::string& unit);

}  // namespace host
