#include "scene/Material.hpp"

#include <utility>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

Material::Material(std::string name, std::string shaderType)
    : name_(std::move(name)), shaderType_(std::move(shaderType)) {}

Material::~Material() = default;

void Material::emit(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    if (isDefined()) {
        api.use_material(name_.c_str());
        return;
    }
    api.begin_material(name_.c_str(), true);
    writeShaders(out);
    api.end_material();
}

void Material::define(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    api.begin_material(name_.c_str(), false);
    writeShaders(out);
    api.end_material();
    defined_ = true;
}

}  // namespace vex
