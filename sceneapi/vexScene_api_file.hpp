// The scene interface implemented as a writer of the text scene file (.rmq).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sceneapi/vexScene_api.hpp"

// Output is collected in a 1 MiB buffer of the writer's own and handed to the stream in
// large blocks (that, not the stream's buffering, is what keeps the writer fast). Hence:
// - the stream must outlive the writer: the destructor hands the rest to it;
// - an owner that writes to the stream itself calls `flush` first, or its text lands
//   ahead of writer output that is still waiting in the buffer.
class vexScene_api_file : public vexScene_api {
  public:
    // The stream stays owned by the caller and is never closed here; null writes nothing.
    vexScene_api_file(FILE* stream, bool binaryArrays);
    ~vexScene_api_file() override;
    vexScene_api_file(const vexScene_api_file&) = delete;
    vexScene_api_file& operator=(const vexScene_api_file&) = delete;

    void reserved_1() override;
    bool connect(const char* host, int port, int mode) override;
    bool disconnect() override;
    bool reserved_4() override;
    bool begin_group(const char* name, bool instance) override;
    void end_group() override;
    bool begin_object(const char* name, bool instance) override;
    void end_object() override;
    bool begin_geometry(const char* type) override;
    void end_geometry() override;
    bool begin_animation(const char* first, const char* second) override;
    void end_animation() override;
    bool begin_load(const char* module) override;
    void end_load() override;
    bool begin_options() override;
    void end_options() override;
    bool begin_camera(const char* name) override;
    void end_camera() override;
    bool begin_image() override;
    void end_image() override;
    bool begin_output(const char* a, const char* b, const char* c) override;
    void end_output() override;
    bool begin_light(const char* name) override;
    void end_light() override;
    bool begin_accel(const char* name) override;
    void end_accel() override;
    void transform(const double* m) override;
    void set_transform(const double* m) override;
    void scale(const double& x, const double& y, const double& z) override;
    void rotate(const double& x, const double& y, const double& z) override;
    void translate(const double& x, const double& y, const double& z) override;
    bool begin_matrix(const char* name) override;
    void end_matrix() override;
    bool begin_material(const char* name, bool instance) override;
    bool use_material(const char* name) override;
    void end_material() override;
    void shader_text(uint32_t kind, CaptureBuffer* text) override;
    void shader_ref(uint32_t kind, int id) override;
    bool begin_shader(const char* name, const char* type) override;
    bool begin_shader_id(const char* type, int id) override;
    void end_shader() override;
    CaptureBuffer* captured_text() override;
    void push_capture() override;
    void pop_capture() override;
    bool set_value(const char* name, int32_t code, const void* value) override;
    bool set_shader_link(const char* name, int id) override;
    bool set_text_link(const char* name, CaptureBuffer* text) override;
    bool begin_list(const char* name) override;
    void end_list() override;
    void add_list_item(int32_t code, const void* value) override;
    int reserved_51() override;
    int reserved_52() override;
    int reserved_53() override;
    void attribute(const char* key, const char* value) override;
    void print_formatted(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void set_mode(int flags) override;
    void version(int number) override;
    void reserved_58() override;
    void progress(const char* name, float fraction) override;
    void icon(const unsigned char* bytes, int length) override;
    void blob(const char* key, const unsigned char* bytes, int length) override;
    void id(unsigned value) override;
    void flags(unsigned value) override;
    bool reserved_64() override;
    bool render() override;
    void print(const char* text) override;
    void error(const char* text) override;
    // The writer's own operation, after the interface's slots.
    virtual bool modify_camera(const char* name);

    // Hands everything buffered so far to the stream (with fwrite; the stream's own buffer
    // is not flushed, so direct writes that follow keep their order).
    void flush();
    // errno of the first failed write to the stream, 0 when none failed.
    int writeError() const { return writeError_; }

  private:
    enum class Block { none = 0, options = 1, camera = 2, image = 3, object = 4 };

    // Destinations: the current capture buffer while capture is on, else the stream.
    bool silent() const { return stream_ == nullptr; }
    // The capture buffer that writes go into, which may move on any of them.
    const CaptureBuffer* growing() const { return capture_ && !silent() ? current_ : nullptr; }
    void plain(const char* text, size_t n);
    void plain(const char* text);
    void raw(const void* bytes, size_t n);
    void indented(const char* text, size_t n);
    void indented(const char* text);
    void indentation();
    void name(const char* text);      // at level 0
    void nameHere(const char* text);  // at the current level
    void bytesBlob(const unsigned char* bytes, int length);
    void capturedText(const CaptureBuffer* text);
    void kindWord(uint32_t kind, bool trailingSpace);

    // Formats up to `maxLen` bytes with `format(char*) -> char*` into the destination.
    template <class F>
    void emitFormatted(size_t maxLen, F format);
    void streamWrite(const void* bytes, size_t n);

    void writeValue(int32_t code, const void* value);
    void writeArray(int32_t code, const SceneArray& array);
    void writeBinaryArray(char tag, const void* data, uint32_t scalars, size_t width);
    bool refusesTopLevel() const { return block_ != Block::none; }
    void openTopLevel(Block kind, const char* text);
    void closeTopLevel(Block kind);
    void pushContext();
    void popContext();
    // A stray end leaves the level at 0 rather than below, so later lines keep their indentation.
    void outdent() { level_ -= level_ > 0; }

    std::vector<int> indentStack_;
    std::vector<std::unique_ptr<CaptureBuffer>> captures_;
    std::vector<CaptureBuffer*> captureSave_;
    std::vector<bool> captureFlagStack_;
    std::vector<bool> contextStack_;
    bool capture_ = false;
    CaptureBuffer* current_ = nullptr;
    FILE* stream_;
    int level_ = 0;
    int listItems_ = 0;
    bool statement_ = false;
    Block block_ = Block::none;
    bool binaryArrays_;
    char pendingTag_ = 0;
    std::vector<uint32_t> pending_;
    uint32_t mode_ = 0x400001;
    std::string format_;           // receives print_formatted texts; grows instead of cutting
    std::unique_ptr<char[]> out_;  // output buffer in front of the stream, not zeroed
    size_t outUsed_ = 0;
    int writeError_ = 0;
    std::string savedLocale_;
};
