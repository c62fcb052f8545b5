#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include <cstring>

#include "HostPlatform.hpp"

namespace host::platform {

namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

fs::path moduleFile(HMODULE module) {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) return {};
        if (n < name.size()) return fs::path(name.substr(0, n));
        if (name.size() >= 32768) return {};
        name.resize(name.size() * 2);
    }
}

}  // namespace

// Text that is not UTF-8 gives an empty path, which no file has.
fs::path pathFromUtf8(const std::string& text) {
    return fs::path(wide(text));
}

std::string utf8FromPath(const fs::path& path) {
    return narrow(path.wstring());
}

fs::path moduleOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return programFile();
    return moduleFile(module);
}

fs::path programFile() {
    return moduleFile(nullptr);
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int n = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &n);
    if (args == nullptr || n != argc) {
        if (args != nullptr) LocalFree(args);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(narrow(args[i]));
    LocalFree(args);
    return out;
}

Library::Library(const std::string& path) : path_(path) {
    const std::wstring file = wide(path);
    if (file.empty()) {
        error_ = "the file name is not UTF-8";
        return;
    }
    // A broken library must fail here, not with a system dialog.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = LoadLibraryW(file.c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previous);
    if (handle_ == nullptr) error_ = "LoadLibraryW failed with error " + std::to_string(code);
}

Library::~Library() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Library::symbol(const char* name) const {
    const FARPROC f = GetProcAddress(static_cast<HMODULE>(handle_), name);
    void* address = nullptr;
    static_assert(sizeof address == sizeof f);
    std::memcpy(&address, &f, sizeof address);
    return address;
}

bool Library::unload() {
    if (handle_ == nullptr) return true;
    FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
    return GetModuleHandleW(wide(path_).c_str()) == nullptr;
}

}  // namespace host::platform
