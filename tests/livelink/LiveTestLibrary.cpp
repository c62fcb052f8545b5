// A live-link library for the loader tests, built in three variants: with the entry
// point (the default), without it (VEX_TEST_NO_ENTRY) and with one that returns null
// (VEX_TEST_NULL_ENTRY). The live_test_* exports let a test see what the loader did.
#include "IdleScene.hpp"
#include "livelink/LiveLinkApi.hpp"

namespace {

int g_initCalls = 0;
int g_destroyCalls = 0;
int g_lastDestroyFlags = -1;

class IdleQuery : public vexQuery_api {
  public:
    const char* instances() override { return "<instances/>"; }
    bool attach(int64_t) override { return false; }
    void detach() override {}
    const char* sceneDescription() override { return nullptr; }
};

vex::test::IdleScene g_scene;
IdleQuery g_query;

class Root final : public vexLive_api {
  public:
    void destroy(int flags) override {
        ++g_destroyCalls;
        g_lastDestroyFlags = flags;
        if ((flags & 1) != 0) delete this;
    }
    vexScene_api* scene_api() override { return &g_scene; }
    vexQuery_api* query_api() override { return &g_query; }
};

Root* g_root = nullptr;

}  // namespace

#if !defined(VEX_TEST_NO_ENTRY)
VEX_LIVE_EXPORT vexLive_api* raymint_live_initialize() {
    ++g_initCalls;
#if defined(VEX_TEST_NULL_ENTRY)
    return nullptr;
#else
    g_root = new Root();
    return g_root;
#endif
}
#endif

VEX_LIVE_EXPORT int live_test_init_calls() {
    return g_initCalls;
}
VEX_LIVE_EXPORT int live_test_destroy_calls() {
    return g_destroyCalls;
}
VEX_LIVE_EXPORT int live_test_last_destroy_flags() {
    return g_lastDestroyFlags;
}
VEX_LIVE_EXPORT const void* live_test_root() {
    return g_root;
}
VEX_LIVE_EXPORT const void* live_test_scene() {
    return static_cast<vexScene_api*>(&g_scene);
}
VEX_LIVE_EXPORT const void* live_test_query() {
    return static_cast<vexQuery_api*>(&g_query);
}
