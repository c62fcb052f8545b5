#include "scene/VexGroup.hpp"

#include <utility>

#include "sceneapi/vexSceneapi_oo.hpp"

namespace vex {

VexGroup::VexGroup(std::string name) : name_(std::move(name)) {}

VexGroup::~VexGroup() = default;

void VexGroup::emit(vexSceneapi_oo& out) {
    out.begin_group(name_);
    if (flags_ != 0) out.flags(flags_);
    if (hasTransform_) out.transform(transform_.data());
    for (const auto& node : nodes_) node->emit(out);
    for (const auto& group : groups_) group->emit(out);
    out.end_group();
}

void VexGroup::define(vexSceneapi_oo&) {}

bool VexGroup::isDefined() const {
    return false;
}

void VexGroup::addNode(std::shared_ptr<LightNode> node) {
    if (node) nodes_.push_back(std::move(node));
}

void VexGroup::reserveNodes(size_t more) {
    nodes_.reserve(nodes_.size() + more);
}

std::shared_ptr<VexGroup> VexGroup::addGroup(std::string name) {
    auto group = std::make_shared<VexGroup>(std::move(name));
    groups_.push_back(group);
    return group;
}

void VexGroup::addChildGroup(std::shared_ptr<VexGroup> group) {
    if (group) groups_.push_back(std::move(group));
}

void VexGroup::setFlags(uint32_t flags) {
    flags_ = flags;
}

void VexGroup::setTransform(const Transform& transform) {
    transform_ = transform;
    hasTransform_ = true;
}

}  // namespace vex
