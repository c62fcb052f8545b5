// raymint: the stand-in RayMint renderer. Started without arguments by the add-in, it reads
// its settings relative to its own location; see docs/renderer.md.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "renderer/InstanceRecords.hpp"
#include "renderer/RendererConfig.hpp"
#include "renderer/RendererServer.hpp"

namespace fs = std::filesystem;
using namespace vex::raymint;

namespace {

constexpr char kUsage[] =
    "Usage: raymint [OPTION]...\n"
    "The stand-in RayMint renderer: takes scene streams from the live-link library on the\n"
    "first free port of its range on 127.0.0.1 and keeps one model set per design.\n"
    "\n"
    "  --prefix DIR           installation folder (default: the folder above bin/)\n"
    "  --config FILE          settings file (default: PREFIX/etc/raymint.conf)\n"
    "  --version N            major version to announce, 5 to 99\n"
    "  --ports FIRST-LAST     port range to listen on\n"
    "  --idle SECONDS         stop after this long without connections (0: never)\n"
    "  --output DIR           folder of model-set files and transfers.log\n"
    "  --client-timeout S     drop a connection that sends nothing for S seconds\n"
    "  --max-stream-bytes N   refuse larger scene streams\n"
    "  --list                 list the running renderers of this installation\n"
    "  --stop                 stop the running renderers of this installation\n"
    "  --wait SECONDS         how long --stop waits for them (default 10)\n"
    "  --help                 show this text\n"
    "\n"
    "Diagnostics (renderers that fail on purpose, for tests):\n"
    "  --die-after BYTES      exit abruptly once a stream has brought BYTES scene bytes\n"
    "  --stall-after BYTES    stop reading a stream after BYTES scene bytes\n"
    "  --refuse-describe      answer scene description requests with a refusal\n"
    "  --keep-streams         keep each received stream as OUTPUT/streams/transfer-N.rmq\n"
    "\n"
    "Options override the settings file. SIGTERM or SIGINT stops the renderer cleanly.\n";

bool readWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "raymint: %s\nTry 'raymint --help'.\n", message.c_str());
    return 2;
}

int listInstances(const std::string& prefix) {
    for (const InstanceRecord& r : liveInstances(instanceFolder(prefix), true)) {
        std::printf("pid %lld version %d port %d\n", static_cast<long long>(r.processId), r.version,
                    r.port);
    }
    return 0;
}

int stopInstances(const std::string& prefix, uint64_t waitSeconds) {
    const std::vector<InstanceRecord> running = liveInstances(instanceFolder(prefix), true);
    for (const InstanceRecord& r : running) {
        if (::kill(static_cast<pid_t>(r.processId), SIGTERM) != 0)
            std::fprintf(stderr, "raymint: cannot signal pid %lld: %s\n",
                         static_cast<long long>(r.processId), std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    int status = 0;
    for (const InstanceRecord& r : running) {
        while (recordIsLive(r) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (recordIsLive(r)) {
            std::fprintf(stderr, "raymint: pid %lld did not stop within %llu s\n",
                         static_cast<long long>(r.processId),
                         static_cast<unsigned long long>(waitSeconds));
            status = 1;
        } else {
            std::printf("stopped pid %lld\n", static_cast<long long>(r.processId));
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string prefix;
    std::string configPath;
    bool list = false;
    bool stop = false;
    uint64_t waitSeconds = 10;
    std::vector<std::pair<std::string, std::string>> overrides;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--stop") {
            stop = true;
        } else if (auto setting = settingOption(argc, argv, i, v)) {
            overrides.push_back(std::move(*setting));
        } else if (!v.empty()) {
            return usageError(v);
        } else if (arg == "--prefix" || arg == "--config" || arg == "--wait") {
            if (!value(v)) return usageError(arg + " needs a value");
            if (arg == "--prefix") {
                prefix = v;
            } else if (arg == "--config") {
                configPath = v;
            } else if (arg == "--wait") {
                if (!parseDecimal(v, 0, 3600, waitSeconds))
                    return usageError("bad value \"" + v + "\" for --wait (seconds up to 3600)");
            }
        } else {
            return usageError("unknown argument \"" + arg + "\"");
        }
    }
    if (list && stop) return usageError("--list and --stop exclude each other");

    if (prefix.empty()) prefix = executablePrefix();
    if (prefix.empty()) return usageError("cannot tell the installation folder; use --prefix");
    std::error_code error;
    const fs::path absolute = fs::absolute(prefix, error);
    if (!error) prefix = absolute.lexically_normal().string();
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();

    if (list) return listInstances(prefix);
    if (stop) return stopInstances(prefix, waitSeconds);

    RendererConfig config;
    const bool explicitConfig = !configPath.empty();
    if (!explicitConfig) configPath = prefix + "/etc/raymint.conf";
    std::string text;
    std::string why;
    if (readWhole(configPath, text)) {
        if (!parseConfigText(text, configPath, config, why)) {
            std::fprintf(stderr, "raymint: %s\n", why.c_str());
            return 2;
        }
    } else if (explicitConfig || fs::exists(configPath, error)) {
        std::fprintf(stderr, "raymint: cannot read %s\n", configPath.c_str());
        return 2;
    }
    for (const auto& [key, value] : overrides) {
        if (!applySetting(config, key, value, why)) return usageError(why);
    }
    RendererServer server(config, prefix);
    return server.run();
}
