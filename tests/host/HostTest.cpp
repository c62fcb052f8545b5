// The stand-in host in process: the design model, edits, and loading designs (JSON files and
// imported models) with the message of every kind of bad file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "DesignLoader.hpp"
#include "Edits.hpp"
#include "HostTestSupport.hpp"

namespace {

const std::string kSample = std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json";

// Physical properties, which the add-in's export does not write: the root's own two boxes of
// 60 x 4 x 30 cm and 56 x 2 x 28 cm.
TEST(Model, AreaAndVolume) {
    const host::Measures m = host::measure(*host::loadJsonDesign(kSample)->products[0].root);
    EXPECT_NEAR(m.area, 2 * (60 * 4 + 60 * 30 + 4 * 30) + 2 * (56 * 2 + 56 * 28 + 2 * 28), 1e-6);
    EXPECT_NEAR(m.volume, 60 * 4 * 30 + 56 * 2 * 28, 1e-6);
}

// Each edit changes exactly what it names; a malformed one, or one whose target is not in the
// design, is refused and leaves the design as it was.
TEST(Edits, EachEditChangesWhatItNamesOrIsRefused) {
    using K = host::Edit::Kind;
    auto d = host::loadJsonDesign(kSample);
    auto apply = [&](K kind, const std::string& argument) {
        try {
            return host::applyEdit(*d, host::parseEdit(kind, argument));
        } catch (const host::EditError&) {
            return std::string("refused");
        }
    };
    auto& cart = *d->products[0].root;
    const host::Cells first = cart.occurrences[0].cells, second = cart.occurrences[1].cells;
    const std::map<K, std::vector<std::string>> refused = {
        {K::HideBody, {"Chassis", "/Chassis", "Cart/", "Nothing/Chassis", "Sample Cart/Nothing"}},
        {K::Appearance, {"Wheel/Tyre", "Wheel/Tyre=", "Wheel/Tyre=velvet"}},
        {K::Move,
         {"Axle=1,2", "Axle=1,2,3,4", "Axle=1,x,3", "Axle=1,inf,3", "=1,2,3", "Axle:0=1,2,3",
          "Axle:3=1,2,3", "Axle:x=1,2,3", "Sample Cart=1,2,3", "Wheel:3=0,0,1", "Axle=0,3.5e37,0"}},
        {K::Rename, {""}}};
    for (const auto& [kind, arguments] : refused)
        for (const std::string& argument : arguments)
            EXPECT_EQ(apply(kind, argument), "refused") << argument;
    EXPECT_TRUE(cart.bodies[0].visible);
    EXPECT_EQ(cart.occurrences[0].component->occurrences[0].component->bodies[0].appearance->id,
              "rubber-checker");
    EXPECT_EQ(cart.occurrences[1].cells, second);
    EXPECT_EQ(d->name, "Sample Cart v3");

    // (Hiding bodies and appearances by name: tests/addin/WalkTest.cpp.) The second occurrence of
    // Axle is the second one under the cart.
    EXPECT_EQ(apply(K::Move, "Axle:2=1.5,-2,0"), "moved occurrence 2 of \"Axle\"");
    host::Cells moved = second;
    moved[3] += 1.5;
    moved[7] -= 2;
    EXPECT_EQ(cart.occurrences[1].cells, moved);
    EXPECT_EQ(cart.occurrences[0].cells, first);
    EXPECT_EQ(apply(K::Rename, "Sample Cart v4"),
              "renamed the document \"Sample Cart v3\" to \"Sample Cart v4\"");
    EXPECT_EQ(d->name, "Sample Cart v4");
}

// The message loading `file` gives, or "loaded".
std::string loadMessage(const std::string& file) {
    try {
        host::loadDesign(file);
    } catch (const host::DesignError& e) {
        return e.what();
    }
    return "loaded";
}

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

// Components c0 (the root) to cN, each placing the next `times` times.
std::string chain(int length, int times) {
    std::string components;
    for (int i = 0; i <= length; ++i)
        components += std::string(i ? ", " : "") + "{\"id\": \"c" + std::to_string(i) +
                      "\", \"name\": \"C\", \"occurrences\": [" +
                      (i < length ? repeat("{\"component\": \"c" + std::to_string(i + 1) + "\"}, ",
                                           times - 1) +
                                        "{\"component\": \"c" + std::to_string(i + 1) + "\"}"
                                  : "") +
                      "]}";
    return "{\"document\": \"d\", \"products\": [{\"type\": \"design\", \"root\": \"c0\", "
           "\"components\": [" +
           components + "]}]}";
}

// The top object is the first level.
std::string nested(int levels) {
    return "{\"document\": \"d\", \"products\": [], \"x\": " + repeat("[", levels - 1) +
           repeat("]", levels - 1) + "}";
}

TEST(JsonDesign, EveryKindOfBadFileIsRefusedWithFileAndPlace) {
    std::ifstream table(VEX_SOURCE_DIR "/tests/host/data/bad-designs.txt");
    std::string line, name, text, path;
    int cases = 0;
    while (std::getline(table, line)) {
        if (line.rfind("== ", 0) == 0) {
            name = line.substr(3);
            text.clear();
        } else if (line.rfind("-> ", 0) == 0) {
            std::string message = line.substr(3);
#ifdef VEX_HOST_NO_ASSIMP
            if (name.ends_with(".obj"))
                message = ": cannot read: this build opens only .json designs (no model import)";
#endif
            path = hosttest::write(name.find('.') == std::string::npos ? name + ".json" : name,
                                   text.empty() ? text : text.substr(1));
            EXPECT_EQ(loadMessage(path), path + message) << name;
            ++cases;
        } else if (line.rfind('#', 0) != 0) {
            text += "\n" + line;
        }
    }
    EXPECT_EQ(cases, 51);
    // Far beyond every limit of nesting, and the boundary: one thousand levels load, of the
    // file as of occurrences; one more is refused.
    const int deep = 100000;
    const int textures = deep / 3;  // each adds the property, its texture and its properties
    const std::pair<std::string, std::string> generated[] = {
        {"{\"document\": \"d\", \"products\": [], \"appearances\": [{\"id\": \"a\", \"name\": "
         "\"A\", \"properties\": [" +
             repeat("{\"id\": \"p\", \"type\": \"color\", \"texture\": {\"properties\": [",
                    textures) +
             repeat("]}}", textures) + "]}]}",
         ": /appearances/0/properties/0" + repeat("/texture/properties/0", 332) +
             ": nested deeper than 1000 levels"},
        {repeat("[", deep) + repeat("]", deep),
         ": " + repeat("/0", 1000) + ": nested deeper than 1000 levels"},
        {nested(1000), ": /x: unknown member \"x\""},
        {nested(1001), ": /x" + repeat("/0", 999) + ": nested deeper than 1000 levels"},
        {chain(20000, 1),
         ": /products/0/components/1000/occurrences/0: occurrences nested "
         "deeper than 1000 levels"},
        {chain(1000, 1), "loaded"},
        {chain(1001, 1),
         ": /products/0/components/1000/occurrences/0: occurrences nested "
         "deeper than 1000 levels"},
        {chain(24, 2),
         ": /products/0/components/0: component \"C\" places more than 1000000 "
         "occurrences, counted over every placement"},
    };
    for (const auto& [json, message] : generated) {
        path = hosttest::write("generated.json", json);
        EXPECT_EQ(loadMessage(path), message == "loaded" ? message : path + message);
    }
    EXPECT_EQ(loadMessage("/nonexistent/design.json"),
              "/nonexistent/design.json: cannot read: No such file or directory");
}

TEST(JsonDesign, MatrixTransformLengthUnitAndUncheckedMesh) {
    const std::string file =
        hosttest::write("matrix.json", R"({"document": "", "lengthUnit": "m", "upAxis": "z",
      "products": [{"type": "design", "unit": "furlong", "root": "r", "components": [
        {"id": "r", "name": "Root", "occurrences": [{"component": "c", "visible": false,
          "transform": [0, -1, 0, 1.5,  1, 0, 0, 2,  0, 0, 1, -3,  0, 0, 0, 1]}]},
        {"id": "c", "name": "Root", "bodies": [{"name": "B", "faces": [{"meshes": [
          {"coordinates": [0, 0, 0, 1, 0, 0, 0, 1, 0], "indices": null, "unchecked": true},
          {"coordinates": [0,0,0, 1,0,0, 0,1,0, 1,1,0], "normals": [0,0,1, 0,0,1, 0,0,1],
           "uvs": [0,0, 1,0, 0,1], "indices": [0, 1, 7], "unchecked": true}]}]}]}]}]})");
    host::DocumentRef doc = host::loadJsonDesign(file);
    EXPECT_EQ(doc->upAxis, 1);
    EXPECT_EQ(doc->products[0].unit, "furlong");  // unlisted units are the add-in's affair
    const auto& occ = doc->products[0].root->occurrences[0];
    EXPECT_FALSE(occ.visible);
    // Metres to centimetres in the translation only.
    EXPECT_EQ(occ.cells, (host::Cells{0, -1, 0, 150, 1, 0, 0, 200, 0, 0, 1, -300, 0, 0, 0, 1}));
    EXPECT_EQ(occ.component->name, "Root");  // same name, distinct id
    const auto& meshes = occ.component->bodies[0].faces[0].meshes;
    EXPECT_EQ(*meshes[0]->coordinates, (std::vector<float>{0, 0, 0, 100, 0, 0, 0, 100, 0}));
    EXPECT_FALSE(meshes[0]->indices || meshes[0]->normals);
    EXPECT_EQ(meshes[1]->normals->size(), 9u);
    EXPECT_EQ(meshes[1]->uvs->size(), 6u);
    EXPECT_EQ(*meshes[1]->indices, (std::vector<int>{0, 1, 7}));
    host::LoadOptions inches;
    inches.unit = "in";
    EXPECT_EQ(host::loadJsonDesign(kSample, inches)->products[0].unit, "in");
}

