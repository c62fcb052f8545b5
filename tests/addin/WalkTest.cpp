// The design walk in process, on designs written here: flag words, names and order of the
// groups, placements, effective appearances, mesh conversion, and the per-component change
// record across walks of one exporter. One design also goes through fusion-host and the scene
// summary tool, so the same tree is pinned in the file the real programs write.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AddinTestSupport.hpp"
#include "DesignLoader.hpp"
#include "Edits.hpp"
#include "Session.hpp"
#include "addin/FusionSceneExporter.hpp"
#include "reader/SceneReader.hpp"
#include "tests/scene/SceneHarness.hpp"

namespace core = adsk::core;
using core::Ptr;

// Allocation failures on demand: while armed, the n-th allocation of at least 4 KiB throws
// std::bad_alloc, wherever it is made (host, add-in, writer).
namespace {
long largeAllocationsBeforeFailure = 0;  // 0: none planned
void* allocate(std::size_t size) {
    if (size >= 4096 && largeAllocationsBeforeFailure > 0 && --largeAllocationsBeforeFailure == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace
void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// An open design and an exporter of its own, set up as the flows set it up.
class Walk {
  public:
    explicit Walk(const std::string& json) {
        addintest::writeFile(scratch_ / "design.json", json);
        model_ = host::loadJsonDesign((scratch_ / "design.json").string());
        session_.install();
        session_.openDocument(model_);
        app_ = core::Application::get();
        exporter_ = std::make_unique<FusionSceneExporter>(app_->userInterface(), app_);
        document_ = app_->activeDocument();
        exporter_->unitsPerMetre = exporter_->designUnitScale(document_);
        exporter_->unitsPerCentimetre = exporter_->unitsPerMetre / 100.0f;
    }
    ~Walk() {
        exporter_.reset();
        document_ = nullptr;
        app_ = nullptr;
        session_.uninstall();
    }

    // A walk whose transfer arrived, as the render flow records it.
    std::shared_ptr<vex::VexGroup> build() {
        auto root = exporter_->buildScene(document_);
        exporter_->previousStates = exporter_->currentStates;
        return root;
    }
    host::DocumentModel& model() { return *model_; }
    host::Session& session() { return session_; }
    FusionSceneExporter& exporter() { return *exporter_; }
    const Ptr<core::Document>& document() { return document_; }
    const addintest::ScratchDir& scratch() const { return scratch_; }

  private:
    addintest::ScratchDir scratch_;
    host::DocumentRef model_;
    host::Session session_;
    Ptr<core::Application> app_;
    std::unique_ptr<FusionSceneExporter> exporter_;
    Ptr<core::Document> document_;
};

const vex::VexGroup& group(const std::shared_ptr<vex::LightNode>& node) {
    const auto* g = dynamic_cast<const vex::VexGroup*>(node.get());
    if (g == nullptr) throw std::runtime_error("not a group");
    return *g;
}

// One line per group ("name 0xFLAGS") and per mesh ("mesh NAME [MATERIAL]"), indented by depth.
std::string dump(const vex::VexGroup& g, int depth = 0) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", static_cast<unsigned>(g.flags()));
    std::string out = std::string(2 * depth, ' ') + g.name() + " " + flags + "\n";
    for (const auto& node : g.nodes()) {
        const auto* mesh = dynamic_cast<const vex::TriangleObject*>(node.get());
        out += std::string(2 * depth + 2, ' ') + "mesh ";
        if (mesh == nullptr) {
            out += "?\n";
            continue;
        }
        const auto material = mesh->getMaterial();
        out += mesh->getName() + " [" + (material ? material->name() : "none") + "]\n";
    }
    for (const auto& child : g.groups()) out += dump(group(child), depth + 1);
    return out;
}

// Bytes of mesh arrays held anywhere in the tree.
size_t heldMeshBytes(const vex::VexGroup& g) {
    size_t bytes = 0;
    for (const auto& node : g.nodes())
        if (const auto* mesh = dynamic_cast<const vex::TriangleObject*>(node.get()))
            bytes += mesh->byteSize();
    for (const auto& child : g.groups()) bytes += heldMeshBytes(group(child));
    return bytes;
}

// The translation the walk gave a group, or nothing when it has no transform.
std::vector<double> translation(const vex::VexGroup& g) {
    if (!g.hasTransform()) return {};
    return {g.transform()[12], g.transform()[13], g.transform()[14]};
}

const std::string kBox = R"({"box": {"min": [0, 0, 0], "max": [1, 2, 3]}})";

// Every flag word, the appearance rules and a component placed twice, in millimetres.
const std::string kRules = R"({
  "document": "Gearbox v12",
  "appearances": [{"id": "a-red", "name": "Red"}, {"id": "Zinc", "name": "Zinc"},
                  {"id": "over", "name": "Override"}],
  "products": [
    {"type": "other", "name": "CAM"},
    {"type": "design", "unit": "mm", "root": "top", "components": [
      {"id": "top", "name": "Top",
       "bodies": [{"name": "Hidden", "visible": false, "faces": [{"meshes": [BOX]}]},
                  {"name": "Bare", "faces": []}],
       "occurrences": [
         {"component": "mid", "appearance": "over", "transform": {"translation": [1, 2, 3]}},
         {"component": "mid", "transform": {"translation": [4, 5, 6]}},
         {"component": "gone", "visible": false}]},
      {"id": "mid", "name": "Mid",
       "bodies": [
         {"name": "Plain", "faces": [{"meshes": [BOX]}, {"appearance": "a-red", "meshes": [BOX]},
                                     {"meshes": [BOX]}]},
         {"name": "Own", "appearance": "Zinc",
          "faces": [{"appearance": "a-red", "meshes": [BOX]}, {"meshes": [BOX]}]}],
       "occurrences": [{"component": "leaf"}]},
      {"id": "leaf", "name": "Leaf", "bodies": [{"name": "LeafBody", "faces": [{"meshes": [BOX]}]}]},
      {"id": "gone", "name": "Gone", "bodies": [{"name": "G", "faces": [{"meshes": [BOX]}]}],
       "occurrences": [{"component": "leaf"}]}]}]
})";

