#include "livelink/RepeatLinkFactory.hpp"

#include <tinyxml2.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "livelink/InstallationRegistry.hpp"
#include "livelink/raymintlive_loader.hpp"
#include "sceneapi/TimePlatform.hpp"

namespace vex {

namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

// Ports of the installation records, whatever version range the caller asked for.
constexpr int kPortRecordsMinVersion = 5;
constexpr int kPortRecordsMaxVersion = 20;
// Mode numbers of the scene interface's connect.
constexpr int kReportedPortMode = 4;
constexpr int kRegistryPortMode = 1;
// The model set lies one level deeper from version 7 on.
constexpr int kModelSetDepth = 4;
constexpr int kOldModelSetDepth = 3;
constexpr int kDeeperModelSetVersion = 7;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads `text` as strtol does with base 10: leading blanks, a sign, the digits up to the
// first other character, 0 without digits. False when the number does not fit 32 bits:
// strtol would saturate it into a plausible but wrong process id or port.
bool leadingNumber(const char* text, int64_t& value) {
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    const char* p = text;
    while (isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kLimit) return false;
    }
    value = negative ? -magnitude : magnitude;
    return value >= INT32_MIN && value <= INT32_MAX;
}

// The number held by the first element named `tag` at or below `instance`; false when
// there is no such element, it has no text as its first child, or the number is too big.
bool numberBelow(const XMLElement* instance, const char* tag, int64_t& value) {
    const XMLElement* element = RepeatLinkFactory::findElementByTag(instance, tag);
    if (element == nullptr) return false;
    const char* text = element->GetText();
    return text != nullptr && leadingNumber(text, value);
}

// The next element after `element` in document order within the tree of `top`, without
// entering the children of `element` (null at the end). Walking the parent links needs no
// stack, so no depth of nesting can exhaust one. `level` follows the climb.
const XMLElement* nextOutside(const XMLElement* element, const XMLElement* top, int& level) {
    while (element != top) {
        if (const XMLElement* sibling = element->NextSiblingElement()) return sibling;
        element = element->Parent()->ToElement();
        --level;
    }
    return nullptr;
}

// A scene is empty when none of the scene element's children has children of its own.
bool sceneIsEmpty(const XMLElement* scene) {
    for (const XMLElement* child = scene->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        if (child->FirstChildElement() != nullptr) return false;
    }
    return true;
}

void keepHigher(RendererInstance& best, const RendererInstance& candidate) {
    if (candidate.versionMajor > best.versionMajor) best = candidate;
}

}  // namespace

RepeatLinkFactory::~RepeatLinkFactory() {
    close();
}

vexScene_api* RepeatLinkFactory::scene_api() {
    errorMessage_.clear();
    if (sceneApi_ != nullptr) return sceneApi_;
    std::string reason;
    if (!connectToRenderer(reason)) {
        errorMessage_ = "Failed to connect. " + reason;
        return nullptr;
    }
    return sceneApi_;
}

void RepeatLinkFactory::begin(vexSceneapi_oo&) {}

void RepeatLinkFactory::close() {
    if (sceneApi_ == nullptr) return;
    // Whether the renderer took the whole transfer shows only here; the caller may ask.
    if (!sceneApi_->disconnect()) {
        errorMessage_ = "Disconnect failed. The renderer may not have received everything.";
    }
    sceneApi_ = nullptr;
    vex_release_live_api();
}

void RepeatLinkFactory::setVersionRange(int32_t minimum, int32_t maximum) {
    minVersion_ = minimum;
    maxVersion_ = maximum;
}

void RepeatLinkFactory::setModelSetName(std::string name) {
    modelSetName_ = std::move(name);
}

void RepeatLinkFactory::setAcceptAnyInstance(bool accept) {
    acceptAnyInstance_ = accept;
}

bool RepeatLinkFactory::connectToRenderer(std::string& reason) {
    // The library stays loaded on every failure: the next attempt reuses it.
    auto fail = [&](const char* why) {
        sceneApi_ = nullptr;
        reason = why;
        return false;
    };
    sceneApi_ = vex_get_scene_api(minVersion_, maxVersion_);
    if (sceneApi_ == nullptr) {
        return fail("Could not get a scene api. Please check your RayMint installation.\n");
    }
    sceneApi_->id(clientId_);
    vexQuery_api* query = vex_get_query_api(minVersion_, maxVersion_);
    if (query == nullptr) {
        return fail("Could not get a query api. Please check your RayMint installation.\n");
    }

    RendererInstance chosen = pickInstance(queryInstances(query), query);
    if (chosen.versionMajor == 0) {
        if (!InstallationRegistry::instance().launchRenderer(minVersion_, maxVersion_)) {
            return fail("Unabled to launch RayMint. Please check your RayMint installation.");
        }
        // The pause follows a successful poll too: a renderer that has just appeared in
        // the list gets that time to finish starting before it is connected to.
        for (int32_t attempt = 1; attempt < launchWaitAttempts; ++attempt) {
            chosen = pickInstance(queryInstances(query), query);
            platform::sleepMilliseconds(waitIntervalMs);
            if (chosen.versionMajor != 0) break;
        }
    }

    if (!connectToPort(chosen.liveLinkPort)) {
        return fail(
            "Could not connect on any known port. Please check your RayMint installation and "
            "Live Link settings.");
    }
    return true;
}

