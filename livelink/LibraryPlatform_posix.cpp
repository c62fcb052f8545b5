#include <dlfcn.h>

#include "livelink/LibraryPlatform.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace vex::platform {

LibraryHandle loadLibrary(const std::wstring& path) {
    const auto native = nativePath(path);
    if (!native) return nullptr;
    // A name without a slash would be searched along the library path; the caller always
    // means a file, so make it one relative to the current directory.
    const std::string file = native->find('/') == std::string::npos ? "./" + *native : *native;
    // RTLD_LOCAL keeps the library's symbols from resolving anyone else's.
    return static_cast<LibraryHandle>(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* librarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

bool freeLibrary(LibraryHandle library) {
    return library != nullptr && dlclose(library) == 0;
}

}  // namespace vex::platform
