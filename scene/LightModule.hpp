// A load block that makes the renderer load one of its modules with given settings.
#pragma once

#include <string>

#include "scene/LightNode.hpp"

namespace vex {

class LightModule : public LightNode {
  public:
    explicit LightModule(std::string name);

    void emit(vexSceneapi_oo& out) override;
    // A module is always written in place.
    void define(vexSceneapi_oo& out) override;
    bool isDefined() const override;
    ~LightModule() override;
    // The settings inside the load block.
    virtual void write_options(vexSceneapi_oo& out) = 0;

    const std::string& name() const { return name_; }

  private:
    std::string name_;
};

}  // namespace vex
