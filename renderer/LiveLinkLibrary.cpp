// The renderer's live-link library (vexraymintlive6_64.so or .dll), loaded by the add-in.
// Its scene interface is our scene file writer writing into a TCP stream to the renderer; its
// query interface reads the instance records of its own installation and asks renderers for
// their scene. Nothing here may take the host down: no SIGPIPE, every wait bounded, and after
// a broken connection every scene call returns at once.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "livelink/LiveLinkApi.hpp"
#include "renderer/InstanceRecords.hpp"
#include "renderer/LinkPlatform.hpp"
#include "renderer/LiveWire.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace {

using namespace vex::raymint;
using platform::Socket;

// The installation this library belongs to: PREFIX/bin/vexraymintlive6_64.so -> PREFIX.
std::string libraryPrefix() {
    std::string path = platform::ownModulePath();
    for (int up = 0; up < 2; ++up) {
        const size_t slash = path.find_last_of("/\\");
        if (slash == std::string::npos) return {};
        path.erase(slash == 0 ? 1 : slash);
    }
    return path;
}

std::string littleEndianLength(uint32_t n) {
    const char bytes[4] = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                           static_cast<char>((n >> 16) & 0xFF),
                           static_cast<char>((n >> 24) & 0xFF)};
    return std::string(bytes, 4);
}

// Splits "WORD REST" of a protocol line.
bool startsWithWord(const std::string& words, const char* word, std::string& rest) {
    const size_t n = std::strlen(word);
    if (words.compare(0, n, word) != 0) return false;
    if (words.size() == n) {
        rest.clear();
        return true;
    }
    if (words[n] != ' ') return false;
    rest = words.substr(n + 1);
    return true;
}

// ---- scene interface ----------------------------------------------------------------------

class LiveScene final : public vexScene_api {
  public:
    LiveScene() = default;
    ~LiveScene() override { abort(); }
    LiveScene(const LiveScene&) = delete;
    LiveScene& operator=(const LiveScene&) = delete;

    void reserved_1() override {}

    bool connect(const char* host, int port, int /*mode*/) override {
        abort();  // a new connection replaces an unfinished one
        timeouts_ = wire::timeoutsFromEnvironment();
        // One wait for the connection and the greeting together.
        const auto deadline = wire::after(timeouts_.connectMs);
        const Socket socket = wire::connectTo(host, port, timeouts_.connectMs);
        if (socket == platform::kNoSocket) return false;
        // A listener that is not a renderer does not answer the greeting and is not taken.
        const std::string hello = std::string(wire::kMagic) + " " + wire::kStream + " " +
                                  std::to_string(clientId_) + "\n";
        wire::Reader reader(socket);
        std::optional<std::string> answer;
        if (wire::sendText(socket, hello, wire::millisecondsLeft(deadline)))
            answer = reader.line(deadline);
        const auto words = answer ? wire::afterMagic(*answer) : std::nullopt;
        std::string rest;
        if (!words || !startsWithWord(*words, wire::kReady, rest)) {
            platform::closeSocket(socket);
            return false;
        }
        socket_ = socket;
        broken_ = false;
        stream_ = std::make_unique<platform::SinkStream>(
            [this](const char* bytes, size_t size) { return sendFrames(bytes, size); });
        if (stream_->file() == nullptr) {
            abort();
            return false;
        }
        out_ = std::make_unique<vexScene_api_file>(stream_->file(), true);
        return true;
    }

    bool disconnect() override {
        if (socket_ == platform::kNoSocket) return false;
        if (!broken_) out_->flush();
        const bool accepted = !broken_ && out_->writeError() == 0;
        closeWriter();  // once the stream is closed, all its bytes have been sent or failed
        const bool written = accepted && !broken_;
        bool applied = false;
        if (written) {
            const std::string end = littleEndianLength(0);
            const platform::Piece piece{end.data(), end.size()};
            if (wire::sendAll(socket_, &piece, 1, timeouts_.progressMs)) {
                platform::shutdownSending(socket_);
                wire::Reader reader(socket_);
                const auto line = reader.line(wire::after(timeouts_.answerMs));
                const auto words = line ? wire::afterMagic(*line) : std::nullopt;
                std::string rest;
                applied = words && startsWithWord(*words, wire::kDone, rest) &&
                          (rest == "ok" || rest.rfind("ok ", 0) == 0);
            }
        }
        platform::closeSocket(socket_);
        socket_ = platform::kNoSocket;
        return applied;
    }

