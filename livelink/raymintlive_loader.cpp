#include "livelink/raymintlive_loader.hpp"

#include "livelink/InstallationRegistry.hpp"
#include "livelink/LibraryPlatform.hpp"
#include "sceneapi/Log.hpp"
#include "sceneapi/LogPlatform.hpp"

namespace {

// The line numbers in the log lines of this module are fixed, so that the lines read
// the same whatever is edited above them.
constexpr int kLineBinFolder = 153;
constexpr int kLineModuleHandle = 218;
constexpr int kLineNoModule = 234;
constexpr int kLineRootObject = 245;
constexpr int kLineQueryRequest = 282;

LiveLinkLibrary* g_library = nullptr;

const void* pointer(const void* p) {
    return p;
}

LiveLinkLibrary* ensureLoaded(int minVersion, int maxVersion) {
    if (g_library == nullptr) {
        g_library = new LiveLinkLibrary();
        if (!loadLiveLinkLibrary(*g_library, minVersion, maxVersion)) vex_release_live_api();
    }
    if (g_library == nullptr || g_library->live == nullptr) return nullptr;
    return g_library;
}

}  // namespace

std::wstring liveLinkBaseName(int majorVersion) {
    return majorVersion >= 6 ? L"vexraymintlive6_" : L"vexraymintlive";
}

bool loadLiveLinkLibrary(LiveLinkLibrary& state, int minVersion, int maxVersion) {
    int version = -1;
    const std::wstring folder =
        InstallationRegistry::instance().binFolder(minVersion, maxVersion, &version);
    if (folder.empty()) return false;
    const std::wstring base = liveLinkBaseName(version);
    const std::wstring stems[] = {
        folder + vex::platform::kPathSeparator + base,
        std::wstring(L".") + vex::platform::kPathSeparator + base,
    };
    // The folder comes from a registry file: escaped so that it cannot break the line.
    VEX_LOG_AT(logDEBUG4, kLineBinFolder) << logText(folder);
    if (state.module == nullptr) {
        // The 32-bit name first: a library of the wrong width just fails to load.
        for (const std::wstring& stem : stems) {
            for (const wchar_t* width : {L"32", L"64"}) {
                if (state.module == nullptr)
                    state.module =
                        vex::platform::loadLibrary(stem + width + vex::platform::kLibrarySuffix);
            }
        }
    }
    VEX_LOG_AT(logDEBUG4, kLineModuleHandle)
        << "initialize shared handle: " << pointer(state.module);
    if (state.module == nullptr) {
        VEX_LOG_AT(logWARNING, kLineNoModule) << "NO shared handle";
        return false;
    }
    if (void* entry = vex::platform::librarySymbol(state.module, kLiveLinkEntryPoint)) {
        state.live = reinterpret_cast<raymint_live_initialize_fn>(entry)();
    }
    VEX_LOG_AT(logDEBUG4, kLineRootObject) << "Raymint live: " << pointer(state.live);
    return state.live != nullptr;
}

vexScene_api* vex_get_scene_api(int minVersion, int maxVersion) {
    LiveLinkLibrary* library = ensureLoaded(minVersion, maxVersion);
    return library != nullptr ? library->live->scene_api() : nullptr;
}

vexQuery_api* vex_get_query_api(int minVersion, int maxVersion) {
    // The lookup also tells the log where it goes, so it must be set up before logging.
    InstallationRegistry::instance();
    VEX_LOG_AT(logDEBUG4, kLineQueryRequest)
        << "vex_get_query_api -> raymint_live_loader: " << pointer(g_library);
    LiveLinkLibrary* library = ensureLoaded(minVersion, maxVersion);
    return library != nullptr ? library->live->query_api() : nullptr;
}

void vex_release_live_api() {
    if (g_library == nullptr) return;
    LiveLinkLibrary* library = g_library;
    if (library->live != nullptr) library->live->destroy(1);
    if (library->module != nullptr) vex::platform::freeLibrary(library->module);
    delete library;
    g_library = nullptr;
}
