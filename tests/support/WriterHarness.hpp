// Runs a scene file writer over an in-memory stream and returns what it wrote.
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestFiles.hpp"
#include "sceneapi/vexScene_api_file.hpp"

namespace vex::test {

#ifdef _WIN32
// No memory streams there: a temporary file, read back whole. (Not tmpfile(): it makes its
// files in the drive's root under names that collide between processes.)
class MemoryStream {
  public:
    MemoryStream() {
        for (int attempt = 0; attempt < 100 && stream_ == nullptr; ++attempt) {
            const auto path =
                std::filesystem::temp_directory_path() / (uniqueName("vex-stream-") + ".tmp");
            const int fd =
                _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                       _S_IREAD | _S_IWRITE);
            if (fd >= 0 && (stream_ = _fdopen(fd, "w+b")) == nullptr) _close(fd);
        }
        if (stream_ == nullptr) throw std::runtime_error("no temporary file for a stream");
    }
    ~MemoryStream() { std::fclose(stream_); }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        std::fseek(stream_, 0, SEEK_END);
        std::string bytes(static_cast<size_t>(std::ftell(stream_)), '\0');
        std::rewind(stream_);
        const size_t got = std::fread(bytes.data(), 1, bytes.size(), stream_);
        bytes.resize(got);
        std::fseek(stream_, 0, SEEK_END);
        return bytes;
    }

  private:
    FILE* stream_ = nullptr;
};
#else
class MemoryStream {
  public:
    MemoryStream() : stream_(open_memstream(&data_, &size_)) {}
    ~MemoryStream() {
        std::fclose(stream_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    FILE* stream() { return stream_; }
    std::string text() {
        std::fflush(stream_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};
#endif

inline constexpr int kAsConstructed = -1;

// `mode` is passed to set_mode unless it is kAsConstructed.
template <class F>
std::string writerOutput(F&& calls, int mode = 1, bool binary = false) {
    MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), binary);
        if (mode != kAsConstructed) writer.set_mode(mode);
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
