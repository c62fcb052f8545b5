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

#include "IdleScene.hpp"
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

class ScriptedScene : public vex::test::IdleScene {
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
VEX_LIVE_EXPORT void live_test_reset_instances() {
    g_script.instances.clear();
    g_script.instancesCalls = 0;
}

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