std::string withBoxes(std::string json) {
    for (size_t at; (at = json.find("BOX")) != std::string::npos;) json.replace(at, 3, kBox);
    return json;
}

// The override reaches the bodies of Mid only (not Leaf's); faces group by appearance
// identifier in byte order ("Zinc" before "a-red", "" first); hidden things are empty groups.
const std::string kRulesTree = R"(Gearbox 0x0
  Top 0x8001
    Mid 0x8001
      Leaf 0x8001
        LeafBody 0x400
          LeafBody 0x10000
            mesh LeafBody [Generic material]
      Plain 0x400
        Plain 0x10000
          mesh Plain [Red]
        Plain 0x10000
          mesh Plain [Override]
          mesh Plain [Override]
      Own 0x400
        Own 0x10000
          mesh Own [Zinc]
        Own 0x10000
          mesh Own [Red]
    Mid 0x8001
      Leaf 0x8001
        LeafBody 0x400
          LeafBody 0x10000
            mesh LeafBody [Generic material]
      Plain 0x400
        Plain 0x10000
          mesh Plain [Generic material]
          mesh Plain [Generic material]
        Plain 0x10000
          mesh Plain [Red]
      Own 0x400
        Own 0x10000
          mesh Own [Zinc]
        Own 0x10000
          mesh Own [Red]
    Gone 0x8001
    Hidden 0x8401
    Bare 0x8401
)";

class WalkTest : public testing::Test {
  protected:
    // Whatever other tests of this program left held (the add-in's application reference).
    void SetUp() override { before_ = host::Audit::now(); }
    void TearDown() override {
        const host::Audit after = host::Audit::now();
        EXPECT_EQ(after.references, before_.references) << after.text();
        EXPECT_EQ(after.arrays, before_.arrays) << after.text();
        EXPECT_EQ(after.arrayFaults, before_.arrayFaults);
    }
    host::Audit before_;
};

