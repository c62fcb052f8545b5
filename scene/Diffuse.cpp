#include "scene/Diffuse.hpp"

#include <cstdint>
#include <utility>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

namespace {
constexpr uint32_t kSurfaceShader = 0;
}

Diffuse::Diffuse(std::string name) : Material(std::move(name), "vex_diffuse") {}

Diffuse::~Diffuse() = default;

void Diffuse::writeShaders(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    // A null name captures the shader so that it can stand in the surface line.
    api.begin_shader(nullptr, shaderType().c_str());
    api.set_value("diffuse", kFloat3, color_.data());
    CaptureBuffer* shader = api.captured_text();
    api.end_shader();
    api.shader_text(kSurfaceShader, shader);
    api.flags(kMaterialFlags);
}

}  // namespace vex
