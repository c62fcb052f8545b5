// The base of the renderable leaves: a named piece of geometry with one material.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "scene/LightNode.hpp"
#include "scene/Material.hpp"

namespace vex {

class LightGeometry : public LightNode {
  public:
    void emit(vexSceneapi_oo& out) override = 0;
    void define(vexSceneapi_oo& out) override = 0;
    bool isDefined() const override { return defined_; }
    ~LightGeometry() override;
    // Bytes held in the geometry's arrays.
    virtual size_t byteSize() const = 0;
    // Replaces the material and releases the previous one.
    virtual void setMaterial(std::shared_ptr<Material> material);
    virtual std::shared_ptr<Material> getMaterial() const;
    virtual void setName(const std::string& name);
    virtual std::string getName() const;

    void markDefined(int32_t id);
    int32_t definitionId() const { return definitionId_; }

  protected:
    LightGeometry(std::string name, std::shared_ptr<Material> material);
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    std::shared_ptr<Material> material_;
    bool defined_ = false;
    int32_t definitionId_ = 0;
};

}  // namespace vex
