#include "scene/LightModule.hpp"

#include <utility>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

LightModule::LightModule(std::string name) : name_(std::move(name)) {}

LightModule::~LightModule() = default;

void LightModule::emit(vexSceneapi_oo& out) {
    vexScene_api& api = *out.api();
    api.begin_load(name_.c_str());
    write_options(out);
    api.end_load();
}

void LightModule::define(vexSceneapi_oo&) {}

bool LightModule::isDefined() const {
    return false;
}

}  // namespace vex
