// A live-link library that answers and notes calls as the test scripts (live_test_script),
// with its entry point or without (VEX_TEST_NO_ENTRY). Each text it returns is freed by the
// next call, so that reading one too late trips the address sanitizer.
#include <algorithm>

#include "LiveLinkTestSupport.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace {

vex::test::LiveScript g_script;
std::optional<std::string> g_held;

void note(const std::string& line) {
    g_script.journal += line + "\n";
}

const char* handOut(const std::optional<std::string>& text) {
    g_held.reset();
    g_held = text;
    return g_held ? g_held->c_str() : nullptr;
}

class Scene : public vexScene_api_file {
  public:
    Scene() : vexScene_api_file(nullptr, false) {}
    bool connect(const char* host, int port, int mode) override {
        note("connect " + std::string(host) + " " + std::to_string(port) + " " +
             std::to_string(mode));
        return g_script.acceptedPorts.count(port) != 0;
    }
    bool disconnect() override {
        note("disconnect");
        return g_script.disconnectResult;
    }
    void id(unsigned value) override { note("id " + std::to_string(value)); }
};

class Query final : public vexQuery_api {
  public:
    const char* instances() override {
        note("instances");
        const auto& answers = g_script.instances;
        const size_t call = std::min(g_script.instancesCalls++, answers.size() - 1);
        return handOut(answers.empty() ? std::nullopt : answers[call]);
    }
    bool attach(int64_t processId) override {
        note("attach " + std::to_string(processId));
        const auto it = g_script.processes.find(processId);
        attached_ = it != g_script.processes.end() && it->second.first ? processId : -1;
        handOut(std::nullopt);
        return attached_ != -1;
    }
    void detach() override {
        note("detach");
        handOut(std::nullopt);
        attached_ = -1;
    }
    const char* sceneDescription() override {
        note("describe");
        const auto it = g_script.processes.find(attached_);
        return handOut(it != g_script.processes.end() ? it->second.second : std::nullopt);
    }

  private:
    int64_t attached_ = -1;
};

Scene g_scene;
Query g_query;

class Root final : public vexLive_api {
  public:
    void destroy(int flags) override {
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

#if !defined(VEX_TEST_NO_ENTRY)
VEX_LIVE_EXPORT vexLive_api* raymint_live_initialize() {
    ++g_script.initCalls;
    return g_script.root = new Root();
}
#endif

VEX_LIVE_EXPORT vex::test::LiveScript* live_test_script() {
    g_script.scene = static_cast<vexScene_api*>(&g_scene);
    g_script.query = &g_query;
    return &g_script;
}
