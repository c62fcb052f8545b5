// Pins the virtual-table layout of the node classes. Under the Itanium C++ ABI a pointer
// to a virtual member holds 1 + the byte offset of its entry. The three node operations
// take entries 0 to 2, the destructor two entries (complete and deleting), so the first
// operation a subclass adds sits at entry 5.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "scene/DefaultRTModule.hpp"
#include "scene/Diffuse.hpp"
#include "scene/LightCamera.hpp"
#include "scene/LightGeometry.hpp"
#include "scene/LightModule.hpp"
#include "scene/Material.hpp"
#include "scene/TriangleObject.hpp"
#include "scene/VexGroup.hpp"
#include "support/VtableEntry.hpp"

namespace {

using vex::test::entryOf;

template <class T>
using Id = T;

// Casting to the exact member type also pins the signature: a changed one does not compile.
#define ENTRY(Class, n, member, Type) \
    EXPECT_EQ(entryOf(static_cast<Id<Type> Class::*>(&Class::member)), (n)) << #Class "::" #member

using Out = vex::vexSceneapi_oo&;

template <class Class>
void expectNodeEntries() {
    ENTRY(Class, 0, emit, void(Out));
    ENTRY(Class, 1, define, void(Out));
    ENTRY(Class, 2, isDefined, bool() const);
}

TEST(NodeSlotOrder, EveryNodeKeepsTheNodeOperationsFirst) {
    expectNodeEntries<vex::VexGroup>();
    expectNodeEntries<vex::LightGeometry>();
    expectNodeEntries<vex::TriangleObject>();
    expectNodeEntries<vex::Material>();
    expectNodeEntries<vex::Diffuse>();
    expectNodeEntries<vex::LightCamera>();
    expectNodeEntries<vex::LightModule>();
    expectNodeEntries<vex::DefaultRTModule>();
}

TEST(NodeSlotOrder, OperationsAddedBySubclasses) {
    using G = vex::LightGeometry;
    ENTRY(G, 5, byteSize, size_t() const);
    ENTRY(G, 6, setMaterial, void(std::shared_ptr<vex::Material>));
    ENTRY(G, 7, getMaterial, std::shared_ptr<vex::Material>() const);
    ENTRY(G, 8, setName, void(const std::string&));
    ENTRY(G, 9, getName, std::string() const);
    ENTRY(vex::Material, 5, writeShaders, void(Out));
    ENTRY(vex::LightCamera, 5, write_environment, CaptureBuffer * (Out));
    ENTRY(vex::LightModule, 5, write_options, void(Out));
}

}  // namespace
