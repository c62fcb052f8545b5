// The walk over the active design into the scene graph, with the per-component change record.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "addin/FusionMaterial.hpp"
#include "addin/FusionSceneExporter.hpp"

using adsk::core::Ptr;
using adsk::fusion::BRepBody;
using adsk::fusion::BRepFace;
using adsk::fusion::Component;

namespace {

constexpr uint32_t kComponentFlags = 0x1;
constexpr uint32_t kChanged = 0x8000;
constexpr uint32_t kBodyEmpty = 0x8401;
constexpr uint32_t kBodyWithFaces = 0x400;
constexpr uint32_t kAppearanceFlags = 0x10000;

// A host object the walk needs must be there; its absence ends the flow.
template <class T>
const Ptr<T>& required(const Ptr<T>& p) {
    if (!p) throw std::exception();
    return p;
}

FusionSceneExporter::AppearancePtr effectiveAppearance(
    const FusionSceneExporter::AppearancePtr& own,
    const FusionSceneExporter::AppearancePtr& inherited) {
    return own ? own : inherited;
}

}  // namespace

std::shared_ptr<vex::VexGroup> FusionSceneExporter::buildScene(
    const Ptr<adsk::core::Document>& document) {
    required(document);
    auto root = std::make_shared<vex::VexGroup>(stripVersionSuffix(document->name()));
    const Ptr<adsk::core::Products> products = required(document->products());
    const size_t count = products->count();
    for (size_t i = 0; i < count; ++i) {
        const Ptr<adsk::core::Product> product = required(products->item(i));
        const Ptr<adsk::fusion::Design> design = product->cast<adsk::fusion::Design>();
        if (!design) continue;
        const Ptr<Component> rootComponent = required(design->rootComponent());
        root->addChildGroup(walkComponent(rootComponent, AppearancePtr(), true));
    }
    return root;
}

namespace {

// The helpers below do the work of one level of walkComponent, which recurses once per level of
// the design on the host's main thread (1 MiB of stack on Windows); kept out of line, their
// locals are not held on the stack by every level below.

// The component's group, marked changed against the previous record; records its state.
[[gnu::noinline]] std::shared_ptr<vex::VexGroup> componentGroup(
    FusionSceneExporter& exporter, const Ptr<Component>& component,
    const FusionSceneExporter::AppearancePtr& appearance, bool visible, bool& changed) {
    required(component);
    const std::string key = component->name();
    auto group = std::make_shared<vex::VexGroup>(key);
    group->setFlags(kComponentFlags);
    ComponentState state = exporter.makeComponentState(component, appearance, visible);
    const auto previous = exporter.previousStates.find(key);
    changed = previous == exporter.previousStates.end() || statesDiffer(state, previous->second);
    group->setFlags(changed ? kComponentFlags | kChanged : kComponentFlags);
    exporter.currentStates[key] = std::move(state);
    return group;
}

// Gives the child group its occurrence's placement.
[[gnu::noinline]] void place(vex::VexGroup& child, const Ptr<adsk::fusion::Occurrence>& occurrence,
                             float unitsPerCentimetre) {
    const Ptr<adsk::core::Matrix3D> matrix = required(occurrence->transform());
    vex::VexGroup::Transform transform;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) transform[c * 4 + r] = matrix->getCell(r, c);
    // Host placements are in centimetres; the scene is in the design's unit.
    for (int i3 : {12, 13, 14}) transform[i3] *= static_cast<double>(unitsPerCentimetre);
    child.setTransform(transform);
}

[[gnu::noinline]] void addBodies(FusionSceneExporter& exporter, vex::VexGroup& group,
                                 const Ptr<Component>& component,
                                 const FusionSceneExporter::AppearancePtr& appearance) {
    const Ptr<adsk::fusion::BRepBodies> bodies = required(component->bRepBodies());
    const size_t bodyCount = bodies->count();
    for (size_t i = 0; i < bodyCount; ++i) {
        const Ptr<BRepBody> body = required(bodies->item(i));
        group.addChildGroup(exporter.bodyContent(body, appearance, body->isVisible()));
    }
}

}  // namespace

std::shared_ptr<vex::VexGroup> FusionSceneExporter::walkComponent(const Ptr<Component>& component,
                                                                  const AppearancePtr& appearance,
                                                                  bool visible) {
    bool changed = false;
    auto group = componentGroup(*this, component, appearance, visible, changed);
    if (!visible) return group;

    const Ptr<adsk::fusion::Occurrences> occurrences = required(component->occurrences());
    const size_t occurrenceCount = occurrences->count();
    for (size_t i = 0; i < occurrenceCount; ++i) {
        const Ptr<adsk::fusion::Occurrence> occurrence = required(occurrences->item(i));
        const Ptr<Component> childComponent = required(occurrence->component());
        const bool childVisible = occurrence->isVisible();
        const AppearancePtr override = occurrence->appearance();
        auto child = walkComponent(childComponent, override, childVisible);
        place(*child, occurrence, unitsPerCentimetre);
        group->addChildGroup(std::move(child));
    }
    if (changed) addBodies(*this, *group, component, appearance);
    return group;
}

