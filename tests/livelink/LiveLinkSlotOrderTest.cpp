// Pins the virtual-table layout of the live-link library's objects, a binary contract the
// test library, built from the same header, cannot check. Neither class has a virtual
// destructor, so slot N sits at entry N; the exact member types pin the signatures.
#include <gtest/gtest.h>

#include "livelink/LiveLinkApi.hpp"
#include "support/VtableEntry.hpp"

using vex::test::entryOf;
using vex::test::MemberOf;

TEST(LiveLinkSlotOrder, RootObjectAndQueryInterface) {
    EXPECT_EQ(entryOf(MemberOf<vexLive_api, void(int)>(&vexLive_api::destroy)), 0);
    EXPECT_EQ(entryOf(MemberOf<vexLive_api, vexScene_api*()>(&vexLive_api::scene_api)), 1);
    EXPECT_EQ(entryOf(MemberOf<vexLive_api, vexQuery_api*()>(&vexLive_api::query_api)), 2);
    EXPECT_EQ(entryOf(MemberOf<vexQuery_api, const char*()>(&vexQuery_api::instances)), 0);
    EXPECT_EQ(entryOf(MemberOf<vexQuery_api, bool(int64_t)>(&vexQuery_api::attach)), 1);
    EXPECT_EQ(entryOf(MemberOf<vexQuery_api, void()>(&vexQuery_api::detach)), 3);
    EXPECT_EQ(entryOf(MemberOf<vexQuery_api, const char*()>(&vexQuery_api::sceneDescription)), 6);
    static_assert(!std::has_virtual_destructor_v<vexLive_api>);
    static_assert(!std::has_virtual_destructor_v<vexQuery_api>);
    static_assert(std::is_same_v<decltype(&raymint_live_initialize), raymint_live_initialize_fn>);
}
