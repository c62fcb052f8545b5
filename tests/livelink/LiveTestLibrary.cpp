// A live-link library for the loader tests, built in three variants: with the entry
// point (the default), without it (VEX_TEST_NO_ENTRY) and with one that returns null
// (VEX_TEST_NULL_ENTRY). The live_test_* exports let a test see what the loader did.
#include "livelink/LiveLinkApi.hpp"

namespace {

int g_initCalls = 0;
int g_destroyCalls = 0;
int g_lastDestroyFlags = -1;

// Does nothing: the loader only hands the interface on.
class IdleScene : public vexScene_api {
  public:
    void reserved_1() override {}
    bool begin_group(const char*, bool) override { return false; }
    void end_group() override {}
    bool begin_object(const char*, bool) override { return false; }
    void end_object() override {}
    bool begin_geometry(const char*) override { return false; }
    void end_geometry() override {}
    bool begin_animation(const char*, const char*) override { return false; }
    void end_animation() override {}
    bool begin_load(const char*) override { return false; }
    void end_load() override {}
    bool begin_options() override { return false; }
    void end_options() override {}
    bool begin_camera(const char*) override { return false; }
    void end_camera() override {}
    bool begin_image() override { return false; }
    void end_image() override {}
    bool begin_output(const char*, const char*, const char*) override { return false; }
    void end_output() override {}
    bool begin_light(const char*) override { return false; }
    void end_light() override {}
    bool begin_accel(const char*) override { return false; }
    void end_accel() override {}
    void transform(const double*) override {}
    void set_transform(const double*) override {}
    void scale(const double&, const double&, const double&) override {}
    void rotate(const double&, const double&, const double&) override {}
    void translate(const double&, const double&, const double&) override {}
    bool begin_matrix(const char*) override { return false; }
    void end_matrix() override {}
    bool begin_material(const char*, bool) override { return false; }
    bool use_material(const char*) override { return false; }
    void end_material() override {}
    void shader_text(uint32_t, CaptureBuffer*) override {}
    void shader_ref(uint32_t, int) override {}
    bool begin_shader(const char*, const char*) override { return false; }
    bool begin_shader_id(const char*, int) override { return false; }
    void end_shader() override {}
    CaptureBuffer* captured_text() override { return nullptr; }
    void push_capture() override {}
    void pop_capture() override {}
    bool set_value(const char*, int32_t, const void*) override { return false; }
    bool set_shader_link(const char*, int) override { return false; }
    bool set_text_link(const char*, CaptureBuffer*) override { return false; }
    bool begin_list(const char*) override { return false; }
    void end_list() override {}
    void add_list_item(int32_t, const void*) override {}
    int reserved_51() override { return 0; }
    int reserved_52() override { return 0; }
    int reserved_53() override { return 0; }
    void attribute(const char*, const char*) override {}
    void print_formatted(const char*, ...) override {}
    void set_mode(int) override {}
    void version(int) override {}
    void reserved_58() override {}
    void progress(const char*, float) override {}
    void icon(const unsigned char*, int) override {}
    void blob(const char*, const unsigned char*, int) override {}
    void id(unsigned) override {}
    void flags(unsigned) override {}
    bool reserved_64() override { return false; }
    bool render() override { return false; }
    void print(const char*) override {}
    void error(const char*) override {}
};

class IdleQuery : public vexQuery_api {
  public:
    const char* instances() override { return "<instances/>"; }
    bool attach(int64_t) override { return false; }
    void detach() override {}
    const char* sceneDescription() override { return nullptr; }
};

IdleScene g_scene;
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
