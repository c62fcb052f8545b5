// The design walk in process, on designs written here: the whole tree of groups (flag words,
// names, order, placements, effective appearances), mesh conversion, material blocks, the
// per-component change record across walks of one exporter, and every fault of an export.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

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
#include "tests/scene/SceneHarness.hpp"

namespace core = adsk::core;
using core::Ptr;

namespace {

// An open design and an exporter of its own, set up as the flows set it up.
class Walk {
  public:
    explicit Walk(const std::string& json) {
        addintest::writeFile(scratch / "design.json", json);
        model = host::loadJsonDesign((scratch / "design.json").string());
        session.install();
        session.openDocument(model);
        app = core::Application::get();
        exporter = std::make_unique<FusionSceneExporter>(app->userInterface(), app);
        document = app->activeDocument();
        exporter->unitsPerMetre = exporter->designUnitScale(document);
        exporter->unitsPerCentimetre = exporter->unitsPerMetre / 100.0f;
    }
    // A walk whose transfer arrived, as the render flow records it.
    std::shared_ptr<vex::VexGroup> build() {
        auto root = exporter->buildScene(document);
        exporter->previousStates = exporter->currentStates;
        return root;
    }
    // The export flow into `file`; the file's bytes.
    std::string exportTo(const std::filesystem::path& file) {
        session.answerSaveDialog(file.string());
        exporter->exportFlow(document);
        return addintest::readFile(file);
    }

    // (Released in reverse: the exporter first, the session before the design.)
    addintest::ScratchDir scratch;
    host::DocumentRef model;
    host::Session session;
    Ptr<core::Application> app;
    Ptr<core::Document> document;
    std::unique_ptr<FusionSceneExporter> exporter;
};

const vex::VexGroup& group(const std::shared_ptr<vex::LightNode>& node) {
    return dynamic_cast<const vex::VexGroup&>(*node);
}

// One line per group ("name 0xFLAGS", then " at X Y Z" when placed) and per mesh
// ("mesh NAME [MATERIAL]"), indented by depth.
std::string dump(const vex::VexGroup& g, int depth = 0) {
    char line[160];
    std::snprintf(line, sizeof line, "0x%x", static_cast<unsigned>(g.flags()));
    std::string out = std::string(2 * depth, ' ') + g.name() + " " + line;
    if (g.hasTransform()) {
        std::snprintf(line, sizeof line, " at %g %g %g", g.transform()[12], g.transform()[13],
                      g.transform()[14]);
        out += line;
    }
    out += "\n";
    for (const auto& node : g.nodes()) {
        const auto& mesh = dynamic_cast<const vex::TriangleObject&>(*node);
        const auto material = mesh.getMaterial();
        out += std::string(2 * depth + 2, ' ') + "mesh " + mesh.getName() + " [" +
               (material ? material->name() : "none") + "]\n";
    }
    for (const auto& child : g.groups()) out += dump(group(child), depth + 1);
    return out;
}

// Whether any group of a dump is marked unchanged (flag word 0x1).
bool anyUnchanged(const std::string& dump) {
    return dump.find(" 0x1\n") != std::string::npos || dump.find(" 0x1 at") != std::string::npos;
}

// Writes the tree as the flows do and returns what followed the wrapper's opening lines.
std::string written(vex::VexGroup& root) {
    return vex::test::written([&](vex::vexSceneapi_oo& out) { out.write(root); });
}

// A file of data/ beside this test.
std::string data(const std::string& name) {
    return addintest::readFile(std::string(VEX_SOURCE_DIR) + "/tests/addin/data/" + name);
}

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

TEST_F(WalkTest, WholeTreeAndMeshesCopiedOutOfTheHost) {
    // The design has every flag word, the appearance rules and a component placed twice, in
    // millimetres. The override reaches the bodies of Mid only (not Leaf's); faces group by
    // appearance identifier in byte order ("Zinc" before "a-red", "" first); hidden things are
    // empty groups; placements are in millimetres; the root component has none.
    Walk walk(data("rules.json"));
    const host::Audit start = host::Audit::now();
    const auto root = walk.build();
    EXPECT_EQ(dump(*root), data("rules-tree.txt"));
    // Each placement has meshes of its own, copied into the tree: nothing of the host is held.
    const vex::VexGroup& top = group(root->groups().at(0));
    EXPECT_NE(group(group(group(top.groups().at(0)).groups().at(1)).groups().at(0)).nodes().at(0),
              group(group(group(top.groups().at(1)).groups().at(1)).groups().at(0)).nodes().at(0));
    EXPECT_EQ(host::Audit::now().arrays, start.arrays);
    EXPECT_EQ(host::Audit::now().references, start.references);
    const std::string once = written(*root);
    EXPECT_EQ(written(*root), once);
    EXPECT_NE(once.find("\"vertices\" [ 10 0 0,10 20 0,10 20 30,"), std::string::npos) << once;
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
        const std::string scene = walk.exportTo(walk.scratch / "placed.rmq"), t = c.translation;
        for (const std::string& part :
             {" \"import_up_vector\" 1,\n \"meter_scale\" " + std::string(c.metre) + ",\n",
              "\n  group \"P\" {\n   flags 32769\n   transform 0 1 0 0 -1 0 0 0 0 0 1 0 " + t +
                  " -" + t + " " + t + " 1\n  }\n"})
            EXPECT_NE(scene.find(part), std::string::npos) << c.unit << "\n" << scene;
    }
}