    bool reserved_4() override { return false; }

    // While connected, every operation goes to the writer; otherwise it does nothing.
    bool begin_group(const char* name, bool instance) override {
        return live() && out_->begin_group(name, instance) && !broken_;
    }
    void end_group() override {
        if (live()) out_->end_group();
    }
    bool begin_object(const char* name, bool instance) override {
        return live() && out_->begin_object(name, instance) && !broken_;
    }
    void end_object() override {
        if (live()) out_->end_object();
    }
    bool begin_geometry(const char* type) override {
        return live() && out_->begin_geometry(type) && !broken_;
    }
    void end_geometry() override {
        if (live()) out_->end_geometry();
    }
    bool begin_animation(const char* first, const char* second) override {
        return live() && out_->begin_animation(first, second) && !broken_;
    }
    void end_animation() override {
        if (live()) out_->end_animation();
    }
    bool begin_load(const char* module) override {
        return live() && out_->begin_load(module) && !broken_;
    }
    void end_load() override {
        if (live()) out_->end_load();
    }
    bool begin_options() override { return live() && out_->begin_options() && !broken_; }
    void end_options() override {
        if (live()) out_->end_options();
    }
    bool begin_camera(const char* name) override {
        return live() && out_->begin_camera(name) && !broken_;
    }
    void end_camera() override {
        if (live()) out_->end_camera();
    }
    bool begin_image() override { return live() && out_->begin_image() && !broken_; }
    void end_image() override {
        if (live()) out_->end_image();
    }
    bool begin_output(const char* a, const char* b, const char* c) override {
        return live() && out_->begin_output(a, b, c) && !broken_;
    }
    void end_output() override {
        if (live()) out_->end_output();
    }
    bool begin_light(const char* name) override {
        return live() && out_->begin_light(name) && !broken_;
    }
    void end_light() override {
        if (live()) out_->end_light();
    }
    bool begin_accel(const char* name) override {
        return live() && out_->begin_accel(name) && !broken_;
    }
    void end_accel() override {
        if (live()) out_->end_accel();
    }
    void transform(const double* m) override {
        if (live()) out_->transform(m);
    }
    void set_transform(const double* m) override {
        if (live()) out_->set_transform(m);
    }
    void scale(const double& x, const double& y, const double& z) override {
        if (live()) out_->scale(x, y, z);
    }
    void rotate(const double& x, const double& y, const double& z) override {
        if (live()) out_->rotate(x, y, z);
    }
    void translate(const double& x, const double& y, const double& z) override {
        if (live()) out_->translate(x, y, z);
    }
    bool begin_matrix(const char* name) override {
        return live() && out_->begin_matrix(name) && !broken_;
    }
    void end_matrix() override {
        if (live()) out_->end_matrix();
    }
    bool begin_material(const char* name, bool instance) override {
        return live() && out_->begin_material(name, instance) && !broken_;
    }
    bool use_material(const char* name) override {
        return live() && out_->use_material(name) && !broken_;
    }
    void end_material() override {
        if (live()) out_->end_material();
    }
    void shader_text(uint32_t kind, CaptureBuffer* text) override {
        if (live()) out_->shader_text(kind, text);
    }
    void shader_ref(uint32_t kind, int id) override {
        if (live()) out_->shader_ref(kind, id);
    }
    bool begin_shader(const char* name, const char* type) override {
        return live() && out_->begin_shader(name, type) && !broken_;
    }
    bool begin_shader_id(const char* type, int id) override {
        return live() && out_->begin_shader_id(type, id) && !broken_;
    }
    void end_shader() override {
        if (live()) out_->end_shader();
    }
    // Never null: callers hand the buffer on without checking it.
    CaptureBuffer* captured_text() override {
        CaptureBuffer* text = live() ? out_->captured_text() : nullptr;
        return text != nullptr ? text : &spare_;
    }
    void push_capture() override {
        if (live()) out_->push_capture();
    }
    void pop_capture() override {
        if (live()) out_->pop_capture();
    }
    bool set_value(const char* name, int32_t code, const void* value) override {
        return live() && out_->set_value(name, code, value) && !broken_;
    }
    bool set_shader_link(const char* name, int id) override {
        return live() && out_->set_shader_link(name, id) && !broken_;
    }
    bool set_text_link(const char* name, CaptureBuffer* text) override {
        return live() && out_->set_text_link(name, text) && !broken_;
    }
    bool begin_list(const char* name) override {
        return live() && out_->begin_list(name) && !broken_;
    }
    void end_list() override {
        if (live()) out_->end_list();
    }
    void add_list_item(int32_t code, const void* value) override {
        if (live()) out_->add_list_item(code, value);
    }
    int reserved_51() override { return 10; }
    int reserved_52() override { return 10; }
    int reserved_53() override { return 0; }
    void attribute(const char* key, const char* value) override {
        if (live()) out_->attribute(key, value);
    }
    [[gnu::format(printf, 2, 3)]] void print_formatted(const char* format, ...) override {
        if (!live() || format == nullptr) return;
        va_list args;
        va_start(args, format);
        va_list again;
        va_copy(again, args);
        std::string text(4096, '\0');
        int n = std::vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) >= text.size()) {
            text.resize(static_cast<size_t>(n) + 1);
            n = std::vsnprintf(text.data(), text.size(), format, again);
        }
        va_end(again);
        if (n < 0) return;
        out_->print_formatted("%s", text.c_str());
    }
    void set_mode(int flags) override {
        if (live()) out_->set_mode(flags);
    }
    void version(int number) override {
        if (live()) out_->version(number);
    }
    void reserved_58() override {}
    void progress(const char* name, float fraction) override {
        if (live()) out_->progress(name, fraction);
    }
    void icon(const unsigned char* bytes, int length) override {
        if (live()) out_->icon(bytes, length);
    }
    void blob(const char* key, const unsigned char* bytes, int length) override {
        if (live()) out_->blob(key, bytes, length);
    }
    // Before a connection this is the client's number, sent with the greeting; during one it
    // is an object id in the scene.
    void id(unsigned value) override {
        if (live())
            out_->id(value);
        else if (socket_ == platform::kNoSocket)
            clientId_ = value;
    }
    void flags(unsigned value) override {
        if (live()) out_->flags(value);
    }
    bool reserved_64() override { return false; }
    bool render() override { return live() && out_->render() && !broken_; }
    void print(const char* text) override {
        if (live()) out_->print(text);
    }
    void error(const char* text) override {
        if (live()) out_->error(text);
    }

    // Drops the connection without the end mark: the renderer discards what it got.
    void abort() {
        broken_ = true;
        closeWriter();
        platform::closeSocket(socket_);
        socket_ = platform::kNoSocket;
    }

  private:
    bool live() const { return socket_ != platform::kNoSocket && !broken_; }

    void closeWriter() {
        out_.reset();  // flushes into the stream; a broken stream takes nothing
        stream_.reset();
    }

    // The writer's bytes as frames into the socket.
    bool sendFrames(const char* bytes, size_t size) {
        if (broken_ || socket_ == platform::kNoSocket) return false;
        size_t done = 0;
        while (done < size) {
            const size_t n = std::min(size - done, wire::kClientFrame);
            const std::string head = littleEndianLength(static_cast<uint32_t>(n));
            const platform::Piece pieces[2] = {{head.data(), head.size()}, {bytes + done, n}};
            if (!wire::sendAll(socket_, pieces, 2, timeouts_.progressMs)) {
                // Dead or stuck: no later call waits again.
                broken_ = true;
                return false;
            }
            done += n;
        }
        return true;
    }

    Socket socket_ = platform::kNoSocket;
    std::unique_ptr<platform::SinkStream> stream_;
    std::unique_ptr<vexScene_api_file> out_;
    // Set where the stream's bytes are sent, which may be another thread (LinkPlatform).
    std::atomic<bool> broken_ = false;
    unsigned clientId_ = 0;
    wire::Timeouts timeouts_;
    CaptureBuffer spare_;
};

