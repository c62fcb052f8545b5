// Pins the virtual-table layout of the live-link library's objects. Neither class has a
// virtual destructor, so the operation of slot N sits at entry N. Casting each member to
// its exact type also pins argument and result types.
#include <gtest/gtest.h>

#include <type_traits>

#include "livelink/LiveLinkApi.hpp"
#include "support/VtableEntry.hpp"

namespace {

using vex::test::entryOf;
using vex::test::MemberOf;

#define SLOT(Class, n, member, Type) \
    EXPECT_EQ(entryOf(static_cast<MemberOf<Class, Type>>(&Class::member)), (n)) << #member

TEST(LiveLinkSlotOrder, RootObject) {
    SLOT(vexLive_api, 0, destroy, void(int));
    SLOT(vexLive_api, 1, scene_api, vexScene_api * ());
    SLOT(vexLive_api, 2, query_api, vexQuery_api * ());
    EXPECT_FALSE(std::has_virtual_destructor_v<vexLive_api>);
}

TEST(LiveLinkSlotOrder, QueryInterface) {
    SLOT(vexQuery_api, 0, instances, const char*());
    SLOT(vexQuery_api, 1, attach, bool(int64_t));
    SLOT(vexQuery_api, 2, reserved_2, void());
    SLOT(vexQuery_api, 3, detach, void());
    SLOT(vexQuery_api, 4, reserved_4, void());
    SLOT(vexQuery_api, 5, reserved_5, void());
    SLOT(vexQuery_api, 6, sceneDescription, const char*());
    EXPECT_FALSE(std::has_virtual_destructor_v<vexQuery_api>);
}

static_assert(std::is_same_v<decltype(&raymint_live_initialize), raymint_live_initialize_fn>);

}  // namespace
