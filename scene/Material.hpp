// The base of all materials: a material block written inside the object that uses it.
#pragma once

#include <string>

#include "scene/LightNode.hpp"

namespace vex {

class Material : public LightNode {
  public:
    // A plain material block, or a reference once define() has written the definition.
    void emit(vexSceneapi_oo& out) override;
    // A named definition; later emits refer to it by name.
    void define(vexSceneapi_oo& out) override;
    bool isDefined() const override { return defined_; }
    ~Material() override;
    // The body of the material block: its shaders and the surface reference.
    virtual void writeShaders(vexSceneapi_oo& out) = 0;

    const std::string& name() const { return name_; }
    const std::string& shaderType() const { return shaderType_; }

  protected:
    explicit Material(std::string name, std::string shaderType = {});

  private:
    bool defined_ = false;
    std::string name_;
    std::string shaderType_;
};

}  // namespace vex
