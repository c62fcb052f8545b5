// A material built from a host appearance: its colour and its image texture.
#pragma once

#include <array>
#include <string>

#include "CoreAll.h"
#include "scene/Material.hpp"

namespace vex {

class FusionMaterial : public Material {
  public:
    // Takes the caller's reference over (it is cleared); an empty one gives the white
    // "Generic material". Throws std::exception when the host loses an object it counted.
    explicit FusionMaterial(adsk::core::Ptr<adsk::core::Appearance>& appearance);
    ~FusionMaterial() override;
    void writeShaders(vexSceneapi_oo& out) override;

    const std::array<float, 3>& color() const { return color_; }
    const std::string& texturePath() const { return texturePath_; }

  private:
    static std::string nameOf(const adsk::core::Ptr<adsk::core::Appearance>& appearance);

    std::array<float, 3> color_ = {1, 1, 1};
    std::string texturePath_;
};

}  // namespace vex