TEST_F(WalkTest, FlagWordsNamesOrderAndAppearances) {
    Walk walk(withBoxes(kRules));
    const auto root = walk.build();
    EXPECT_EQ(dump(*root), kRulesTree);
    // The component placed twice: two groups, each with its placement (mm: cm x 10) and
    // meshes of its own.
    const vex::VexGroup& top = group(root->groups().at(0));
    const vex::VexGroup& first = group(top.groups().at(0));
    const vex::VexGroup& second = group(top.groups().at(1));
    EXPECT_EQ(translation(first), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(translation(second), (std::vector<double>{40, 50, 60}));
    EXPECT_NE(group(group(first.groups().at(1)).groups().at(0)).nodes().at(0),
              group(group(second.groups().at(1)).groups().at(0)).nodes().at(0));
    // The document root and the root component carry no placement; the hidden placement's
    // group is empty.
    EXPECT_FALSE(root->hasTransform());
    EXPECT_FALSE(top.hasTransform());
    EXPECT_TRUE(group(top.groups().at(2)).groups().empty());
    EXPECT_TRUE(group(top.groups().at(2)).nodes().empty());
}

TEST_F(WalkTest, RootGroupIsTheDocumentNameWithoutItsVersion) {
    struct Case {
        const char* document;
        const char* root;
    };
    // The second character after the last space on must be all digits.
    for (const Case& c : {Case{"Gearbox v12", "Gearbox"}, Case{"Gear box v3", "Gear box"},
                          Case{"Gear 12", "Gear"}, Case{"Gear 1", "Gear 1"},
                          Case{"Gearbox v2b", "Gearbox v2b"}, Case{"Gearbox", "Gearbox"}}) {
        Walk walk(R"({"document": ")" + std::string(c.document) +
                  R"(", "products": [{"type": "design", "root": "r",
                       "components": [{"id": "r", "name": "Root"}]}]})");
        const auto root = walk.build();
        EXPECT_EQ(dump(*root), std::string(c.root) + " 0x0\n  Root 0x8001\n") << c.document;
    }
}

// Through the export: the units per metre of the design's unit and the placement scaled from
// centimetres to it, column by column.
TEST_F(WalkTest, ExportScalesPlacementsToTheDesignUnit) {
    struct Case {
        const char* unit;
        const char* metre;        // "meter_scale"
        const char* translation;  // 2.5 cm in the design's unit
    };
    // Host cells row by row: a quarter turn about z, then 2.5 cm along each axis. Units that
    // are not listed (the match is exact) leave one unit per metre.
    for (const Case& c :
         {Case{"mm", "1000", "25"}, Case{"cm", "100", "2.5"}, Case{"m", "1", "0.025"},
          Case{"in", "39.3701", "0.984252"}, Case{"ft", "3.28084", "0.082021"},
          Case{"yd", "1", "0.025"}, Case{"MM", "1", "0.025"}}) {
        Walk walk(R"({"document": "d", "products": [{"type": "design", "unit": ")" +
                  std::string(c.unit) + R"(", "root": "r", "components": [
                    {"id": "r", "name": "R", "occurrences": [{"component": "p",
                     "transform": [0, -1, 0, 2.5, 1, 0, 0, -2.5, 0, 0, 1, 2.5, 0, 0, 0, 1]}]},
                    {"id": "p", "name": "P"}]}]})");
        const std::filesystem::path file = walk.scratch() / "placed.rmq";
        walk.session().answerSaveDialog(file.string());
        walk.exporter().exportFlow(walk.document());
        const std::string scene = addintest::readFile(file);
        const std::string t = c.translation;
        EXPECT_NE(scene.find(" \"import_up_vector\" 1,\n \"meter_scale\" " + std::string(c.metre) +
                             ",\n"),
                  std::string::npos)
            << c.unit << "\n"
            << scene;
        EXPECT_NE(scene.find("\n  group \"P\" {\n   flags 32769\n   transform 0 1 0 0 -1 0 0 0 0 0 "
                             "1 0 " +
                             t + " -" + t + " " + t + " 1\n  }\n"),
                  std::string::npos)
            << c.unit << "\n"
            << scene;
    }
}

// Finds every geometry block of a parsed scene file, depth first.
void geometries(const vex::Block& block, std::vector<const vex::Block*>& found) {
    for (const vex::Node& node : block.children) {
        if (!node.isBlock()) continue;
        if (node.block().keyword == "geometry") found.push_back(&node.block());
        geometries(node.block(), found);
    }
}