// ---- query interface ----------------------------------------------------------------------

class LiveQuery final : public vexQuery_api {
  public:
    explicit LiveQuery(std::string prefix) : prefix_(std::move(prefix)) {}

    const char* instances() override {
        if (prefix_.empty()) return nullptr;
        const auto records = liveInstances(instanceFolder(prefix_));
        if (records.empty()) return nullptr;
        instances_ = "<instances>";
        for (const InstanceRecord& r : records) {
            instances_ += "<instance><version_major>" + std::to_string(r.version) +
                          "</version_major><process_id>" + std::to_string(r.processId) +
                          "</process_id><livelink_port>" + std::to_string(r.port) +
                          "</livelink_port></instance>";
        }
        instances_ += "</instances>";
        return instances_.c_str();
    }

    bool attach(int64_t processId) override {
        attached_.reset();
        if (prefix_.empty()) return false;
        for (const InstanceRecord& r : liveInstances(instanceFolder(prefix_))) {
            if (r.processId == processId) {
                attached_ = r;
                return true;
            }
        }
        return false;
    }

    void detach() override { attached_.reset(); }

    const char* sceneDescription() override {
        if (!attached_) return nullptr;
        const wire::Timeouts timeouts = wire::timeoutsFromEnvironment();
        const auto deadline = wire::after(timeouts.describeMs);
        const Socket socket = wire::connectTo("127.0.0.1", attached_->port,
                                              std::min(timeouts.connectMs, timeouts.describeMs));
        if (socket == platform::kNoSocket) return nullptr;
        const bool ok = ask(socket, deadline);
        platform::closeSocket(socket);
        return ok ? description_.c_str() : nullptr;
    }

