// Loads the renderer's live-link library from the installation's bin folder (or the
// current directory), calls its entry point and hands out the scene and query interfaces
// of the one loaded instance. Not thread-safe: used only on the host's command thread.
#pragma once

#include <string>

#include "livelink/LibraryPlatform.hpp"
#include "livelink/LiveLinkApi.hpp"

// The loaded library; at most one exists at a time.
struct LiveLinkLibrary {
    vexLive_api* live = nullptr;                    // destroyed through live->destroy(1)
    vex::platform::LibraryHandle module = nullptr;  // released after the root object
};

// Loads the library if nothing is loaded (the range is then ignored while it stays
// loaded) and returns the root object's scene interface, or null.
vexScene_api* vex_get_scene_api(int minVersion, int maxVersion);

// As vex_get_scene_api, for the query interface.
vexQuery_api* vex_get_query_api(int minVersion, int maxVersion);

// Destroys the root object and unloads the library; nothing when nothing is loaded.
void vex_release_live_api();

// The library's file name without its width suffix: "vexraymintlive6_" from major
// version 6 on, "vexraymintlive" before.
std::wstring liveLinkBaseName(int majorVersion);

// Fills `state` for the installation in the range; false when there is no root object.
bool loadLiveLinkLibrary(LiveLinkLibrary& state, int minVersion, int maxVersion);
