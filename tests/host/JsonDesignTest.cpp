// The JSON design format: what a good file gives, and the message of every kind of bad file.
#include <gtest/gtest.h>

#include "DesignLoader.hpp"
#include "HostTestSupport.hpp"

namespace {

using hosttest::write;

std::string sample() {
    return std::string(VEX_SOURCE_DIR) + "/examples/sample-assembly.json";
}

TEST(JsonDesign, SampleAssemblyLoadsCompletely) {
    host::DocumentRef doc = host::loadJsonDesign(sample());
    EXPECT_EQ(doc->name, "Sample Cart v3");
    ASSERT_EQ(doc->products.size(), 2u);
    EXPECT_TRUE(doc->products[0].isDesign);
    EXPECT_FALSE(doc->products[1].isDesign);
    EXPECT_EQ(doc->products[0].unit, "mm");
    host::DesignTotals t = host::totals(*doc);
    EXPECT_EQ(t.components, 4u);
    EXPECT_EQ(t.occurrences, 7u);  // 2 axles + handle + 2 x 2 wheels
    EXPECT_EQ(t.bodies, 9u);
    EXPECT_EQ(t.triangles, 146u);  // 12 + 12 + 2 x 12 + 4 x 24 + 2
    // The two axles place one component: repeated, not copied.
    const auto& root = *doc->products[0].root;
    EXPECT_EQ(root.occurrences[0].component, root.occurrences[1].component);
    EXPECT_EQ(doc->camera.eye[0], 60.0);
    EXPECT_EQ(doc->appearances.size(), 2u);
}

TEST(JsonDesign, UnitOptionReplacesDesignUnit) {
    host::LoadOptions o;
    o.unit = "in";
    EXPECT_EQ(host::loadJsonDesign(sample(), o)->products[0].unit, "in");
}

TEST(JsonDesign, MatrixTransformAndLengthUnit) {
    std::string file =
        write("matrix.json", R"({"document": "", "lengthUnit": "m", "upAxis": "z", "products": [
      {"type": "design", "unit": "furlong", "root": "r", "components": [
        {"id": "r", "name": "Root", "occurrences": [
          {"component": "c", "visible": false, "transform": [0, -1, 0, 1.5,  1, 0, 0, 2,  0, 0, 1, -3,  0, 0, 0, 1]}]},
        {"id": "c", "name": "Root", "bodies": [{"name": "B", "faces": [{"meshes": [
          {"coordinates": [0, 0, 0, 1, 0, 0, 0, 1, 0], "indices": null, "unchecked": true}]}]}]}]}]})");
    host::DocumentRef doc = host::loadJsonDesign(file);
    EXPECT_EQ(doc->upAxis, 1);
    EXPECT_EQ(doc->products[0].unit, "furlong");  // unlisted units are the add-in's affair
    const auto& occ = doc->products[0].root->occurrences[0];
    EXPECT_FALSE(occ.visible);
    EXPECT_EQ(occ.cells[1], -1.0);
    EXPECT_EQ(occ.cells[3], 150.0);  // metres to centimetres
    EXPECT_EQ(occ.cells[11], -300.0);
    EXPECT_EQ(occ.component->name, "Root");  // same name, distinct id
    const auto& mesh = *occ.component->bodies[0].faces[0].meshes[0];
    EXPECT_EQ(mesh.coordinates->at(3), 100.0f);
    EXPECT_FALSE(mesh.indices.has_value());
    EXPECT_FALSE(mesh.normals.has_value());
}

TEST(JsonDesign, UncheckedMeshKeepsMismatchedCounts) {
    std::string file = write("unchecked.json", R"({"document": "d", "products": [
      {"type": "design", "root": "r", "components": [{"name": "r", "bodies": [{"name": "B", "faces": [{"meshes": [
        {"coordinates": [0,0,0, 1,0,0, 0,1,0, 1,1,0], "normals": [0,0,1, 0,0,1, 0,0,1], "uvs": [0,0, 1,0, 0,1],
         "indices": [0, 1, 7], "unchecked": true}]}]}]}]}]})");
    host::DocumentRef doc = host::loadJsonDesign(file);
    const auto& mesh = *doc->products[0].root->bodies[0].faces[0].meshes[0];
    EXPECT_EQ(mesh.normals->size(), 9u);
    EXPECT_EQ(mesh.uvs->size(), 6u);
    EXPECT_EQ(mesh.indices->at(2), 7);
}

