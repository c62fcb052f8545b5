// Designs for the stand-in host: the project's JSON design file and model files that assimp
// imports. Both give a DocumentModel or throw DesignError naming the file and the place.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "Model.hpp"

namespace host {

class DesignError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct LoadOptions {
    // Default length unit for imported models and, when set, for every design of a JSON file
    // ("mm", "cm", "m", "in", "ft"). Imported models default to "cm".
    std::optional<std::string> unit;
};

// The JSON design format of docs/design-format.md.
DocumentRef loadJsonDesign(const std::string& path, const LoadOptions& options = {});
// Any model file assimp imports.
DocumentRef importModel(const std::string& path, const LoadOptions& options = {});
// By extension: ".json" (any case) is the JSON format, anything else goes to assimp.
DocumentRef loadDesign(const std::string& path, const LoadOptions& options = {});

}  // namespace host
