#include "sceneapi/vexSceneapi_oo.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace vex {

std::string wrapperBanner() {
    return "RayMint SceneApi oo " + std::to_string(kWrapperVersionMajor) + "." +
           std::to_string(kWrapperVersionMinor) + "." + std::to_string(kWrapperVersionPatch) +
           "  (built " + kWrapperBuildStamp + ")";
}

vexSceneapi_oo::vexSceneapi_oo(LightFactory& factory) : factory_(&factory) {
    // Through the virtual table, as a subclass may watch the attachment.
    this->set_api(factory_->scene_api());
    if (api_ == nullptr) return;
    factory_->begin(*this);
    api_->print(wrapperBanner().c_str());
    api_->version(kSceneFormatVersion);
}

vexSceneapi_oo::~vexSceneapi_oo() = default;

int vexSceneapi_oo::set_api(vexScene_api* api) {
    api_ = api;
    shaderCounter_ = 0;
    objectCounter_ = 0;
    return 0;
}

int vexSceneapi_oo::next_id() {
    ++objectCounter_;
    api_->id(static_cast<unsigned>(objectCounter_));
    return objectCounter_;
}

void vexSceneapi_oo::write(LightNode& node) {
    node.emit(*this);
}

void vexSceneapi_oo::progress(const std::string& name, float fraction) {
    api_->progress(name.c_str(), fraction);
}

void vexSceneapi_oo::begin_group(const std::string& name) {
    api_->begin_group(name.c_str(), true);
}

void vexSceneapi_oo::end_group() {
    api_->end_group();
}

int vexSceneapi_oo::new_shader(const std::string& type) {
    ++shaderCounter_;
    api_->begin_shader_id(type.c_str(), shaderCounter_);
    return shaderCounter_;
}

void vexSceneapi_oo::end_shader() {
    api_->end_shader();
}

void vexSceneapi_oo::set_cstring(const char*, const char*) {
    throw std::invalid_argument("const char * are deprecated");
}

void vexSceneapi_oo::set_string(const std::string& name, const std::string& value) {
    api_->set_value(name.c_str(), kString, value.c_str());
}

void vexSceneapi_oo::set_float3(const std::string& name, const float* value) {
    api_->set_value(name.c_str(), kFloat3, value);
}

void vexSceneapi_oo::set_double3(const std::string& name, const double* value) {
    api_->set_value(name.c_str(), kDouble3, value);
}

void vexSceneapi_oo::set_double(const std::string& name, double value) {
    api_->set_value(name.c_str(), kDouble, &value);
}

void vexSceneapi_oo::set_float(const std::string& name, float value) {
    api_->set_value(name.c_str(), kFloat, &value);
}

void vexSceneapi_oo::set_int(const std::string& name, int value) {
    api_->set_value(name.c_str(), kInt, &value);
}

void vexSceneapi_oo::set_bool(const std::string& name, bool value) {
    const int32_t word = value ? 1 : 0;
    api_->set_value(name.c_str(), kBool, &word);
}

void vexSceneapi_oo::setArray(const std::string& name, int32_t code, const void* data,
                              size_t count) {
    // The descriptor's count is 32 bits; a silently truncated array would be a wrong scene.
    if (count > std::numeric_limits<uint32_t>::max())
        throw std::length_error("array too large for the scene interface: " + name);
    const SceneArray array{data, static_cast<uint32_t>(count)};
    api_->set_value(name.c_str(), code, &array);
}

void vexSceneapi_oo::set_matrix_array(const std::string& name, const std::vector<Matrix>& v) {
    setArray(name, kMatrixArray, v.data(), v.size());
}

void vexSceneapi_oo::set_int_array(const std::string& name, const std::vector<int>& v) {
    setArray(name, kIntArray, v.data(), v.size());
}

void vexSceneapi_oo::set_float_array(const std::string& name, const std::vector<float>& v) {
    setArray(name, kFloatArray, v.data(), v.size());
}

void vexSceneapi_oo::set_double_array(const std::string& name, const std::vector<double>& v) {
    setArray(name, kDoubleArray, v.data(), v.size());
}

void vexSceneapi_oo::set_float3_array(const std::string& name, const std::vector<Float3>& v) {
    setArray(name, kFloat3Array, v.data(), v.size());
}

void vexSceneapi_oo::transform(const double* m) {
    this->transform(m, false);
}

void vexSceneapi_oo::transform(const double* m, bool set) {
    if (set)
        api_->set_transform(m);
    else
        api_->transform(m);
}

void vexSceneapi_oo::flags(unsigned value) {
    api_->flags(value);
}

vexScene_api* vexSceneapi_oo::api() {
    return api_;
}

void vexSceneapi_oo::error(std::string text) {
    api_->error(text.c_str());
}

}  // namespace vex