// In inches: the first unchecked mesh has normals for two of its three nodes, the second
// texture coordinates for two, and those arrays are left out. Materials from appearances: the
// albedo colour (the last one wins), the texture of any colour property (the last file name
// wins), and the white generic material of a body without one; shaders are numbered in
// writing order, the texture first and the diffuse linking it.
TEST_F(WalkTest, MeshesAndMaterialsAreWrittenWhole) {
    Walk walk(data("meshes.json"));
    std::string text = written(*walk.build());
#ifdef _WIN32
    // A name from the root is on the design's drive there.
    text = vex::test::replaced(text, "C:\\tex\\", "/tex/");
#endif
    EXPECT_EQ(text, data("meshes.rmq"));
}

// The change record: Rig places Arm (which places Pin) and Wheel. After a first walk, a change
// marks only its component changed; the record then holds the changed design, so that the walk
// after that sends placements only (data/rig-walks.txt: both walks after each change).
TEST_F(WalkTest, AChangeMarksOnlyItsComponentChanged) {
    using Kind = host::Edit::Kind;
    auto apply = [](Kind kind, const std::string& argument) {
        return [=](host::DocumentModel& d) { host::applyEdit(d, host::parseEdit(kind, argument)); };
    };
    const std::pair<const char*, std::function<void(host::DocumentModel&)>> cases[] = {
        {"nothing", [](host::DocumentModel&) {}},
        {"appearance", apply(Kind::Appearance, "Pin/Peg=paint")},
        {"hidden body", apply(Kind::HideBody, "Arm/Beam")},
        {"geometry",
         [](host::DocumentModel& d) {
             auto wheel = d.products.at(0).root->occurrences.at(1).component;
             for (float& c : *wheel->bodies.at(0).faces.at(0).meshes.at(0)->coordinates) c *= 2;
         }},
        {"hidden occurrence",
         [](host::DocumentModel& d) { d.products.at(0).root->occurrences.at(1).visible = false; }},
        // A new placement alone changes no component: the group carries the new transform.
        {"moved", apply(Kind::Move, "Wheel=0,0.5,1")},
    };
    std::string walks;
    for (const auto& [what, change] : cases) {
        Walk walk(data("rig.json"));
        EXPECT_FALSE(anyUnchanged(dump(*walk.build())));  // all changed at first
        change(*walk.model);
        walks += std::string("== ") + what + "\n" + dump(*walk.build());
        walks += "-- next\n" + dump(*walk.build());
    }
    EXPECT_EQ(walks, data("rig-walks.txt"));
}

// The walk after a render and the hiding of Arm's body.
const std::string kBeamHidden = R"(Rig 0x0
  Rig 0x1
    Arm 0x8001 at 1 0 0
      Pin 0x1 at 0 1 0
      Beam 0x8401
    Wheel 0x1 at 0 0 5
)";

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

// Every point of an export where the host refuses an array or
// the file stops taking bytes: the flow ends with an error, every host array is
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
    auto rig = [] {
        auto walk = std::make_unique<Walk>(data("rig.json"));
        walk->model->products.at(0).root->bodies.at(0).faces.at(0).meshes.at(0) = strip(400);
        walk->build();  // as a render transfer would
        host::applyEdit(*walk->model, host::parseEdit(host::Edit::Kind::HideBody, "Arm/Beam"));
        return walk;
    };
    const addintest::ScratchDir dir;
    const std::filesystem::path file = dir / "rig.rmq";
    const auto reference = rig();
    const std::string whole = reference->exportTo(file);
    // The export was no transfer to the renderer: the next walk still sends the hidden body.
    EXPECT_EQ(dump(*reference->build()), kBeamHidden);
    for (const Fault& fault : faults) {
        long n = 1, opened = 0;
        for (bool fired = true; fired && n < 200; ++n) {
            auto walk = rig();
            walk->session.answerSaveDialog(file.string());
            std::filesystem::remove(file);
            const host::Audit start = host::Audit::now();
            bool failed = false;
            fault.arm(walk->session, n);
            try {
                walk->exporter->exportFlow(walk->document);
            } catch (const std::exception&) {
                failed = true;
            }
            fired = !fault.disarm(walk->session);
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
            const bool everything = walk->exporter->previousStates.empty();
            const std::string next = dump(*walk->build());
            EXPECT_FALSE(everything && anyUnchanged(next)) << at << "\n" << next;
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

}  // namespace
