// The stand-in host's platform seam: how it loads an add-in library, finds the library a
// piece of code belongs to, and turns its UTF-8 texts into file names. POSIX version in
// HostPlatform_posix.cpp, Windows version in HostPlatform_win32.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace host::platform {

// A file name from UTF-8 text (on Windows, where narrow names are in the ANSI code page,
// through the wide form), and back.
std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8FromPath(const std::filesystem::path& path);

// The file of the library (or program) whose code holds `address`.
std::filesystem::path moduleOf(const void* address);

// The running program's file.
std::filesystem::path programFile();

// The command line as UTF-8 texts (on Windows read from the wide command line).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// An add-in library loaded for the host's lifetime of it.
class Library {
  public:
    // Loads `path`; on failure `error()` says why.
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    void* symbol(const char* name) const;
    // Unloads it; true when the system no longer has it mapped afterwards (a loader may keep
    // a library, for example one with unique symbols, until the program ends).
    bool unload();

  private:
    std::string path_;
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace host::platform
