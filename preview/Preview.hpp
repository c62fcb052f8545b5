// A quick look at a scene: a z-buffered software rasteriser of a scene tree's triangle meshes,
// seen through the scene's camera or a default view, written as PNG. docs/preview.md.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/SceneTree.hpp"

namespace vex::preview {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBackground{236, 238, 242};
inline constexpr int kMaxSide = 8192;

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows from the top, three bytes per pixel
    Rgb at(int x, int y) const {
        const size_t i = 3 * (static_cast<size_t>(y) * width + x);
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// What was drawn and what was left out, and why.
struct Counts {
    uint64_t objects = 0;              // objects with a drawable mesh
    uint64_t triangles = 0;            // triangles handed to the rasteriser
    uint64_t errorStatements = 0;      // #error statements in the scene
    uint64_t invalidMeshes = 0;        // geometries without usable vertices or triangles
    uint64_t unresolvedInstances = 0;  // instances whose id names no object definition
    uint64_t badTriangles = 0;         // degenerate, non-finite or with indices out of range
    uint64_t unreadableTextures = 0;   // texture files that could not be read (each file once)
    uint64_t badCameras = 0;           // scene cameras that cannot be used (default view taken)
    bool sceneCamera = false;          // the picture is taken from the scene's camera
};

struct Options {
    int width = 1024, height = 768;  // 1..kMaxSide each
    std::string textureFolder;       // where relative texture paths start; empty: as given
};

// Content to draw inside a group after its own children; the stand-in renderer keeps the
// bodies of its components apart from the groups. Called for each group in document order.
using GroupContent = std::function<const std::vector<Block>*(const Block& group)>;

struct Picture {
    Image image;
    Counts counts;
};

// Renders the document. Never throws for what the scene holds; only for bad options
// (std::invalid_argument) and memory exhaustion.
Picture render(const Document& scene, const Options& options = {},
               const GroupContent& content = {});

// One line for people: "42 objects, 1000 triangles; left out: 1 error statement, ...".
std::string describe(const Counts& counts);

// Image files. PNG through libpng. encodePng/writePng throw std::runtime_error on failure; readPng
// throws std::runtime_error for a file that cannot be read or decoded, or that is larger than
// kMaxSide on a side.
std::string encodePng(const Image& image);
void writePng(const Image& image, const std::string& path);
Image readPng(const std::string& path);
// JPEG through libjpeg, with the same limits; corrupt data that libjpeg only warns about is
// refused as well.
Image readJpeg(const std::string& path);
// A PNG or JPEG file, told apart by its first bytes.
Image readImage(const std::string& path);

}  // namespace vex::preview