const vex::NumberArray* array(const vex::Block& geometry, const std::string& name) {
    for (const vex::Node& node : geometry.children)
        if (!node.isBlock() && node.statement().name == name)
            return &node.statement().values.at(0).numbers;
    return nullptr;
}

// Writes the tree as the flows do and returns what followed the wrapper's opening lines.
std::string written(vex::VexGroup& root) {
    return vex::test::written([&](vex::vexSceneapi_oo& out) { out.write(root); });
}

TEST_F(WalkTest, MeshesAreScaledAndArraysThatDoNotLineUpAreLeftOut) {
    // Inches; the first mesh has normals for two of its three nodes, the second texture
    // coordinates for two.
    Walk walk(R"({"document": "d", "products": [{"type": "design", "unit": "in", "root": "r",
      "components": [{"id": "r", "name": "R", "bodies": [{"name": "B", "faces": [
        {"meshes": [{"unchecked": true, "coordinates": [0, 0, 0, 2.54, 0, 0, 0, 5.08, 1],
                     "normals": [0, 0, 1, 0, 0, 1], "uvs": [0, 0, 1, 0, 0, 1],
                     "indices": [0, 1, 2]}]},
        {"meshes": [{"unchecked": true, "coordinates": [0, 0, 0, 1, 0, 0, 0, 1, 0],
                     "normals": [0, 0, 1, 0, 0, 1, 0, 0, 1], "uvs": [0, 0, 1, 0],
                     "indices": [0, 1, 2]}]}]}]}]}]})");
    auto root = walk.build();
    const std::string text = written(*root);
    const vex::Document scene = vex::parseString(text);
    std::vector<const vex::Block*> found;
    geometries(scene.root, found);
    ASSERT_EQ(found.size(), 2u) << text;
    const float scale = 39.37008f / 100.0f;
    const float cm[] = {0, 0, 0, 2.54f, 0, 0, 0, 5.08f, 1};
    const vex::NumberArray* vertices = array(*found[0], "vertices");
    ASSERT_NE(vertices, nullptr);
    ASSERT_EQ(vertices->size(), 9u);
    for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(vertices->at(i), cm[i] * scale, 1e-5) << i;
    EXPECT_EQ(array(*found[0], "normals"), nullptr);
    ASSERT_NE(array(*found[0], "uv_tex"), nullptr);
    EXPECT_EQ(array(*found[0], "uv_tex")->size(), 6u);
    ASSERT_NE(array(*found[1], "normals"), nullptr);
    EXPECT_EQ(array(*found[1], "normals")->size(), 9u);
    EXPECT_EQ(array(*found[1], "uv_tex"), nullptr);
    EXPECT_EQ(text.find("#error"), std::string::npos) << text;
}

// Materials from appearances: the albedo colour (the last one wins), the texture of any colour
// property (the last file name wins), and the white generic material of a body without one.
TEST_F(WalkTest, MaterialBlocksFromAppearances) {
    Walk walk(withBoxes(R"({"document": "m", "appearances": [
      {"id": "orange", "name": "Orange",
       "properties": [{"id": "generic_diffuse", "type": "color", "color": [255, 128, 0]}]},
      {"id": "layered", "name": "Layered", "properties": [
        {"id": "generic_diffuse", "type": "color", "color": [10, 20, 30]},
        {"id": "generic_reflectance", "type": "color", "color": [1, 2, 3], "texture": {"properties": [
          {"id": "unifiedbitmap_Bitmap", "type": "filename", "value": "/tex/a.png"},
          {"id": "scale", "type": "float", "value": 2},
          {"id": "second", "type": "filename", "value": "/tex/b.png"}]}},
        {"id": "metal_color", "type": "color", "color": [0, 255, 51, 10]},
        {"id": "opaque_albedo", "type": "color"}]},
      {"id": "file", "name": "File", "properties": [
        {"id": "generic_bitmap", "type": "filename", "value": "/tex/c.png"},
        {"id": "generic_diffuse", "type": "float", "value": 0.5}]}],
      "products": [{"type": "design", "root": "r", "components": [{"id": "r", "name": "R",
        "bodies": [{"name": "O", "appearance": "orange", "faces": [{"meshes": [BOX]}]},
                   {"name": "L", "appearance": "layered", "faces": [{"meshes": [BOX]}]},
                   {"name": "F", "appearance": "file", "faces": [{"meshes": [BOX]}]},
                   {"name": "G", "faces": [{"meshes": [BOX]}]}]}]}]})"));
    auto root = walk.build();
    const std::string text = written(*root);
    std::string blocks;
    for (size_t at = 0; (at = text.find("\n     material ", at)) != std::string::npos;) {
        const size_t end = text.find("\n     }\n", at);
        ASSERT_NE(end, std::string::npos);
        blocks += text.substr(at + 6, end + 8 - at - 6);
        at = end;
    }
