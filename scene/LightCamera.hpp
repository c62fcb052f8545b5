// A perspective camera, sent together with the renderer's default environment.
#pragma once

#include <array>
#include <string>

#include "scene/LightNode.hpp"
#include "sceneapi/CaptureBuffer.hpp"

namespace vex {

class LightCamera : public LightNode {
  public:
    explicit LightCamera(std::string name);

    void emit(vexSceneapi_oo& out) override;
    // A camera is always written in place.
    void define(vexSceneapi_oo& out) override;
    bool isDefined() const override;
    ~LightCamera() override;
    // Captures the environment-map shader; the buffer belongs to the scene interface.
    virtual CaptureBuffer* write_environment(vexSceneapi_oo& out);

    // Stored as doubles, but the values pass through single precision.
    void setPosition(float x, float y, float z);
    void setDirection(float x, float y, float z);
    void setUp(float x, float y, float z);
    // Degrees.
    void setFov(float degrees);

    const std::string& name() const { return name_; }

  private:
    std::string name_;
    std::array<double, 3> position_ = {0, 0, 0};
    std::array<double, 3> direction_ = {0, 0, -1};
    std::array<double, 3> up_ = {0, 1, 0};
    float fov_ = 60;
};

}  // namespace vex