  private:
    // One request: greeting, "DESCRIPTION <length>", exactly that many bytes of text.
    bool ask(Socket socket, wire::Clock::time_point deadline) {
        const std::string request = std::string(wire::kMagic) + " " + wire::kDescribe + "\n";
        if (!wire::sendText(socket, request, wire::millisecondsLeft(deadline))) return false;
        wire::Reader reader(socket);
        const auto line = reader.line(deadline);
        const auto words = line ? wire::afterMagic(*line) : std::nullopt;
        std::string rest;
        if (!words || !startsWithWord(*words, wire::kDescription, rest)) return false;
        size_t length = 0;
        const auto parsed = std::from_chars(rest.data(), rest.data() + rest.size(), length);
        if (rest.empty() || parsed.ec != std::errc() || parsed.ptr != rest.data() + rest.size() ||
            length == 0 || length > wire::kMaxDescription) {
            return false;
        }
        std::string text;
        if (!reader.exact(length, text, deadline)) return false;
        // The add-in reads a C string: a zero byte would cut it into something else.
        if (text.find('\0') != std::string::npos) return false;
        description_ = std::move(text);
        return true;
    }

    std::string prefix_;
    std::string instances_;
    std::string description_;
    std::optional<InstanceRecord> attached_;
};

// ---- root object --------------------------------------------------------------------------

class LiveRoot final : public vexLive_api {
  public:
    LiveRoot() : query_(libraryPrefix()) {}
    void destroy(int) override { delete this; }
    static vexLive_api* make() {
        if (!platform::startSockets()) return nullptr;
        try {
            return new LiveRoot();
        } catch (...) {
            platform::stopSockets();
            return nullptr;
        }
    }
    vexScene_api* scene_api() override { return &scene_; }
    vexQuery_api* query_api() override { return &query_; }

  private:
    ~LiveRoot() {
        scene_.abort();  // the connection goes before the sockets do
        platform::stopSockets();
    }
    LiveScene scene_;
    LiveQuery query_;
};

}  // namespace

VEX_LIVE_EXPORT vexLive_api* raymint_live_initialize() {
    return LiveRoot::make();
}