#ifdef _WIN32
    // A name from the root is on the design's drive there.
    for (size_t at; (at = blocks.find("C:\\tex\\")) != std::string::npos;)
        blocks.replace(at, 7, "/tex/");
#endif
    // Shaders are numbered in writing order; the texture comes first and the diffuse links it.
    EXPECT_EQ(blocks, R"(material "Orange" {
      #define shader 1 vex_diffuse {
       "diffuse" 1 0.501961 0,
      }
      surface 1
     }
material "Layered" {
      #define shader 2 texture2_rgb {
       "uv_projection" 4,
       "uv_flags" 44,
       "texture" "/tex/b.png",
      }
      #define shader 3 vex_diffuse {
       "diffuse" 0 1 0.2,
       "diffuse" ! 2,
      }
      surface 3
     }
material "File" {
      #define shader 4 vex_diffuse {
       "diffuse" 1 1 1,
      }
      surface 4
     }
material "Generic material" {
      #define shader 5 vex_diffuse {
       "diffuse" 1 1 1,
      }
      surface 5
     }
)") << text;
}

TEST_F(WalkTest, MeshesAreCopiedDuringTheWalkAndTheHostGetsEverythingBack) {
    Walk walk(withBoxes(kRules));
    const host::Audit start = host::Audit::now();
    auto root = walk.build();
    // 12 placed box meshes of 24 nodes and 12 triangles, copied into the tree: nothing of the
    // host is held any more.
    EXPECT_EQ(heldMeshBytes(*root), 12u * 4 * (72 + 72 + 48 + 36));
    const host::Audit built = host::Audit::now();
    EXPECT_EQ(built.arrays, start.arrays) << built.text();
    EXPECT_EQ(built.references, start.references) << built.text();
    const std::string once = written(*root);
    EXPECT_EQ(written(*root), once);
    EXPECT_NE(once.find("\"vertices\" [ 10 0 0,10 20 0,10 20 30,"), std::string::npos) << once;
}

// The change record: Rig places Arm (which places Pin) and Wheel.
const std::string kRig = R"({
  "document": "Rig v2",
  "appearances": [{"id": "paint", "name": "Paint"}],
  "products": [{"type": "design", "root": "rig", "components": [
    {"id": "rig", "name": "Rig", "bodies": [{"name": "Base", "faces": [{"meshes": [BOX]}]}],
     "occurrences": [{"component": "arm", "transform": {"translation": [1, 0, 0]}},
                     {"component": "wheel", "transform": {"translation": [0, 0, 5]}}]},
    {"id": "arm", "name": "Arm", "bodies": [{"name": "Beam", "faces": [{"meshes": [BOX]}]}],
     "occurrences": [{"component": "pin", "transform": {"translation": [0, 1, 0]}}]},
    {"id": "pin", "name": "Pin", "bodies": [{"name": "Peg", "faces": [{"meshes": [BOX]}]}]},
    {"id": "wheel", "name": "Wheel", "bodies": [{"name": "Rim", "faces": [{"meshes": [BOX]}]}]}
  ]}]
})";

const std::string kRigUnchanged = R"(Rig 0x0
  Rig 0x1
    Arm 0x1
      Pin 0x1
    Wheel 0x1
)";

// Translations of Arm, Pin and Wheel.
std::vector<std::vector<double>> placements(const vex::VexGroup& root) {
    const vex::VexGroup& rig = group(root.groups().at(0));
    const vex::VexGroup& arm = group(rig.groups().at(0));
    return {translation(arm), translation(group(arm.groups().at(0))),
            translation(group(rig.groups().at(1)))};
}

