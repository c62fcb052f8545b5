// A plain coloured diffuse material; every geometry starts with one.
#pragma once

#include <array>
#include <string>

#include "scene/Material.hpp"

namespace vex {

class Diffuse : public Material {
  public:
    static constexpr std::array<float, 3> kDefaultColor = {0.75f, 0.5f, 0.5f};
    static constexpr unsigned kMaterialFlags = 4096;

    explicit Diffuse(std::string name);
    ~Diffuse() override;
    // A captured "vex_diffuse" shader as the surface, then the material flags.
    void writeShaders(vexSceneapi_oo& out) override;

    const std::array<float, 3>& color() const { return color_; }

  private:
    std::array<float, 3> color_ = kDefaultColor;
};

}  // namespace vex
