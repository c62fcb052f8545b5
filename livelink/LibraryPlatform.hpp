// Platform seam for loading the live-link library: load, look up an export, release,
// shaped like LoadLibraryW, GetProcAddress and FreeLibrary. POSIX version (dlopen, dlsym,
// dlclose) in LibraryPlatform_posix.cpp.
#pragma once

#include <string>

namespace vex::platform {

struct LibraryModule;
using LibraryHandle = LibraryModule*;

// Null when the file is missing, is no library for this process (another width, not a
// shared object at all) or cannot be loaded.
LibraryHandle loadLibrary(const std::wstring& path);

// Address of the exported symbol, null when there is none.
void* librarySymbol(LibraryHandle library, const char* name);

bool freeLibrary(LibraryHandle library);

}  // namespace vex::platform
