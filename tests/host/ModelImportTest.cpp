// Model files imported with assimp, from Debian's assimp-testmodels.
#include <gtest/gtest.h>

#include <filesystem>

#include "DesignLoader.hpp"
#include "HostTestSupport.hpp"

namespace {

std::string model(const std::string& relative) {
    return std::string(ASSIMP_MODELS) + "/" + relative;
}

const host::MeshModel& firstMesh(const host::ComponentModel& c) {
    for (const auto& b : c.bodies) return *b.faces.at(0).meshes.at(0);
    for (const auto& o : c.occurrences) return firstMesh(*o.component);
    throw std::runtime_error("no mesh");
}

TEST(ModelImport, ObjBoxIsTwelveTriangles) {
    host::DocumentRef doc = host::importModel(model("OBJ/box.obj"));
    EXPECT_EQ(doc->name, "box");
    ASSERT_EQ(doc->products.size(), 1u);
    EXPECT_EQ(doc->products[0].unit, "cm");
    host::DesignTotals t = host::totals(*doc);
    EXPECT_EQ(t.triangles, 12u);  // six quads
    EXPECT_EQ(t.bodies, 1u);
    const host::MeshModel& m = firstMesh(*doc->products[0].root);
    ASSERT_TRUE(m.normals);
    EXPECT_EQ(m.normals->size(), m.coordinates->size());
}

TEST(ModelImport, UnitScalesLengthsToCentimetres) {
    host::LoadOptions mm;
    mm.unit = "mm";
    host::LoadOptions in;
    in.unit = "in";
    auto a = host::importModel(model("PLY/cube.ply"));
    auto b = host::importModel(model("PLY/cube.ply"), mm);
    auto c = host::importModel(model("PLY/cube.ply"), in);
    EXPECT_EQ(b->products[0].unit, "mm");
    const auto& ca = *firstMesh(*a->products[0].root).coordinates;
    const auto& cb = *firstMesh(*b->products[0].root).coordinates;
    const auto& cc = *firstMesh(*c->products[0].root).coordinates;
    ASSERT_EQ(ca.size(), cb.size());
    bool nonzero = false;
    for (std::size_t i = 0; i < ca.size(); ++i) {
        EXPECT_FLOAT_EQ(cb[i], ca[i] * 0.1f);
        EXPECT_FLOAT_EQ(cc[i], ca[i] * 2.54f);
        nonzero = nonzero || ca[i] != 0.0f;
    }
    EXPECT_TRUE(nonzero);
    EXPECT_EQ(host::totals(*a).triangles, 12u);
}

TEST(ModelImport, SpiderObjHasMaterialsWithTextures) {
    host::DocumentRef doc = host::importModel(model("OBJ/spider.obj"));
    EXPECT_EQ(host::totals(*doc).triangles, 1368u);  // as many as its STL twin has facets
    bool textured = false;
    for (const auto& a : doc->appearances) {
        ASSERT_FALSE(a->properties.empty());
        EXPECT_EQ(a->properties[0].id, "generic_diffuse");
        if (a->name == "HLeibTex") {
            ASSERT_TRUE(a->properties[0].texture);
            const auto& file = a->properties[0].texture->properties.at(0);
            EXPECT_EQ(file.id, "unifiedbitmap_Bitmap");
            EXPECT_EQ(file.kind, host::PropertyModel::Kind::Filename);
            EXPECT_EQ(file.file, model("OBJ/SpiderTex.jpg"));
            textured = true;
        }
    }
    EXPECT_TRUE(textured);
}

TEST(ModelImport, SpiderStlFacetCount) {
    EXPECT_EQ(host::totals(*host::importModel(model("STL/Spider_ascii.stl"))).triangles, 1368u);
    EXPECT_EQ(host::totals(*host::importModel(model("STL/Spider_binary.stl"))).triangles, 1368u);
}

TEST(ModelImport, GltfNodesBecomeOccurrencesWithTexture) {
    host::DocumentRef doc = host::importModel(model("glTF2/BoxTextured-glTF/BoxTextured.gltf"));
    EXPECT_EQ(host::totals(*doc).triangles, 12u);
    EXPECT_GE(host::totals(*doc).occurrences, 1u);
    bool found = false;
    for (const auto& a : doc->appearances)
        if (!a->properties.empty() && a->properties[0].texture) {
            EXPECT_EQ(a->properties[0].texture->properties.at(0).file,
                      model("glTF2/BoxTextured-glTF/CesiumLogoFlat.png"));
            found = true;
        }
    EXPECT_TRUE(found);
}

TEST(ModelImport, UnreadableAndBrokenFilesAreRefused) {
    EXPECT_THROW(host::importModel("/nonexistent/model.obj"), host::DesignError);
    std::string junk = hosttest::write("junk.stl", "this is no model\n");
    try {
        host::importModel(junk);
        FAIL();
    } catch (const host::DesignError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(junk + ": cannot import: ", 0), 0u) << e.what();
    }
    host::LoadOptions bad;
    bad.unit = "yd";
    EXPECT_THROW(host::importModel(model("OBJ/box.obj"), bad), host::DesignError);
}

}  // namespace
