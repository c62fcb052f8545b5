// Runs a scene file writer over an in-memory stream and returns what it wrote.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestFiles.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace vex::test {

// A stream whose bytes can be read back. Windows has no memory streams: there it is a file in
// a folder of its own (not tmpfile(), whose names collide between processes there).
class MemoryStream {
  public:
#ifdef _WIN32
    MemoryStream() : stream_(_wfopen((dir_ / "stream").c_str(), L"w+b")) {
        if (stream_ == nullptr) throw std::runtime_error("no file for a stream");
    }
    std::string text() {
        std::fflush(stream_);
        return readFile(dir_ / "stream");
    }
#else
    MemoryStream() : stream_(open_memstream(&data_, &size_)) {}
    std::string text() {
        std::fflush(stream_);
        return std::string(data_, size_);
    }
#endif
    ~MemoryStream() {
        std::fclose(stream_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    FILE* stream() { return stream_; }

  private:
#ifdef _WIN32
    TempDir dir_;
#endif
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
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
