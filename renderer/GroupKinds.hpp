// The kinds of groups in a stream, told by their flag words: bit 0x1 a component, 0x8000 a
// changed one, 0x400 a body, 0x10000 an appearance. Used by the renderer's model sets and by
// the tests that read what was streamed (also on Windows, where the renderer is not built).
#pragma once

#include <cstdint>

#include "reader/SceneTree.hpp"

namespace vex::raymint {

inline constexpr uint32_t kComponentFlag = 0x1;
inline constexpr uint32_t kChangedFlag = 0x8000;
inline constexpr uint32_t kBodyFlag = 0x400;
inline constexpr uint32_t kAppearanceFlag = 0x10000;

inline bool isGroup(const Block& block) {
    return block.keyword == "group" && block.prefix.empty() && !block.captured;
}

// The value of a group's first "flags" statement, 0 without one.
inline uint32_t groupFlags(const Block& group) {
    for (const Node& node : group.children) {
        if (node.isBlock()) continue;
        const Statement& s = node.statement();
        if (s.form != Statement::Form::Word || s.name != "flags") continue;
        if (s.values.empty() || s.values[0].kind != Value::Kind::Int) return 0;
        const int64_t v = s.values[0].i;
        return v >= 0 && v <= int64_t{UINT32_MAX} ? static_cast<uint32_t>(v) : 0;
    }
    return 0;
}

inline bool isBodyGroup(const Block& group) {
    return (groupFlags(group) & kBodyFlag) != 0;
}

inline bool isComponentGroup(const Block& group) {
    const uint32_t f = groupFlags(group);
    return (f & kComponentFlag) != 0 && (f & (kBodyFlag | kAppearanceFlag)) == 0;
}

}  // namespace vex::raymint
