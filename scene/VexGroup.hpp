// A named group of the scene graph: leaf content first, then child groups.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/LightNode.hpp"

namespace vex {

class VexGroup : public LightNode {
  public:
    // Element 4*c + r holds row r, column c; elements 12 to 14 are the translation.
    using Transform = std::array<double, 16>;
    static constexpr Transform kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    explicit VexGroup(std::string name);

    void emit(vexSceneapi_oo& out) override;
    // Groups are always written in place, never as definitions.
    void define(vexSceneapi_oo& out) override;
    bool isDefined() const override;
    ~VexGroup() override;

    // A null node is ignored.
    void addNode(std::shared_ptr<LightNode> node);
    // Room for this many more nodes, for a caller that knows how many it adds.
    void reserveNodes(size_t more);
    // Creates an empty child group, appends it and returns it for the caller to fill.
    std::shared_ptr<VexGroup> addGroup(std::string name);
    // A null group is ignored.
    void addChildGroup(std::shared_ptr<VexGroup> group);
    // Replaces the whole flag word.
    void setFlags(uint32_t flags);
    void setTransform(const Transform& transform);

    const std::string& name() const { return name_; }
    uint32_t flags() const { return flags_; }
    bool hasTransform() const { return hasTransform_; }
    const Transform& transform() const { return transform_; }
    const std::vector<std::shared_ptr<LightNode>>& nodes() const { return nodes_; }
    const std::vector<std::shared_ptr<LightNode>>& groups() const { return groups_; }

  private:
    std::string name_;
    bool hasTransform_ = false;
    Transform transform_ = kIdentity;
    uint32_t flags_ = 0;
    std::vector<std::shared_ptr<LightNode>> nodes_;
    std::vector<std::shared_ptr<LightNode>> groups_;
};

}  // namespace vex
