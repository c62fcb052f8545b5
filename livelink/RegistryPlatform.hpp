// Platform seam for the registry: open key, query value, close key, shaped like
// RegOpenKeyExW, RegQueryValueExW and RegCloseKey so that a Windows build maps them one
// to one. The POSIX version (RegistryPlatform_posix.cpp) reads each hive from a file in
// the text syntax of registry exports; docs/registry-files.md gives the locations.
#pragma once

#include <cstdint>

namespace vex::platform {

struct RegistryKeyObject;
using RegKey = RegistryKeyObject*;

// The two predefined roots the installation lookup reads.
extern const RegKey kHkeyCurrentUser;
extern const RegKey kHkeyLocalMachine;

// Status codes, as the Windows registry functions return them.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNotFound = 1168;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

inline constexpr uint32_t kKeyRead = 0x20019;

// Opens `subKey` (components separated by backslashes, case-insensitive) below `parent`,
// a root or an open key. The key holds what the hive said when it was opened.
long regOpenKeyEx(RegKey parent, const wchar_t* subKey, uint32_t options, uint32_t access,
                  RegKey* result);

// Reads the value `name` (null or empty: the key's default value). With `data` null only
// `*size` is set. When `*size` is smaller than the value, kErrorMoreData and the needed
// size. Strings come as UTF-16 code units with their terminating NUL, as on Windows, so
// buffer sizes mean the same bytes on every platform.
long regQueryValueEx(RegKey key, const wchar_t* name, uint32_t* type, uint8_t* data,
                     uint32_t* size);

long regCloseKey(RegKey key);

}  // namespace vex::platform
