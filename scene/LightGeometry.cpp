#include "scene/LightGeometry.hpp"

#include <utility>

namespace vex {

LightGeometry::LightGeometry(std::string name, std::shared_ptr<Material> material)
    : name_(std::move(name)), material_(std::move(material)) {}

LightGeometry::~LightGeometry() = default;

void LightGeometry::setMaterial(std::shared_ptr<Material> material) {
    material_ = std::move(material);
}

std::shared_ptr<Material> LightGeometry::getMaterial() const {
    return material_;
}

void LightGeometry::setName(const std::string& name) {
    name_ = name;
}

std::string LightGeometry::getName() const {
    return name_;
}

void LightGeometry::markDefined(int32_t id) {
    defined_ = true;
    definitionId_ = id;
}

}  // namespace vex
