// Designs for the stand-in host: the project's JSON design file and model files that assimp
// imports. Both give a DocumentModel or throw DesignError naming the file and the place.
#pragma once

#include <cfloat>
#include <optional>
#include <stdexcept>
#include <string>

#include "Model.hpp"

namespace host {

class DesignError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Limits on what a design may hold. Deeper nesting (of the file or of occurrences) is refused
// so that every reader and walk of a design stays within a small stack.
constexpr int kMaxNesting = 1000;
// Lengths are centimetres here and floats in the scene, in units down to millimetres: a
// length must stay a finite float when multiplied by 10.
constexpr double kMaxLength = FLT_MAX / 10;
// Occurrences of a component counted over every placement (a component placed twice counts its
// own occurrences twice): beyond this a walk of the design would not end in useful time.
constexpr double kMaxPlacements = 1e6;

struct LoadOptions {
    // Default length unit for imported models and, when set, for every design of a JSON file
    // ("mm", "cm", "m", "in", "ft"). Imported models default to "cm".
    std::optional<std::string> unit;
};

// The JSON design format of docs/design-format.md.
DocumentRef loadJsonDesign(const std::string& path, const LoadOptions& options = {});
// The same from the text of such a file; `file` names it in messages and anchors relative
// texture file names.
DocumentRef parseJsonDesign(const std::string& text, const std::string& file,
                            const LoadOptions& options = {});
// Any model file assimp imports.
DocumentRef importModel(const std::string& path, const LoadOptions& options = {});
// By extension: ".json" (any case) is the JSON format, anything else goes to assimp.
DocumentRef loadDesign(const std::string& path, const LoadOptions& options = {});

}  // namespace host