std::shared_ptr<vex::VexGroup> FusionSceneExporter::bodyContent(const Ptr<BRepBody>& body,
                                                                const AppearancePtr& appearance,
                                                                bool visible) {
    required(body);
    const AppearancePtr bodyAppearance = effectiveAppearance(body->appearance(), appearance);
    const std::string name = body->name();
    auto group = std::make_shared<vex::VexGroup>(name);
    group->setFlags(kBodyEmpty);
    if (!visible) return group;

    // Faces grouped by appearance, in identifier order. A face without any appearance keeps
    // its geometry under the empty identifier, with the generic material.
    // A body has few appearances: a short list searched in place, sorted once, allocates less
    // per body than a map.
    struct Entry {
        std::string id;
        AppearancePtr appearance;
        std::vector<Ptr<BRepFace>> faces;
    };
    std::vector<Entry> entries;
    // Most faces inherit the body's appearance: its identifier is asked for once.
    std::optional<std::string> bodyId;
    const Ptr<adsk::fusion::BRepFaces> faces = required(body->faces());
    const size_t faceCount = faces->count();
    for (size_t i = 0; i < faceCount; ++i) {
        Ptr<BRepFace> face = required(faces->item(i));
        AppearancePtr faceAppearance = face->appearance();
        std::string id;
        if (faceAppearance) {
            id = faceAppearance->id();
        } else {
            faceAppearance = bodyAppearance;
            if (!bodyId) bodyId = bodyAppearance ? bodyAppearance->id() : std::string();
            id = *bodyId;
        }
        auto entry = std::find_if(entries.begin(), entries.end(),
                                  [&](const Entry& e) { return e.id == id; });
        if (entry == entries.end()) {
            entry = entries.insert(entries.end(), Entry{std::move(id), nullptr, {}});
            entry->faces.reserve(faceCount - i);
        }
        if (!entry->appearance) entry->appearance = std::move(faceAppearance);
        entry->faces.push_back(std::move(face));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.id < b.id; });
    for (Entry& entry : entries) {
        auto appearanceGroup = group->addGroup(name);
        group->setFlags(kBodyWithFaces);
        appearanceGroup->setFlags(kAppearanceFlags);
        appearanceGroup->reserveNodes(entry.faces.size());
        const auto material = std::make_shared<vex::FusionMaterial>(entry.appearance);
        for (const Ptr<BRepFace>& face : entry.faces) {
            const Ptr<adsk::fusion::TriangleMeshList> meshes = required(face->displayMeshes());
            const size_t meshCount = meshes->count();
            for (size_t m = 0; m < meshCount; ++m) {
                Ptr<adsk::fusion::TriangleMesh> mesh = required(meshes->item(m));
                appearanceGroup->addNode(convertMesh(mesh, name, material));
            }
        }
    }
    return group;
}

ComponentState FusionSceneExporter::makeComponentState(const Ptr<Component>& component,
                                                       const AppearancePtr& appearance,
                                                       bool visible) {
    required(component);
    ComponentState state;
    state.visible = visible;
    // Area and volume both change with the geometry; without them the component always counts
    // as changed.
    const Ptr<adsk::fusion::PhysicalProperties> physical = component->physicalProperties();
    state.measureA = physical ? physical->area() : std::numeric_limits<double>::quiet_NaN();
    state.measureB = physical ? physical->volume() : std::numeric_limits<double>::quiet_NaN();

    const Ptr<adsk::fusion::BRepBodies> bodies = required(component->bRepBodies());
    const size_t bodyCount = bodies->count();
    for (size_t i = 0; i < bodyCount; ++i) {
        const Ptr<BRepBody> body = required(bodies->item(i));
        const AppearancePtr bodyAppearance = effectiveAppearance(body->appearance(), appearance);
        const std::string name = body->name();
        const Ptr<adsk::fusion::BRepFaces> faces = required(body->faces());
        const size_t faceCount = faces->count();
        std::vector<std::pair<std::string, int>> counts;  // in the order first seen
        std::optional<std::string> bodyId;                // asked for once, as in bodyContent
        for (size_t f = 0; f < faceCount; ++f) {
            const Ptr<BRepFace> face = required(faces->item(f));
            const AppearancePtr own = face->appearance();
            if (!own && !bodyAppearance) continue;
            if (!own && !bodyId) bodyId = bodyAppearance->id();
            const std::string id = own ? own->id() : *bodyId;
            auto it = counts.begin();
            while (it != counts.end() && it->first != id) ++it;
            if (it == counts.end())
                counts.emplace_back(id, 1);
            else
                ++it->second;
        }
        for (const auto& [id, n] : counts) {
            char number[16];
            char* end = std::to_chars(number, number + sizeof number, n).ptr;
            *end++ = 'x';
            state.bodySignature.append(number, end).append(id) += ' ';
        }
        state.bodyVisibility[name] = body->isVisible();
        if (faceCount > 0) {
            const Ptr<BRepFace> first = required(faces->item(0));
            const Ptr<adsk::fusion::TriangleMeshList> meshes = required(first->displayMeshes());
            if (meshes->count() > 0) {
                const Ptr<adsk::fusion::TriangleMesh> mesh = required(meshes->item(0));
                // Three values are needed, not a copy of the whole array.
                size_t count = 0;
                float* coordinates = mesh->nodeCoordinatesAsFloat_raw(count);
                const bool whole = coordinates != nullptr && count >= 3;
                std::array<float, 3> first{};
                if (whole) std::copy(coordinates, coordinates + 3, first.begin());
                adsk::core::DeallocateArrayInternal(coordinates);
                if (whole) state.bodyFirstVertex[name] = first;
            }
        }
    }
    const Ptr<adsk::fusion::Occurrences> occurrences = required(component->occurrences());
    const size_t occurrenceCount = occurrences->count();
    for (size_t i = 0; i < occurrenceCount; ++i) {
        const Ptr<adsk::fusion::Occurrence> occurrence = required(occurrences->item(i));
        state.childComponents.insert(required(occurrence->component())->name());
    }
    return state;
}