TEST_F(WalkTest, SecondWalkOfAnUnchangedDesignSendsPlacementsOnly) {
    Walk walk(withBoxes(kRig));
    const auto first = walk.build();
    EXPECT_EQ(dump(*first).find("0x1\n"), std::string::npos) << dump(*first);  // all changed
    const auto second = walk.build();
    EXPECT_EQ(dump(*second), kRigUnchanged);
    EXPECT_EQ(placements(*second), placements(*first));
    EXPECT_EQ(placements(*second),
              (std::vector<std::vector<double>>{{1, 0, 0}, {0, 1, 0}, {0, 0, 5}}));
    EXPECT_EQ(dump(*walk.build()), kRigUnchanged);
}

host::Edit edit(host::Edit::Kind kind, const std::string& argument) {
    return host::parseEdit(kind, argument);
}

TEST_F(WalkTest, AnEditMarksOnlyItsComponentChanged) {
    using Kind = host::Edit::Kind;
    struct Case {
        const char* what;
        std::function<void(host::DocumentModel&)> change;
        const char* tree;
    };
    auto apply = [](host::Edit e) {
        return [e](host::DocumentModel& d) { host::applyEdit(d, e); };
    };
    const std::vector<Case> cases = {
        {"appearance", apply(edit(Kind::Appearance, "Pin/Peg=paint")), R"(Rig 0x0
  Rig 0x1
    Arm 0x1
      Pin 0x8001
        Peg 0x400
          Peg 0x10000
            mesh Peg [Paint]
    Wheel 0x1
)"},
        {"hidden body", apply(edit(Kind::HideBody, "Arm/Beam")), R"(Rig 0x0
  Rig 0x1
    Arm 0x8001
      Pin 0x1
      Beam 0x8401
    Wheel 0x1
)"},
        {"geometry",
         [](host::DocumentModel& d) {
             auto wheel = d.products.at(0).root->occurrences.at(1).component;
             for (float& c : *wheel->bodies.at(0).faces.at(0).meshes.at(0)->coordinates) c *= 2;
         },
         R"(Rig 0x0
  Rig 0x1
    Arm 0x1
      Pin 0x1
    Wheel 0x8001
      Rim 0x400
        Rim 0x10000
          mesh Rim [Generic material]
)"},
        {"hidden occurrence",
         [](host::DocumentModel& d) { d.products.at(0).root->occurrences.at(1).visible = false; },
         R"(Rig 0x0
  Rig 0x1
    Arm 0x1
      Pin 0x1
    Wheel 0x8001
)"},
        // A new placement alone changes no component: the group carries the new transform.
        {"moved", apply(edit(Kind::Move, "Wheel=0,0,1")), kRigUnchanged.c_str()},
    };
    for (const Case& c : cases) {
        Walk walk(withBoxes(kRig));
        walk.build();
        c.change(walk.model());
        const auto changed = walk.build();
        EXPECT_EQ(dump(*changed), c.tree) << c.what;
        // The record now holds the edited design: the next walk sends placements only.
        const auto again = walk.build();
        if (std::string(c.what) != "hidden occurrence") {
            EXPECT_EQ(dump(*again), kRigUnchanged) << c.what;
            EXPECT_EQ(placements(*again), placements(*changed)) << c.what;
        }
    }
}

// The walk after a render and the hiding of Arm's body.
const std::string kBeamHidden = R"(Rig 0x0
  Rig 0x1
    Arm 0x8001
      Pin 0x1
      Beam 0x8401
    Wheel 0x1
)";

