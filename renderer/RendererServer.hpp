// The stand-in renderer's server: listens on the first free port of its range on 127.0.0.1,
// publishes its instance record, and serves scene streams and scene description requests on
// one thread with poll until SIGTERM/SIGINT or the idle time ends it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "renderer/ModelSets.hpp"
#include "renderer/RendererConfig.hpp"

namespace vex::raymint {

class RendererServer {
  public:
    RendererServer(RendererConfig config, std::string prefix);
    ~RendererServer();
    RendererServer(const RendererServer&) = delete;
    RendererServer& operator=(const RendererServer&) = delete;

    // Serves until stopped; the process exit status (0 after a clean stop).
    int run();

    // Exit status of a renderer that ended itself through the die-after-bytes knob.
    static constexpr int kDiedOnPurpose = 3;

  private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    bool listenOnRange(std::string& error);
    void acceptAll();
    void serve(Connection& c, short revents);
    void readFrom(Connection& c);
    void hello(Connection& c);
    void consume(Connection& c, const char* data, size_t n);
    void streamData(Connection& c, const char* data, size_t n);
    void endOfStream(Connection& c);
    void failTransfer(Connection& c, const std::string& reason, bool answer);
    void queue(Connection& c, const std::string& text);
    void writeTo(Connection& c);
    void close(Connection& c);
    void startKeeping(Connection& c);
    // The kept stream's file when it was kept, else empty.
    std::string stopKeeping(Connection& c, bool transferred);
    bool writeModelSetFile(const ModelSet& set, std::string& error);
    // Renders the model set into OUTPUT/<name>.png, and beside the kept stream when there is
    // one; the file name, or nothing on failure.
    std::optional<std::string> writePicture(const ModelSet& set, const std::string& keptStream);
    void appendTransferLog(const std::string& line);
    int pollTimeout(Clock::time_point now) const;
    void expire(Clock::time_point now);

    RendererConfig config_;
    std::string prefix_;
    std::string output_;
    std::string records_;
    int listenFd_ = -1;
    int port_ = 0;
    bool published_ = false;
    std::vector<std::unique_ptr<Connection>> connections_;
    Clock::time_point lastActivity_;
    uint64_t nextConnection_ = 1;
    uint64_t keptStreams_ = 0;
    ModelSetStore store_;
};

// The installation prefix of the running executable: the folder above its own folder.
std::string executablePrefix();

}  // namespace vex::raymint
