#include <dlfcn.h>
#include <link.h>

#include "HostPlatform.hpp"

namespace host::platform {

namespace fs = std::filesystem;

fs::path pathFromUtf8(const std::string& text) {
    return fs::path(text);
}

std::string utf8FromPath(const fs::path& path) {
    return path.string();
}

fs::path moduleOf(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    std::error_code ec;
    // A library's name is the path it was loaded by (relative to the working folder at most);
    // the main program's is empty.
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 && map &&
        map->l_name != nullptr && map->l_name[0] != '\0')
        return fs::absolute(map->l_name, ec);
    return programFile();
}

fs::path programFile() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec);
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

Library::Library(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why ? why : "?";
    }
}

Library::~Library() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* Library::symbol(const char* name) const {
    return dlsym(handle_, name);
}

bool Library::unload() {
    if (handle_ == nullptr) return true;
    dlclose(handle_);
    handle_ = nullptr;
    void* stillMapped = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (stillMapped != nullptr) dlclose(stillMapped);
    return stillMapped == nullptr;
}

}  // namespace host::platform
