// The contract with the renderer's live-link library. The library exports
// "raymint_live_initialize", which returns its root object; the root object hands out the
// scene interface (vexScene_api) and the query interface, both owned by the library.
// The virtual tables below are a binary contract: the order of the operations and their
// types must not change. Neither class has a virtual destructor: the root object deletes
// itself through destroy(1) (an implementation is best final, so that it deletes its
// complete type), and the two interfaces live as long as the root object.
#pragma once

#include <cstdint>

#include "sceneapi/vexScene_api.hpp"

// Finds and inspects running renderer processes.
class vexQuery_api {
  public:
    // XML text listing the running renderers: a root element with one element per
    // process, each holding "version_major", "process_id" and "livelink_port" as decimal
    // text at any depth; null when there is none. Valid until the next call on this object.
    virtual const char* instances() = 0;  // 0
    // Starts asking the process; true when it can be asked.
    virtual bool attach(int64_t processId) = 0;  // 1
    virtual void reserved_2() {}                 // 2
    virtual void detach() = 0;                   // 3
    virtual void reserved_4() {}                 // 4
    virtual void reserved_5() {}                 // 5
    // XML text of the attached renderer's scene, model sets being elements with a "name"
    // attribute and the shown one carrying "modelset"="active"; null when unavailable.
    // Valid until the next call on this object.
    virtual const char* sceneDescription() = 0;  // 6

  protected:
    ~vexQuery_api() = default;
};

// The root object returned by the entry point.
class vexLive_api {
  public:
    // Called with 1 by the add-in when it is done; the object then deletes itself (with
    // the library's own allocator) and the library is unloaded right after.
    virtual void destroy(int flags) = 0;    // 0
    virtual vexScene_api* scene_api() = 0;  // 1, or null
    virtual vexQuery_api* query_api() = 0;  // 2, or null

  protected:
    ~vexLive_api() = default;
};

// The entry point: no arguments, the root object or null.
inline constexpr char kLiveLinkEntryPoint[] = "raymint_live_initialize";
using raymint_live_initialize_fn = vexLive_api* (*)();

// For the library's implementation: this is how the entry point is declared and exported.
#ifdef _WIN32
#define VEX_LIVE_EXPORT extern "C" __declspec(dllexport)
#else
#define VEX_LIVE_EXPORT extern "C" __attribute__((visibility("default")))
#endif
VEX_LIVE_EXPORT vexLive_api* raymint_live_initialize();