struct BadCase {
    const char* name;
    const char* json;
    const char* message;  // expected after "FILE: "
};

class BadJsonDesign : public testing::TestWithParam<BadCase> {};

TEST_P(BadJsonDesign, GivesMessageWithFileAndPlace) {
    const BadCase& c = GetParam();
    std::string file = write(std::string("bad-") + c.name + ".json", c.json);
    try {
        host::loadJsonDesign(file);
        FAIL() << "loaded " << c.name;
    } catch (const host::DesignError& e) {
        EXPECT_EQ(std::string(e.what()), file + c.message);
    }
}

#define DESIGN(components)                                                          \
    "{\"document\": \"d\", \"products\": [{\"type\": \"design\", \"root\": \"r\", " \
    "\"components\": [" components "]}]}"
#define MESH(mesh)                                                                            \
    DESIGN("{\"name\": \"r\", \"bodies\": [{\"name\": \"B\", \"faces\": [{\"meshes\": [" mesh \
           "]}]}]}")

INSTANTIATE_TEST_SUITE_P(
    Cases, BadJsonDesign,
    testing::Values(
        BadCase{"syntax", "{\"document\": \"d\",\n  \"products\": [}",
                ":2:16: malformed JSON: syntax error while parsing value - unexpected '}'; "
                "expected '[', '{', or a literal"},
        BadCase{"empty", "",
                ":1:1: malformed JSON: syntax error while parsing value - unexpected end of input; "
                "expected '[', '{', or a literal"},
        BadCase{"notobject", "[1]", ": /: expected an object, found an array"},
        BadCase{"nodocument", "{\"products\": []}", ": /: missing member \"document\""},
        BadCase{"unknown", "{\"document\": \"d\", \"products\": [], \"prodcts\": 1}",
                ": /prodcts: unknown member \"prodcts\""},
        BadCase{"format", "{\"format\": \"x/2\", \"document\": \"d\", \"products\": []}",
                ": /format: unknown format \"x/2\", expected \"raymint-fusion-design/1\""},
        BadCase{"doctype", "{\"document\": 5, \"products\": []}",
                ": /document: expected a string, found an integer"},
        BadCase{"unit", "{\"document\": \"d\", \"lengthUnit\": \"yd\", \"products\": []}",
                ": /lengthUnit: unknown length unit \"yd\" (mm, cm, m, in or ft)"},
        BadCase{"upaxis", "{\"document\": \"d\", \"upAxis\": \"x\", \"products\": []}",
                ": /upAxis: up axis must be \"y\" or \"z\", not \"x\""},
        BadCase{"camera", "{\"document\": \"d\", \"camera\": {\"eye\": [1, 2]}, \"products\": []}",
                ": /camera/eye: expected 3 numbers, found 2"},
        BadCase{"angle",
                "{\"document\": \"d\", \"camera\": {\"viewAngle\": 180}, \"products\": []}",
                ": /camera/viewAngle: view angle must lie between 0 and 180 degrees"},
        BadCase{"product", "{\"document\": \"d\", \"products\": [{\"type\": \"drawing\"}]}",
                ": /products/0/type: unknown product type \"drawing\" (design or other)"},
        BadCase{"root", DESIGN("{\"name\": \"a\"}"),
                ": /products/0/root: no component with id \"r\" in this design"},
        BadCase{"dupcomp", DESIGN("{\"name\": \"r\"}, {\"name\": \"r\"}"),
                ": /products/0/components/1/name: duplicate component id \"r\" (give components of "
                "the same name an \"id\")"},
        BadCase{"occref",
                DESIGN("{\"name\": \"r\", \"occurrences\": [{\"component\": \"Wheel\"}]}"),
                ": /products/0/components/0/occurrences/0/component: no component with id "
                "\"Wheel\" in this design"},
        BadCase{"cycle",
                DESIGN("{\"name\": \"r\", \"occurrences\": [{\"component\": \"a\"}]}, {\"name\": "
                       "\"a\", \"occurrences\": [{\"component\": \"r\"}]}"),
                ": /products/0/components/1/occurrences/0/component: component \"r\" places itself "
                "(occurrence cycle)"},
        BadCase{"visible",
                DESIGN("{\"name\": \"r\", \"occurrences\": [{\"component\": \"a\", \"visible\": "
                       "1}]}, {\"name\": \"a\"}"),
                ": /products/0/components/0/occurrences/0/visible: expected true or false, found "
                "an integer"},
        BadCase{"matrix",
                DESIGN("{\"name\": \"r\", \"occurrences\": [{\"component\": \"a\", \"transform\": "
                       "[1, 0, 0]}]}, {\"name\": \"a\"}"),
                ": /products/0/components/0/occurrences/0/transform: expected 16 numbers (4 rows "
                "of 4), found 3"},
        BadCase{"lastrow",
                DESIGN("{\"name\": \"r\", \"occurrences\": [{\"component\": \"a\", \"transform\": "
                       "[1,0,0,0, 0,1,0,0, 0,0,1,0, 1,0,0,1]}]}, {\"name\": \"a\"}"),
                ": /products/0/components/0/occurrences/0/transform/12: the last row of a "
                "placement must be 0 0 0 1"},
        BadCase{
            "appref",
            DESIGN("{\"name\": \"r\", \"bodies\": [{\"name\": \"B\", \"appearance\": \"gold\"}]}"),
            ": /products/0/components/0/bodies/0/appearance: no appearance with id \"gold\""},
        BadCase{"dupapp",
                "{\"document\": \"d\", \"appearances\": [{\"id\": \"a\", \"name\": \"A\"}, "
                "{\"id\": \"a\", \"name\": \"B\"}], \"products\": []}",
                ": /appearances/1/id: duplicate appearance id \"a\""},
        BadCase{"colour",
                "{\"document\": \"d\", \"appearances\": [{\"id\": \"a\", \"name\": \"A\", "
                "\"properties\": [{\"id\": \"generic_diffuse\", \"type\": \"color\", \"color\": "
                "[255, 256, 0]}]}], \"products\": []}",
                ": /appearances/0/properties/0/color/1: integer 256 out of range 0 to 255"},
        BadCase{"proptype",
                "{\"document\": \"d\", \"appearances\": [{\"id\": \"a\", \"name\": \"A\", "
                "\"properties\": [{\"id\": \"x\", \"type\": \"bitmap\"}]}], \"products\": []}",
                ": /appearances/0/properties/0/type: unknown property type \"bitmap\" (color, "
                "filename or float)"},
        BadCase{"filevalue",
                "{\"document\": \"d\", \"appearances\": [{\"id\": \"a\", \"name\": \"A\", "
                "\"properties\": [{\"id\": \"x\", \"type\": \"filename\", \"value\": 3}]}], "
                "\"products\": []}",
                ": /appearances/0/properties/0/value: expected a string, found an integer"},
        BadCase{"coords", MESH("{\"coordinates\": [0, 0, 0, 1], \"indices\": []}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/coordinates: 4 coordinates "
                "are not 3 per node"},
        BadCase{"coordtype", MESH("{\"coordinates\": [0, \"0\", 0], \"indices\": []}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/coordinates/1: expected a "
                "number, found a string"},
        BadCase{"normals",
                MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"normals\": [0,0,1], \"indices\": "
                     "[0,1,2]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/normals: 3 normal values for "
                "3 nodes, expected 9"},
        BadCase{"uvs",
                MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"uvs\": [0,0, 1,0], \"indices\": "
                     "[0,1,2]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/uvs: 4 texture coordinates "
                "for 3 nodes, expected 6"},
        BadCase{"indexcount", MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"indices\": [0,1]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices: 2 indices are not 3 "
                "per triangle"},
        BadCase{"indexrange",
                MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"indices\": [0,1,3]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices/2: index 3 out of "
                "range: the mesh has 3 nodes"},
        BadCase{"negindex", MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"indices\": [0,-1,2]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices/1: integer -1 out of "
                "range 0 to 2147483647"},
        BadCase{"fracindex",
                MESH("{\"coordinates\": [0,0,0, 1,0,0, 0,1,0], \"indices\": [0,1.5,2]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices/1: expected an "
                "integer, found a number"},
        BadCase{"noindices", MESH("{\"coordinates\": [0,0,0]}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0: missing member \"indices\" "
                "(or mark the mesh \"unchecked\")"},
        BadCase{"lengthrange", MESH("{\"coordinates\": [0,0,1e300], \"indices\": []}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/coordinates/2: length out of "
                "range (at most 3.4e37 cm)"},
        BadCase{"box", MESH("{\"box\": {\"min\": [0,0,0], \"max\": [1,0,1]}}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/box: box min must be below "
                "max on every axis"},
        BadCase{"boxmix", MESH("{\"box\": {\"min\": [0,0,0], \"max\": [1,1,1]}, \"indices\": []}"),
                ": /products/0/components/0/bodies/0/faces/0/meshes/0/indices: a box mesh has no "
                "\"indices\""},
        BadCase{"nomeshes",
                DESIGN("{\"name\": \"r\", \"bodies\": [{\"name\": \"B\", \"faces\": [{}]}]}"),
                ": /products/0/components/0/bodies/0/faces/0: missing member \"meshes\""},
        BadCase{"pointer", "{\"document\": \"d\", \"products\": [], \"a/b~c\": 0}",
                ": /a~1b~0c: unknown member \"a/b~c\""}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// One thousand levels load, of the file as of occurrences; one more is refused (the refusals of
// far deeper designs are in FusionHostTest).
TEST(JsonDesign, NestingLimitIsOneThousandLevels) {
    auto message = [](const std::string& file) -> std::string {
        try {
            host::loadJsonDesign(file);
        } catch (const host::DesignError& e) {
            return e.what();
        }
        return "loaded";
    };
    auto nested = [](int levels) {
        // The top object is the first level.
        return "{\"document\": \"d\", \"products\": [], \"x\": " + std::string(levels - 1, '[') +
               std::string(levels - 1, ']') + "}";
    };
    std::string fits = write("nest-1000.json", nested(1000));
    EXPECT_EQ(message(fits), fits + ": /x: unknown member \"x\"");
    std::string over = write("nest-1001.json", nested(1001));
    std::string pointer = "/x";
    for (int i = 0; i < 999; ++i) pointer += "/0";
    EXPECT_EQ(message(over), over + ": " + pointer + ": nested deeper than 1000 levels");

    auto chain = [](int levels) {
        std::string components = "{\"id\": \"c0\", \"name\": \"Root\", \"occurrences\": []}";
        for (int i = 1; i <= levels; ++i)
            components = "{\"id\": \"c" + std::to_string(i) +
                         "\", \"name\": \"C\", \"occurrences\": [{\"component\": \"c" +
                         std::to_string(i - 1) + "\"}]}, " + components;
        return "{\"document\": \"d\", \"products\": [{\"type\": \"design\", \"root\": \"c" +
               std::to_string(levels) + "\", \"components\": [" + components + "]}]}";
    };
    host::DocumentRef doc = host::loadJsonDesign(write("chain-1000.json", chain(1000)));
    EXPECT_EQ(host::totals(*doc).occurrences, 1000u);
    std::string deeper = write("chain-1001.json", chain(1001));
    EXPECT_EQ(message(deeper), deeper +
                                   ": /products/0/components/1000/occurrences/0: occurrences "
                                   "nested deeper than 1000 levels");
}

TEST(JsonDesign, UnreadableFileIsNamed) {
    try {
        host::loadJsonDesign("/nonexistent/design.json");
        FAIL();
    } catch (const host::DesignError& e) {
        EXPECT_STREQ(e.what(), "/nonexistent/design.json: cannot read: No such file or directory");
    }
}

TEST(JsonDesign, ExtensionDecidesTheReader) {
    std::string file = write("notjson.JSON", "solid x\nendsolid x\n");
    EXPECT_THROW(
        {
            try {
                host::loadDesign(file);
            } catch (const host::DesignError& e) {
                EXPECT_NE(std::string(e.what()).find("malformed JSON"), std::string::npos)
                    << e.what();
                throw;
            }
        },
        host::DesignError);
}

}  // namespace
