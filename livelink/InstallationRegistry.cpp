#include "livelink/InstallationRegistry.hpp"

#include <climits>
#include <cstdint>
#include <cwctype>
#include <optional>
#include <vector>

#include "livelink/ProcessPlatform.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace platform = vex::platform;
using platform::RegKey;

namespace {

// Buffer sizes in bytes: the searches read paths into 2048 bytes, callers get at most
// 260 wide characters, port texts 512 bytes and port numbers 4 bytes.
constexpr uint32_t kSearchBuffer = 2048;
constexpr uint32_t kPathBuffer = 520;
constexpr uint32_t kPortTextBuffer = 512;

constexpr int kFirstLogVersion = 5;
constexpr int kLastLogVersion = 20;

void closeKey(RegKey& key) {
    if (key != nullptr) platform::regCloseKey(key);
    key = nullptr;
}

// A value read as text into a buffer of `capacity` bytes, as the registry hands it back
// whatever type it was stored under: a text stored as REG_EXPAND_SZ or as binary UTF-16
// reads as text (not expanded), a number as the characters its bytes make, on every
// platform alike. The text ends at its first NUL or with the data. Nullopt when the value
// is missing, does not fit, or is not valid UTF-16.
std::optional<std::wstring> readString(RegKey key, const wchar_t* name, uint32_t capacity) {
    std::vector<uint8_t> buffer(capacity);
    uint32_t size = capacity;
    if (platform::regQueryValueEx(key, name, nullptr, buffer.data(), &size) !=
            platform::kErrorSuccess ||
        size > capacity) {
        return std::nullopt;
    }
    std::u16string units;
    for (uint32_t i = 0; i + 1 < size; i += 2) {
        const auto u = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
        if (u == u'\0') break;
        units += u;
    }
    return platform::wideFromUtf16(units);
}

// A value read as a 32-bit number: whatever was stored, when its data is exactly the 4
// bytes the buffer takes (a DWORD, or 4 bytes of binary data). Shorter data would leave
// part of the number undefined.
std::optional<uint32_t> readDword(RegKey key, const wchar_t* name) {
    uint8_t buffer[4] = {};
    uint32_t size = sizeof buffer;
    if (platform::regQueryValueEx(key, name, nullptr, buffer, &size) != platform::kErrorSuccess ||
        size != sizeof buffer) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(buffer[0]) | (static_cast<uint32_t>(buffer[1]) << 8) |
           (static_cast<uint32_t>(buffer[2]) << 16) | (static_cast<uint32_t>(buffer[3]) << 24);
}

// wcstol with base 10 on `text`: leading blanks, a sign, digits up to the first other
// character, 0 without digits. Saturates instead of wrapping, so that no huge number can
// turn into a plausible version.
int leadingNumber(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool validPort(long long port) {
    return port >= 1 && port <= 65535;
}

// A port written as decimal text, blanks around it allowed; nothing else, so that a
// mistyped value does not become port 0 or a part of itself.
std::optional<int> portFromText(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    if (i < text.size() && text[i] == L'+') ++i;
    const size_t digitsStart = i;
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > 65535) return std::nullopt;
    }
    if (i == digitsStart) return std::nullopt;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    if (i != text.size() || !validPort(value)) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> portFromDword(RegKey key, const wchar_t* name) {
    const auto v = readDword(key, name);
    if (!v || !validPort(*v)) return std::nullopt;
    return static_cast<int>(*v);
}

std::optional<int> portFromString(RegKey key, const wchar_t* name) {
    const auto text = readString(key, name, kPortTextBuffer);
    if (!text) return std::nullopt;
    return portFromText(*text);
}

std::wstring installationKeyName(int version) {
    return std::wstring(InstallationRegistry::kBaseKey) + L"RayMint " + std::to_wstring(version);
}

std::wstring logResourceFolder() {
    return InstallationRegistry::instance().resourceFolder(kFirstLogVersion, kLastLogVersion);
}

}  // namespace

const InstallationRegistry& InstallationRegistry::instance() {
    static const InstallationRegistry registry = [] {
        setLogFolderSource(logResourceFolder);
        return InstallationRegistry();
    }();
    return registry;
}

int InstallationRegistry::versionFromActivePath(const std::wstring& path) {
    const size_t character = path.find_last_of(L"RayMint");
    size_t separator = path.rfind(L'/');
    if (separator == std::wstring::npos) separator = path.rfind(L'\\');
    if (character == std::wstring::npos || separator == std::wstring::npos ||
        separator == character + 1) {
        return -1;
    }
    const size_t end = separator > character ? separator : path.size();
    return leadingNumber(std::wstring_view(path).substr(character + 1, end - character - 1));
}

int InstallationRegistry::versionFromVersionValue(const std::wstring& value) {
    const size_t blank = value.find(L' ');
    return leadingNumber(blank == std::wstring::npos ? std::wstring_view(value)
                                                     : std::wstring_view(value).substr(blank + 1));
}

RegKey InstallationRegistry::checkInstallationKey(RegKey hive, const std::wstring& subKey) const {
    RegKey key = nullptr;
    if (platform::regOpenKeyEx(hive, subKey.c_str(), 0, platform::kKeyRead, &key) !=
        platform::kErrorSuccess) {
        return nullptr;
    }
    const auto bin = readString(key, L"BinName", kSearchBuffer);
    const auto resources = readString(key, L"ResourceFolder", kSearchBuffer);
    if (bin && platform::readableRegularFile(*bin) && resources &&
        platform::directoryExists(*resources)) {
        return key;
    }
    closeKey(key);
    return nullptr;
}

