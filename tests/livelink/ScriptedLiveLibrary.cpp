// A live-link library whose answers a test scripts through the live_test_* exports, and
// which keeps a journal of every call it receives, one line each. The test opens the
// library file itself before the loader does, so both share the one loaded copy.
// Every text it returns is freed by the next call on the same interface, so a caller
// that reads one too late trips the address sanitizer.
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "livelink/LiveLinkApi.hpp"

namespace {

struct Process {
    bool attachable = true;
    std::optional<std::string> description;
};

struct Script {
    bool sceneInterface = true;
    bool queryInterface = true;
    // Answers of instances(), one per call; the last one repeats.
    std::vector<std::optional<std::string>> instances;
    size_t instancesCalls = 0;
    std::map<int64_t, Process> processes;
    std::set<int> acceptedPorts;
    bool disconnectResult = true;
};

Script g_script;
std::string g_journal;
int g_initCalls = 0;
int g_destroyCalls = 0;

void note(const std::string& line) {
    g_journal += line;
    g_journal += '\n';
}

// Copies `text` into a buffer of its own that replaces (frees) the previous one.
const char* handOut(std::unique_ptr<char[]>& held, const std::optional<std::string>& text) {
    held.reset();
    if (!text) return nullptr;
    held = std::make_unique<char[]>(text->size() + 1);
    std::memcpy(held.get(), text->c_str(), text->size() + 1);
    return held.get();
}

class ScriptedScene : public vexScene_api {
  public:
    bool connect(const char* host, int port, int mode) override {
        note("connect " + std::string(host != nullptr ? host : "(null)") + " " +
             std::to_string(port) + " " + std::to_string(mode));
        return g_script.acceptedPorts.count(port) != 0;
    }
    bool disconnect() override {
        note("disconnect");
        return g_script.disconnectResult;
    }
    void id(unsigned value) override { note("id " + std::to_string(value)); }

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
    void flags(unsigned) override {}
    bool reserved_64() override { return false; }
    bool render() override { return false; }
    void print(const char*) override {}
    void error(const char*) override {}
};

class ScriptedQuery final : public vexQuery_api {
  public:
    const char* instances() override {
        note("instances");
        const auto& answers = g_script.instances;
        const size_t call = g_script.instancesCalls++;
        if (answers.empty()) return handOut(held_, std::nullopt);
        return handOut(held_, answers[call < answers.size() ? call : answers.size() - 1]);
    }
    bool attach(int64_t processId) override {
        note("attach " + std::to_string(processId));
        held_.reset();
        const auto it = g_script.processes.find(processId);
        attached_ = it != g_script.processes.end() && it->second.attachable ? processId : -1;
        return attached_ != -1;
    }
    void detach() override {
        note("detach");
        held_.reset();
        attached_ = -1;
    }
    const char* sceneDescription() override {
        note("describe");
        const auto it = g_script.processes.find(attached_);
        return handOut(held_,
                       it != g_script.processes.end() ? it->second.description : std::nullopt);
    }

  private:
    std::unique_ptr<char[]> held_;
    int64_t attached_ = -1;
};

ScriptedScene g_scene;
ScriptedQuery g_query;

class Root final : public vexLive_api {
  public:
    void destroy(int flags) override {
        ++g_destroyCalls;
        note("destroy " + std::to_string(flags));
        if ((flags & 1) != 0) delete this;
    }
    vexScene_api* scene_api() override {
        note("scene_api");
        return g_script.sceneInterface ? &g_scene : nullptr;
    }
    vexQuery_api* query_api() override {
        note("query_api");
        return g_script.queryInterface ? &g_query : nullptr;
    }
};

}  // namespace

VEX_LIVE_EXPORT vexLive_api* raymint_live_initialize() {
    ++g_initCalls;
    return new Root();
}

// Which interfaces the root object hands out (1) or withholds (0).
VEX_LIVE_EXPORT void live_test_set_interfaces(int scene, int query) {
    g_script.sceneInterface = scene != 0;
    g_script.queryInterface = query != 0;
}
// Appends an answer of instances() (null: no list).
VEX_LIVE_EXPORT void live_test_add_instances(const char* text) {
    g_script.instances.push_back(text != nullptr ? std::optional<std::string>(text) : std::nullopt);
}
// A process that attach() knows; `description` null: sceneDescription() gives null.
VEX_LIVE_EXPORT void live_test_set_process(int64_t processId, int attachable,
                                           const char* description) {
    g_script.processes[processId] = {attachable != 0, description != nullptr
                                                          ? std::optional<std::string>(description)
                                                          : std::nullopt};
}
// connect() succeeds for this port, whatever the host and mode.
VEX_LIVE_EXPORT void live_test_accept_port(int port) {
    g_script.acceptedPorts.insert(port);
}
VEX_LIVE_EXPORT void live_test_set_disconnect_result(int result) {
    g_script.disconnectResult = result != 0;
}
// The calls received so far, one line each; valid until the next call into the library.
VEX_LIVE_EXPORT const char* live_test_journal() {
    return g_journal.c_str();
}
VEX_LIVE_EXPORT void live_test_clear_journal() {
    g_journal.clear();
}
VEX_LIVE_EXPORT int live_test_init_calls() {
    return g_initCalls;
}
VEX_LIVE_EXPORT int live_test_destroy_calls() {
    return g_destroyCalls;
}
VEX_LIVE_EXPORT const void* live_test_scene() {
    return static_cast<vexScene_api*>(&g_scene);
}