bool RepeatLinkFactory::connectToPort(int32_t port) {
    if (port > 0) return sceneApi_->connect("localhost", port, kReportedPortMode);
    // No port reported: the range of the installation records, lowest first.
    int first = -1;
    int last = -1;
    const int status = InstallationRegistry::instance().liveLinkPorts(
        kPortRecordsMinVersion, kPortRecordsMaxVersion, first, last);
    if (status == InstallationRegistry::kNoInstallation ||
        status == InstallationRegistry::kFirstPortMissing) {
        return false;
    }
    for (int p = first; p <= last; ++p) {
        if (sceneApi_->connect("127.0.0.1", p, kRegistryPortMode)) return true;
    }
    return false;
}

std::vector<RendererInstance> RepeatLinkFactory::queryInstances(vexQuery_api* query) const {
    std::vector<RendererInstance> list;
    const char* text = query != nullptr ? query->instances() : nullptr;
    if (text == nullptr) return list;
    // The text is the library's until the next call on `query`: parsed (copied) at once.
    XMLDocument document;
    if (document.Parse(text) != tinyxml2::XML_SUCCESS) return list;
    const XMLElement* root = document.FirstChildElement();
    if (root == nullptr) return list;
    for (const XMLElement* instance = root->FirstChildElement(); instance != nullptr;
         instance = instance->NextSiblingElement()) {
        int64_t version = 0;
        int64_t processId = 0;
        int64_t port = 0;
        if (!numberBelow(instance, "version_major", version) || version < minVersion_ ||
            version > maxVersion_) {
            continue;
        }
        if (!numberBelow(instance, "process_id", processId) ||
            !numberBelow(instance, "livelink_port", port)) {
            continue;
        }
        list.push_back({static_cast<int32_t>(version), processId, static_cast<int32_t>(port)});
    }
    return list;
}

RendererInstance RepeatLinkFactory::pickInstance(const std::vector<RendererInstance>& list,
                                                 vexQuery_api* query) {
    RendererInstance empty;  // best renderer with an empty scene
    RendererInstance any;    // best renderer at all, when any one will do
    RendererInstance shown;  // best renderer showing the model set
    foundModelSet_ = false;
    if (query == nullptr) return {};
    for (const RendererInstance& instance : list) {
        if (instance.liveLinkPort < 0) continue;
        if (!query->attach(instance.processId)) continue;
        // A renderer that cannot describe its scene is not chosen; one whose description
        // is not XML still answers, so it counts only as "any".
        if (const char* text = query->sceneDescription()) {
            XMLDocument document;
            document.Parse(text);
            const XMLElement* root = document.Error() ? nullptr : document.FirstChildElement();
            const XMLElement* scene = root != nullptr ? root->FirstChildElement() : nullptr;
            if (scene != nullptr && sceneIsEmpty(scene)) keepHigher(empty, instance);
            if (acceptAnyInstance_) keepHigher(any, instance);
            const int depth = instance.versionMajor >= kDeeperModelSetVersion ? kModelSetDepth
                                                                              : kOldModelSetDepth;
            if (!modelSetName_.empty() && findModelSet(root, modelSetName_, depth) != nullptr) {
                keepHigher(shown, instance);
            }
        }
        query->detach();
    }
    foundModelSet_ = shown.versionMajor > 0;
    if (foundModelSet_) return shown;
    if (any.versionMajor > 0) return any;
    if (empty.versionMajor > 0) return empty;
    return {};
}

const XMLElement* RepeatLinkFactory::findElementByTag(const XMLElement* element, const char* tag) {
    if (element == nullptr || tag == nullptr) return nullptr;
    int climbed = 0;  // not needed here
    for (const XMLElement* e = element; e != nullptr;) {
        if (const char* name = e->Name(); name != nullptr && std::strcmp(name, tag) == 0) return e;
        const XMLElement* child = e->FirstChildElement();
        e = child != nullptr ? child : nextOutside(e, element, climbed);
    }
    return nullptr;
}

const XMLElement* RepeatLinkFactory::findModelSet(const XMLElement* element,
                                                  const std::string& name, int depth) {
    if (element == nullptr || depth < 1) return nullptr;
    // `level` counts from 0 at `element`; an element at `level` is looked at while
    // depth - level >= 1.
    int level = 0;
    for (const XMLElement* e = element; e != nullptr;) {
        const char* modelSet = e->Attribute("modelset");
        const bool hidden = modelSet != nullptr && std::strcmp(modelSet, "active") != 0;
        if (!hidden) {
            const char* own = e->Attribute("name");
            if (own != nullptr && std::string_view(own) == name) return e;
            if (level + 1 < depth) {
                if (const XMLElement* child = e->FirstChildElement()) {
                    e = child;
                    ++level;
                    continue;
                }
            }
        }
        e = nextOutside(e, element, level);
    }
    return nullptr;
}

}  // namespace vex
