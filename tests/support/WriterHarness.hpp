// Runs a scene file writer over an in-memory stream and returns what it wrote.
#pragma once

#include <cstdio>
#include <string>

#include "TestFiles.hpp"
#include "sceneapi/FilePlatform.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace vex::test {

// A path in UTF-8, also where narrow names are in another code page.
inline std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A stream whose bytes can be read back: a file in a folder of its own, as Windows has no
// memory streams (and tmpfile() names collide between processes there).
class MemoryStream {
  public:
    MemoryStream() : stream_(platform::openUtf8(utf8(dir_ / "stream"), "w+b")) {
        if (stream_ == nullptr) throw std::runtime_error("no file for a stream");
    }
    ~MemoryStream() { std::fclose(stream_); }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        return readFile(dir_ / "stream");
    }

  private:
    TempDir dir_;
    FILE* stream_;
};

// What `calls` made a writer write; `mode` goes to set_mode unless it is negative.
template <class F>
std::string writerOutput(F&& calls, int mode = 1, bool binary = false) {
    MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), binary);
        if (mode >= 0) writer.set_mode(mode);
        calls(writer);
    }
    return memory.text();
}

inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

}  // namespace vex::test
