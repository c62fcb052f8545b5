// The renderer's import module and the settings that steer how it takes the scene.
#pragma once

#include <string>
#include <utility>

#include "scene/LightModule.hpp"

namespace vex {

class DefaultRTModule : public LightModule {
  public:
    DefaultRTModule();
    ~DefaultRTModule() override;
    void write_options(vexSceneapi_oo& out) override;

    void setUpVector(int upVector) { upVector_ = upVector; }
    void setMeterScale(float scale) { meterScale_ = scale; }
    void setKeepOriginal(bool keep) { keepOriginal_ = keep; }
    void setCenterGeometry(bool center) { centerGeometry_ = center; }
    void setSnapToGround(bool snap) { snapToGround_ = snap; }
    void setAdjustCamera(bool adjust) { adjustCamera_ = adjust; }
    void setAdjustEnvironment(bool adjust) { adjustEnvironment_ = adjust; }
    // An empty name leaves the option out.
    void setUseCamera(std::string camera) { useCamera_ = std::move(camera); }

  private:
    bool importMode_ = true;
    bool mergeGroups_ = true;
    bool mergeObjects_ = true;
    int upVector_ = 0;
    float meterScale_ = 1.0f;
    bool keepOriginal_ = false;
    bool centerGeometry_ = true;
    bool snapToGround_ = false;
    bool adjustCamera_ = true;
    bool adjustEnvironment_ = true;
    std::string useCamera_;
    bool ext_ = true;
};

}  // namespace vex
