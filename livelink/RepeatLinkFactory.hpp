// The output target for a running renderer: finds one through the live-link library's
// query interface (starting the renderer when none runs), connects the library's scene
// interface to it and hands that interface out. Blocks the calling thread while it waits.
// docs/live-link-target.md describes the choice of the renderer and the ports tried.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "livelink/LiveLinkApi.hpp"
#include "sceneapi/LightFactory.hpp"

namespace tinyxml2 {
class XMLElement;
}

namespace vex {

// One running renderer as the query interface lists it; all zero means none.
struct RendererInstance {
    int32_t versionMajor = 0;
    int64_t processId = 0;
    int32_t liveLinkPort = 0;

    bool operator==(const RendererInstance&) const = default;
};

class RepeatLinkFactory : public LightFactory {
  public:
    RepeatLinkFactory() = default;
    // Disconnects and unloads the library as close() does.
    ~RepeatLinkFactory() override;
    RepeatLinkFactory(const RepeatLinkFactory&) = delete;
    RepeatLinkFactory& operator=(const RepeatLinkFactory&) = delete;

    // The connected scene interface, connecting first when there is none; null on failure,
    // with errorMessage() telling why. Every call clears the previous message.
    vexScene_api* scene_api() override;
    void begin(vexSceneapi_oo& wrapper) override;
    // Disconnects and unloads the library when connected; nothing otherwise.
    void close() override;

    // Inclusive range of the renderer's major versions.
    void setVersionRange(int32_t minimum, int32_t maximum);
    // The model set (design) whose renderer is preferred; empty prefers none.
    void setModelSetName(std::string name);
    // Whether a renderer that shows something else may be chosen over an empty one.
    void setAcceptAnyInstance(bool accept);
    // Whether the last choice was a renderer that shows the model set.
    bool foundModelSet() const { return foundModelSet_; }
    std::string errorMessage() const { return errorMessage_; }

    // The renderers in the version range, in the order listed; empty when there is no list
    // or it is not well-formed XML. An entry lacking one of its three numbers, or with a
    // number outside 32 bits, is left out.
    std::vector<RendererInstance> queryInstances(vexQuery_api* query) const;
    // The best renderer of `list` (asking each through `query`), all zero when none fits;
    // sets foundModelSet().
    RendererInstance pickInstance(const std::vector<RendererInstance>& list, vexQuery_api* query);

    // The first element named `tag` in document order, `element` itself included; null
    // when there is none.
    static const tinyxml2::XMLElement* findElementByTag(const tinyxml2::XMLElement* element,
                                                        const char* tag);
    // An element named `name` (attribute "name") within `depth` levels, `element` being the
    // first; an element whose "modelset" attribute is anything but "active" hides itself
    // and everything below it. Null when there is none.
    static const tinyxml2::XMLElement* findModelSet(const tinyxml2::XMLElement* element,
                                                    const std::string& name, int depth);

    // The launch wait: launchWaitAttempts - 1 polls, each followed by a pause of
    // waitIntervalMs. Public so that tests can shorten it; the product keeps the defaults.
    int32_t launchWaitAttempts = 30;
    int32_t waitIntervalMs = 1000;

  private:
    // Leaves sceneApi_ set and returns true when connected; otherwise sceneApi_ is null
    // and `reason` says why.
    bool connectToRenderer(std::string& reason);
    bool connectToPort(int32_t port);

    vexScene_api* sceneApi_ = nullptr;  // the library's; set exactly while connected
    int32_t minVersion_ = 7;
    int32_t maxVersion_ = 20;
    std::string modelSetName_;
    bool acceptAnyInstance_ = false;
    bool foundModelSet_ = false;
    std::string errorMessage_;
    uint32_t clientId_ = 1;
};

}  // namespace vex
