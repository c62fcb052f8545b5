// Platform seam for loading the live-link library: load, look up an export, release,
// shaped like LoadLibraryW, GetProcAddress and FreeLibrary. POSIX version (dlopen, dlsym,
// dlclose) in LibraryPlatform_posix.cpp, Windows version in LibraryPlatform_win32.cpp.
#pragma once

#include <string>

namespace vex::platform {

// What follows the width (32 or 64) in a library's file name.
#ifdef _WIN32
inline constexpr wchar_t kLibrarySuffix[] = L".dll";
#else
inline constexpr wchar_t kLibrarySuffix[] = L".so";
#endif

struct LibraryModule;
using LibraryHandle = LibraryModule*;

// Null when the file is missing, is no library for this process (another width, not a
// shared object at all) or cannot be loaded.
LibraryHandle loadLibrary(const std::wstring& path);

// Address of the exported symbol, null when there is none.
void* librarySymbol(LibraryHandle library, const char* name);

bool freeLibrary(LibraryHandle library);

}  // namespace vex::platform
