// An output target: owns a scene interface and brackets its use.
#pragma once

class vexScene_api;

namespace vex {

class vexSceneapi_oo;

class LightFactory {
  public:
    // Finishes the output as close() does.
    virtual ~LightFactory() = default;
    // The target's scene interface; null when the target cannot supply one.
    virtual vexScene_api* scene_api() = 0;
    // Start of output, called by the wrapper that has just attached.
    virtual void begin(vexSceneapi_oo& wrapper) = 0;
    // End of output: the interface is destroyed and the destination closed.
    virtual void close() = 0;
};

}  // namespace vex