InstallationRegistry::Found InstallationRegistry::keyFromActivePath(RegKey hive) const {
    RegKey base = nullptr;
    if (platform::regOpenKeyEx(hive, kBaseKey, 0, platform::kKeyRead, &base) !=
        platform::kErrorSuccess) {
        return {};
    }
    const auto active = readString(base, L"RayMintActivePath", kSearchBuffer);
    closeKey(base);
    if (!active) return {};
    Found found;
    found.version = versionFromActivePath(*active);
    found.key = checkInstallationKey(hive, installationKeyName(found.version));
    return found.key != nullptr ? found : Found{};
}

InstallationRegistry::Found InstallationRegistry::keyFromVersionValue(RegKey hive) const {
    RegKey base = nullptr;
    if (platform::regOpenKeyEx(hive, kBaseKey, 0, platform::kKeyRead, &base) !=
        platform::kErrorSuccess) {
        return {};
    }
    const auto value = readString(base, L"RayMintVersion", kSearchBuffer);
    closeKey(base);
    if (!value) return {};
    const int version = versionFromVersionValue(*value);
    if (version < 1) return {};
    RegKey key = checkInstallationKey(hive, std::wstring(kBaseKey) + *value);
    if (key == nullptr) return {};
    return {key, version};
}

InstallationRegistry::Found InstallationRegistry::keyFromVersionScan(RegKey hive, int minVersion,
                                                                     int maxVersion) const {
    RegKey base = nullptr;
    if (platform::regOpenKeyEx(hive, kBaseKey, 0, platform::kKeyRead, &base) !=
        platform::kErrorSuccess) {
        return {};
    }
    closeKey(base);
    // long long: a range reaching INT_MIN must end, not wrap.
    for (long long n = maxVersion; n >= minVersion; --n) {
        const int version = static_cast<int>(n);
        if (RegKey key = checkInstallationKey(hive, installationKeyName(version))) {
            return {key, version};
        }
    }
    return {};
}

long InstallationRegistry::findInstallationKey(int minVersion, int maxVersion, RegKey& key,
                                               int& version) const {
    auto inRange = [&](const Found& f) {
        return f.key != nullptr && f.version >= minVersion && f.version <= maxVersion;
    };
    Found best;
    for (RegKey hive : {platform::kHkeyCurrentUser, platform::kHkeyLocalMachine}) {
        Found active = keyFromActivePath(hive);
        Found named = keyFromVersionValue(hive);
        Found scanned = keyFromVersionScan(hive, minVersion, maxVersion);
        Found chosen;
        if (inRange(active)) {
            std::swap(chosen, active);
        } else if (inRange(named)) {
            std::swap(chosen, named);
        } else {
            std::swap(chosen, scanned);
        }
        closeKey(active.key);
        closeKey(named.key);
        closeKey(scanned.key);
        // The local machine replaces the current user only with a strictly higher version.
        if (chosen.key != nullptr && (best.key == nullptr || chosen.version > best.version)) {
            closeKey(best.key);
            best = chosen;
        } else {
            closeKey(chosen.key);
        }
    }
    if (best.key == nullptr) {
        key = nullptr;
        return kNotFound;
    }
    key = best.key;
    version = best.version;
    return 0;
}

std::wstring InstallationRegistry::installationValue(int minVersion, int maxVersion,
                                                     const wchar_t* name, int* version) const {
    RegKey key = nullptr;
    int found = -1;
    if (findInstallationKey(minVersion, maxVersion, key, found) != 0) return {};
    if (version != nullptr) *version = found;
    const auto value = readString(key, name, kPathBuffer);
    closeKey(key);
    return value.value_or(std::wstring());
}

std::wstring InstallationRegistry::binFolder(int minVersion, int maxVersion, int* version) const {
    return installationValue(minVersion, maxVersion, L"BinFolder", version);
}

std::wstring InstallationRegistry::binName(int minVersion, int maxVersion) const {
    return installationValue(minVersion, maxVersion, L"BinName", nullptr);
}

std::wstring InstallationRegistry::resourceFolder(int minVersion, int maxVersion) const {
    return installationValue(minVersion, maxVersion, L"ResourceFolder", nullptr);
}

int InstallationRegistry::liveLinkPorts(int minVersion, int maxVersion, int& firstPort,
                                        int& lastPort) const {
    RegKey key = nullptr;
    int version = -1;
    if (findInstallationKey(minVersion, maxVersion, key, version) != 0) return kNoInstallation;
    // The type "LiveLinkPort" was stored under decides how "LiveLinkMaxPort" is read.
    std::optional<int> first = portFromDword(key, L"LiveLinkPort");
    std::optional<int> last;
    if (first) {
        last = portFromDword(key, L"LiveLinkMaxPort");
    } else {
        first = portFromString(key, L"LiveLinkPort");
        if (first) last = portFromString(key, L"LiveLinkMaxPort");
    }
    closeKey(key);
    if (!first) return kFirstPortMissing;
    firstPort = *first;
    if (!last) return kLastPortMissing;
    lastPort = *last;
    return kPortsRead;
}

bool InstallationRegistry::launchRenderer(int minVersion, int maxVersion) const {
    const std::wstring bin = binName(minVersion, maxVersion);
    if (bin.empty()) return false;
    return platform::startDetachedProcess(bin);
}