TEST_F(WalkTest, ExportSendsEverythingAndKeepsTheRecordOfTheLastTransfer) {
    Walk walk(withBoxes(kRig));
    walk.build();  // as a render transfer would
    host::applyEdit(walk.model(), edit(host::Edit::Kind::HideBody, "Arm/Beam"));
    const std::filesystem::path file = walk.scratch() / "rig.rmq";
    walk.session().answerSaveDialog(file.string());
    walk.exporter().exportFlow(walk.document());
    const std::string scene = addintest::readFile(file);
    // Every component (flags 32769) with its bodies, the hidden one empty (33793).
    size_t components = 0;
    for (size_t at = 0; (at = scene.find("flags 32769\n", at)) != std::string::npos; ++at)
        ++components;
    EXPECT_EQ(components, 4u) << scene;
    EXPECT_NE(scene.find("group \"Beam\" {\n    flags 33793\n   }\n"), std::string::npos) << scene;
    EXPECT_NE(scene.find("object \"Peg\""), std::string::npos);
    // The export was no transfer to the renderer: the next walk still sends the hidden body.
    EXPECT_EQ(dump(*walk.build()), kBeamHidden);
}

// A flat strip of n nodes with normals and texture coordinates: every array 4 KiB or more.
host::MeshRef strip(int nodes) {
    auto mesh = std::make_shared<host::MeshModel>();
    mesh->coordinates.emplace();
    mesh->normals.emplace();
    mesh->uvs.emplace();
    mesh->indices.emplace();
    for (int i = 0; i < nodes; ++i) {
        mesh->coordinates->insert(mesh->coordinates->end(), {i / 2.0f, i % 2 * 1.0f, 0});
        mesh->normals->insert(mesh->normals->end(), {0, 0, 1});
        mesh->uvs->insert(mesh->uvs->end(), {i / 2.0f, i % 2 * 1.0f});
        if (i >= 2) mesh->indices->insert(mesh->indices->end(), {i - 2, i - 1, i});
    }
    return mesh;
}

#ifndef _WIN32
// The file size limit of this process for one scope; a write beyond it fails with EFBIG.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, signal_);
    }

  private:
    rlimit saved_{};
    void (*signal_)(int) = SIG_DFL;
};
#endif

// Every point of an export where the host refuses an array, an allocation of 4 KiB or more
// fails, or the file stops taking bytes: the flow ends with an error, every host array is
// handed back and every reference released, and once anything reached the file the record of
// the last render is gone, so the next render sends everything (before that, the record may
// still say what the renderer holds). Each fault is moved one step further until the export no
// longer reaches it, and must then write the whole file.
TEST_F(WalkTest, EveryFaultOfAnExportLeavesNothingHeldAndTheNextRenderSendsEverything) {
    struct Fault {
        const char* what;
        std::function<void(host::Session&, long n)> arm;  // at its n-th chance
        std::function<bool(host::Session&)> disarm;       // true when it never fired
    };
#ifndef _WIN32
    std::optional<FileSizeLimit> limit;
#endif
    const std::vector<Fault> faults = {
        {"host refuses mesh array", [](host::Session& s, long n) { s.failMeshArray(n); },
         [](host::Session& s) { return s.failMeshArray(0) != 0; }},
        {"large allocation fails",
         [](host::Session&, long n) { largeAllocationsBeforeFailure = n; },
         [](host::Session&) { return std::exchange(largeAllocationsBeforeFailure, 0) != 0; }},
#ifndef _WIN32  // (no file size limit there)
        // Whether the file fitted shows in the export's outcome alone.
        {"file full after n x 4 KiB",
         [&](host::Session&, long n) { limit.emplace(static_cast<rlim_t>(n) * 4096); },
         [&](host::Session&) {
             limit.reset();
             return true;
         }},
#endif
    };
    Walk reference(withBoxes(kRig));
    reference.model().products.at(0).root->bodies.at(0).faces.at(0).meshes.at(0) = strip(400);
    host::applyEdit(reference.model(), edit(host::Edit::Kind::HideBody, "Arm/Beam"));
    const std::filesystem::path file = reference.scratch() / "rig.rmq";
    reference.session().answerSaveDialog(file.string());
    reference.exporter().exportFlow(reference.document());
    const std::string whole = addintest::readFile(file);

    for (const Fault& fault : faults) {
        long n = 1, opened = 0;
        for (bool fired = true; fired && n < 200; ++n) {
            Walk walk(withBoxes(kRig));
            walk.model().products.at(0).root->bodies.at(0).faces.at(0).meshes.at(0) = strip(400);
            walk.build();  // as a render transfer would
            host::applyEdit(walk.model(), edit(host::Edit::Kind::HideBody, "Arm/Beam"));
            walk.session().answerSaveDialog(file.string());
            std::filesystem::remove(file);
            const host::Audit start = host::Audit::now();
            bool failed = false;
            fault.arm(walk.session(), n);
            try {
                walk.exporter().exportFlow(walk.document());
            } catch (const std::exception&) {
                failed = true;
            }
            fired = !fault.disarm(walk.session());
            const std::string at = std::string(fault.what) + " " + std::to_string(n);
            const host::Audit end = host::Audit::now();
            EXPECT_EQ(end.arrays, start.arrays) << at << ": " << end.text();
            EXPECT_EQ(end.references, start.references) << at << ": " << end.text();
            if (!failed) {
                // Passed or survived the fault: then the file must be whole.
                EXPECT_EQ(addintest::readFile(file), whole) << at;
                continue;
            }
            fired = true;  // the export reached the fault
            const bool everything = walk.exporter().previousStates.empty();
            const std::string next = dump(*walk.build());
            if (everything) {
                EXPECT_EQ(next.find(" 0x1\n"), std::string::npos) << at << "\n" << next;
            }
            if (std::filesystem::exists(file) && std::filesystem::file_size(file) > 0) {
                ++opened;
                EXPECT_TRUE(everything) << at;
            } else if (!everything) {
                EXPECT_EQ(next, kBeamHidden) << at;
            }
        }
        EXPECT_GT(opened, 2) << fault.what << ": too few points of failure";
        EXPECT_LT(n, 200) << fault.what << ": the export never got past the fault";
    }
}

