// The interface of every scene-graph node; concrete nodes live in scene/.
#pragma once

namespace vex {

class vexSceneapi_oo;

class LightNode {
  public:
    // Writes the node at the current position of the scene.
    virtual void emit(vexSceneapi_oo& out) = 0;
    // Writes a named, reusable definition; emit then writes only a reference.
    virtual void define(vexSceneapi_oo& out) = 0;
    virtual bool isDefined() const = 0;
    virtual ~LightNode() = default;
};

}  // namespace vex
