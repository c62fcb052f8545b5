// The system's registry: a RegKey is an HKEY, so every call maps one to one.
#include <windows.h>

#include "livelink/RegistryPlatform.hpp"

namespace vex::platform {
namespace {

HKEY handle(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

const RegKey kHkeyCurrentUser = reinterpret_cast<RegKey>(HKEY_CURRENT_USER);
const RegKey kHkeyLocalMachine = reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE);

long regOpenKeyEx(RegKey parent, const wchar_t* subKey, uint32_t options, uint32_t access,
                  RegKey* result) {
    if (result == nullptr) return kErrorInvalidParameter;
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(handle(parent), subKey, options, access, &key);
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegKey>(key) : nullptr;
    return status;
}

long regQueryValueEx(RegKey key, const wchar_t* name, uint32_t* type, uint8_t* data,
                     uint32_t* size) {
    DWORD valueType = REG_NONE;
    DWORD valueSize = size != nullptr ? *size : 0;
    const LSTATUS status = RegQueryValueExW(handle(key), name, nullptr, &valueType, data,
                                            size != nullptr ? &valueSize : nullptr);
    if (type != nullptr) *type = valueType;
    if (size != nullptr) *size = valueSize;
    return status;
}

long regCloseKey(RegKey key) {
    return RegCloseKey(handle(key));
}

}  // namespace vex::platform