// The same tree in the file that fusion-host has the add-in write, read by the summary tool.
TEST(WalkThroughPrograms, SummaryToolShowsTheWalksTree) {
    addintest::ScratchDir dir;
    addintest::writeFile(dir / "rules.json", withBoxes(kRules));
    const std::string file = (dir / "rules.rmq").string();
    const addintest::Result host =
        addintest::run(std::string(FUSION_HOST) + " --addin " + ADDIN_LIBRARY +
                       " --audit --design " + (dir / "rules.json").string() + " --export " + file);
    ASSERT_EQ(host.status, 0) << host.out;
    EXPECT_NE(host.out.find("audit after export: references: adsk::core::Application 2, "
                            "adsk::core::UserInterface 2; arrays: none"),
              std::string::npos)
        << host.out;
    const addintest::Result summary =
        addintest::run(std::string(SCENE_SUMMARY) + " --tree " + file);
    ASSERT_EQ(summary.status, 0) << summary.out;
    // The tree as the tool prints it; appearance groups hold one object per mesh.
    std::string expected;
    for (const std::string line :
         {"tree:", "  group \"Gearbox\"", "    group \"Top\"  flags 32769",
          "      group \"Mid\"  flags 32769", "        group \"Leaf\"  flags 32769",
          "          group \"LeafBody\"  flags 1024", "            group \"LeafBody\"  flags 65536",
          "              object \"LeafBody\"  flags 0", "        group \"Plain\"  flags 1024",
          "          group \"Plain\"  flags 65536", "            object \"Plain\"  flags 0",
          "          group \"Plain\"  flags 65536", "            object \"Plain\"  flags 0",
          "            object \"Plain\"  flags 0", "        group \"Own\"  flags 1024",
          "          group \"Own\"  flags 65536", "            object \"Own\"  flags 0",
          "          group \"Own\"  flags 65536", "            object \"Own\"  flags 0"})
        expected += line + "\n";
    EXPECT_NE(summary.out.find(expected), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("      group \"Gone\"  flags 32769\n"
                               "      group \"Hidden\"  flags 33793\n"
                               "      group \"Bare\"  flags 33793\n"),
              std::string::npos)
        << summary.out;
    EXPECT_NE(summary.out.find("triangles: 144\n"), std::string::npos) << summary.out;
    // Materials in appearance order under the override placement: Red, then Override.
    const std::string scene = addintest::readFile(file);
    const size_t red = scene.find("material \"Red\"");
    const size_t override = scene.find("material \"Override\"");
    ASSERT_NE(red, std::string::npos);
    ASSERT_NE(override, std::string::npos);
    EXPECT_LT(red, override);
}

}  // namespace