#ifndef VEX_HOST_NO_ASSIMP
// Model files imported with assimp, from Debian's assimp-testmodels.
std::string model(const std::string& relative) {
    return std::string(ASSIMP_MODELS) + "/" + relative;
}

// Name, unit, totals and the first appearance's texture file of each model.
TEST(ModelImport, ModelsWithTheirTotalsUnitsAndTextures) {
    struct Case {
        std::string file, unit, summary, texture;
    };
    const Case cases[] = {
        {"OBJ/box.obj", "", "box cm: 2 components, 1 occurrences, 1 bodies, 12 triangles", ""},
        {"OBJ/spider.obj", "",
         "spider cm: 20 components, 19 occurrences, 19 bodies, 1368 triangles",
         "OBJ/wal67ar_small.jpg"},
        {"STL/Spider_ascii.stl", "in",
         "Spider_ascii in: 2 components, 1 occurrences, 1 bodies, 1368 triangles", ""},
        {"STL/Spider_binary.stl", "",
         "Spider_binary cm: 2 components, 1 occurrences, 1 bodies, 1368 triangles", ""},
        {"glTF2/BoxTextured-glTF/BoxTextured.gltf", "mm",
         "BoxTextured mm: 3 components, 2 occurrences, 1 bodies, 12 triangles",
         "glTF2/BoxTextured-glTF/CesiumLogoFlat.png"},
    };
    for (const Case& c : cases) {
        host::LoadOptions options;
        if (!c.unit.empty()) options.unit = c.unit;
        host::DocumentRef doc = host::importModel(model(c.file), options);
        const host::DesignTotals t = host::totals(*doc);
        EXPECT_EQ(doc->name + " " + doc->products.at(0).unit + ": " + std::to_string(t.components) +
                      " components, " + std::to_string(t.occurrences) + " occurrences, " +
                      std::to_string(t.bodies) + " bodies, " + std::to_string(t.triangles) +
                      " triangles",
                  c.summary);
        std::string texture;
        for (const auto& a : doc->appearances)
            if (!a->properties.empty() && a->properties[0].texture && texture.empty())
                texture = a->properties[0].texture->properties.at(0).file;
        EXPECT_EQ(texture, c.texture.empty() ? "" : model(c.texture)) << c.file;
    }
}

