#include <windows.h>

#include <cstring>

#include "livelink/LibraryPlatform.hpp"

namespace vex::platform {

LibraryHandle loadLibrary(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return nullptr;
    // A library of the other width must fail quietly, not with a system dialog.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(path.c_str());
    SetErrorMode(previous);
    return reinterpret_cast<LibraryHandle>(module);
}

void* librarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    const FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    void* address = nullptr;
    static_assert(sizeof address == sizeof symbol);
    std::memcpy(&address, &symbol, sizeof address);
    return address;
}

bool freeLibrary(LibraryHandle library) {
    return library != nullptr && FreeLibrary(reinterpret_cast<HMODULE>(library)) != 0;
}

}  // namespace vex::platform
