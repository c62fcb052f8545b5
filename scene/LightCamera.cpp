#include "scene/LightCamera.hpp"

#include <utility>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

LightCamera::LightCamera(std::string name) : name_(std::move(name)) {}

LightCamera::~LightCamera() = default;

void LightCamera::emit(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    api.begin_camera(name_.c_str());
    out.set_string("projection", "perspective");
    out.set_float("fov", fov_);
    CaptureBuffer* environment = write_environment(out);
    api.set_value("reflection map", kCapturedText, &environment);
    out.set_double3("position", position_.data());
    out.set_double3("direction", direction_.data());
    out.set_double3("up", up_.data());
    api.end_camera();
}

void LightCamera::define(vexSceneapi_oo&) {}

bool LightCamera::isDefined() const {
    return false;
}

CaptureBuffer* LightCamera::write_environment(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    // A null name captures the shader instead of writing it in place.
    api.begin_shader(nullptr, "vex_envmap");
    out.set_string("texture", "startup.hdr");
    out.set_int("format", 3);
    out.set_float("radius", 25);
    CaptureBuffer* shader = api.captured_text();
    out.end_shader();
    return shader;
}

void LightCamera::setPosition(float x, float y, float z) {
    position_ = {x, y, z};
}

void LightCamera::setDirection(float x, float y, float z) {
    direction_ = {x, y, z};
}

void LightCamera::setUp(float x, float y, float z) {
    up_ = {x, y, z};
}

void LightCamera::setFov(float degrees) {
    fov_ = degrees;
}

}  // namespace vex