TEST(ModelImport, UnitScalesLengthsToCentimetresAndBadFilesAreRefused) {
    host::LoadOptions in;
    in.unit = "in";
    const auto a = host::importModel(model("OBJ/box.obj")),
               b = host::importModel(model("OBJ/box.obj"), in);
    // (The root places the model's one node.)
    auto coordinates = [](const host::DocumentModel& d) {
        const auto& body = d.products[0].root->occurrences.at(0).component->bodies.at(0);
        return *body.faces.at(0).meshes.at(0)->coordinates;
    };
    const auto cm = coordinates(*a), inch = coordinates(*b);
    ASSERT_EQ(cm.size(), inch.size());
    for (std::size_t i = 0; i < cm.size(); ++i) EXPECT_FLOAT_EQ(inch[i], cm[i] * 2.54f);
    EXPECT_NE(cm, std::vector<float>(cm.size(), 0.0f));

    // A chain of nodes, the first holding a triangle: one thousand levels below the root load,
    // one more is refused.
    auto gltf = [](int levels) {
        std::string nodes;
        for (int i = 0; i <= levels; ++i)
            nodes += std::string(i ? ", {" : "{\"mesh\": 0, ") + "\"name\": \"n" +
                     std::to_string(i) + "\"" +
                     (i < levels ? ", \"children\": [" + std::to_string(i + 1) + "]" : "") + "}";
        return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
          "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],
          "bufferViews": [{"buffer": 0, "byteLength": 36}],
          "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                         "min": [0, 0, 0], "max": [1, 1, 0]}],
          "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}], "nodes": [)" +
               nodes + "]}";
    };
    EXPECT_EQ(loadMessage(hosttest::write("chain.gltf", gltf(1000))), "loaded");
    const std::string deeper = hosttest::write("deeper.gltf", gltf(1001));
    EXPECT_EQ(loadMessage(deeper),
              deeper + ": node \"n1001\": nodes nested deeper than 1000 levels");
    EXPECT_EQ(loadMessage("/nonexistent/model.obj"),
              "/nonexistent/model.obj: cannot read: no such file");
    const std::string junk = hosttest::write("junk.stl", "this is no model\n");
    EXPECT_EQ(loadMessage(junk).rfind(junk + ": cannot import: ", 0), 0u) << loadMessage(junk);
    host::LoadOptions bad;
    bad.unit = "yd";
    EXPECT_THROW(host::importModel(model("OBJ/box.obj"), bad), host::DesignError);
}
#endif

}  // namespace
