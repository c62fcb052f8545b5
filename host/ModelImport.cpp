// Designs from model files that assimp imports: nodes become components placed by occurrences,
// meshes become bodies of one face with one display mesh, materials become appearances.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <filesystem>
#include <map>

#include "DesignLoader.hpp"

namespace host {
namespace {

namespace fs = std::filesystem;

short channel(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 1.0f) return 255;
    return static_cast<short>(std::lround(v * 255.0f));
}

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

class Importer {
  public:
    Importer(const std::string& path, double cmPerUnit) : path_(path), scale_(cmPerUnit) {}

    void materials(const aiScene& scene, DocumentModel& doc) {
        for (unsigned i = 0; i < scene.mNumMaterials; ++i) {
            const aiMaterial& m = *scene.mMaterials[i];
            auto a = std::make_shared<AppearanceModel>();
            a->id = "material-" + std::to_string(i);
            aiString name;
            a->name = m.Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length > 0
                          ? name.C_Str()
                          : "Material " + std::to_string(i);
            PropertyModel diffuse;
            diffuse.kind = PropertyModel::Kind::Color;
            diffuse.id = "generic_diffuse";
            diffuse.name = "Color";
            aiColor4D c;
            if (m.Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS ||
                m.Get(AI_MATKEY_BASE_COLOR, c) == AI_SUCCESS) {
                diffuse.hasColor = true;
                diffuse.rgba = {channel(c.r), channel(c.g), channel(c.b), channel(c.a)};
            }
            aiString file;
            if (m.GetTexture(aiTextureType_DIFFUSE, 0, &file) == AI_SUCCESS ||
                m.GetTexture(aiTextureType_BASE_COLOR, 0, &file) == AI_SUCCESS) {
                std::string texture = file.C_Str();
                // "*N" names a texture embedded in the model, which has no file of its own.
                if (!texture.empty() && texture[0] != '*') {
                    // Models written on Windows name textures with backslashes.
                    for (char& ch : texture)
                        if (ch == '\\') ch = '/';
                    fs::path p(texture);
                    if (p.is_relative()) p = fs::path(path_).parent_path() / p;
                    PropertyModel bitmap;
                    bitmap.kind = PropertyModel::Kind::Filename;
                    bitmap.id = "unifiedbitmap_Bitmap";
                    bitmap.name = "Image";
                    bitmap.file = p.lexically_normal().string();
                    diffuse.texture = std::make_shared<TextureModel>();
                    diffuse.texture->properties.push_back(std::move(bitmap));
                }
            }
            a->properties.push_back(std::move(diffuse));
            doc.appearances.push_back(a);
        }
    }

    // One body per triangle mesh; primitives other than triangles are left out.
    std::vector<std::pair<std::string, MeshRef>> meshes(const aiScene& scene) {
        std::vector<std::pair<std::string, MeshRef>> out;
        for (unsigned i = 0; i < scene.mNumMeshes; ++i) {
            const aiMesh& m = *scene.mMeshes[i];
            std::vector<int> indices;
            for (unsigned f = 0; f < m.mNumFaces; ++f) {
                const aiFace& face = m.mFaces[f];
                if (face.mNumIndices != 3) continue;
                for (unsigned k = 0; k < 3; ++k)
                    indices.push_back(static_cast<int>(face.mIndices[k]));
            }
            if (indices.empty()) {
                out.emplace_back("", nullptr);
                continue;
            }
            auto mesh = std::make_shared<MeshModel>();
            std::vector<float> p, n, uv;
            auto bad = [&](unsigned v, const char* what) {
                throw DesignError(path_ + ": mesh " + std::to_string(i) + ", vertex " +
                                  std::to_string(v) + ": " + what);
            };
            // Positions first: normals generated from a position out of range are not finite
            // either, and the position is the place to name.
            for (unsigned v = 0; v < m.mNumVertices; ++v) {
                const aiVector3D& q = m.mVertices[v];
                double x = q.x * scale_, y = q.y * scale_, z = q.z * scale_;
                if (!(std::fabs(x) <= kMaxLength && std::fabs(y) <= kMaxLength &&
                      std::fabs(z) <= kMaxLength))
                    bad(v, "position out of range (at most 3.4e37 cm)");
                p.insert(p.end(),
                         {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)});
            }
            for (unsigned v = 0; v < m.mNumVertices; ++v) {
                if (m.mNormals) {
                    if (!finite(m.mNormals[v])) bad(v, "normal not a finite number");
                    n.insert(n.end(), {m.mNormals[v].x, m.mNormals[v].y, m.mNormals[v].z});
                }
                if (m.mTextureCoords[0]) {
                    if (!finite(m.mTextureCoords[0][v]))
                        bad(v, "texture coordinate not a finite number");
                    uv.insert(uv.end(), {m.mTextureCoords[0][v].x, m.mTextureCoords[0][v].y});
                }
            }
            mesh->coordinates = std::move(p);
            if (m.mNormals) mesh->normals = std::move(n);
            if (m.mTextureCoords[0]) mesh->uvs = std::move(uv);
            mesh->indices = std::move(indices);
            std::string name =
                m.mName.length > 0 ? m.mName.C_Str() : "Body" + std::to_string(i + 1);
            out.emplace_back(name, mesh);
        }
        return out;
    }

    ComponentRef component(const aiNode& node,
                           const std::vector<std::pair<std::string, MeshRef>>& meshes,
                           const aiScene& scene, const DocumentModel& doc, int level = 0) {
        if (level > kMaxNesting)
            throw DesignError(path_ + ": node \"" + std::string(node.mName.C_Str()) +
                              "\": nodes nested deeper than " + std::to_string(kMaxNesting) +
                              " levels");
        auto c = std::make_shared<ComponentModel>();
        c->name = uniqueName(node.mName.length > 0 ? node.mName.C_Str() : "Component");
        std::map<std::string, int> bodyNames;
        for (unsigned i = 0; i < node.mNumMeshes; ++i) {
            unsigned index = node.mMeshes[i];
            if (index >= meshes.size() || !meshes[index].second) continue;
            BodyModel body;
            std::string name = meshes[index].first;
            // Body names are keys of the add-in's records: keep them distinct per component.
            int seen = ++bodyNames[name];
            body.name = seen == 1 ? name : name + " (" + std::to_string(seen) + ")";
            unsigned material = scene.mMeshes[index]->mMaterialIndex;
            if (material < doc.appearances.size()) body.appearance = doc.appearances[material];
            FaceModel face;
            face.meshes.push_back(meshes[index].second);
            body.faces.push_back(std::move(face));
            c->bodies.push_back(std::move(body));
        }
        for (unsigned i = 0; i < node.mNumChildren; ++i) {
            const aiNode& child = *node.mChildren[i];
            OccurrenceModel occ;
            occ.component = component(child, meshes, scene, doc, level + 1);
            occ.cells = cells(child);
            c->occurrences.push_back(std::move(occ));
        }
        return c;
    }

    // A node's transformation as a placement in centimetres.
    Cells cells(const aiNode& node) const {
        const aiMatrix4x4& t = node.mTransformation;
        Cells c{t.a1, t.a2, t.a3, t.a4 * scale_, t.b1, t.b2, t.b3, t.b4 * scale_,
                t.c1, t.c2, t.c3, t.c4 * scale_, t.d1, t.d2, t.d3, t.d4};
        for (double v : c)
            if (!(std::fabs(v) <= kMaxLength))
                throw DesignError(path_ + ": node \"" + std::string(node.mName.C_Str()) +
                                  "\": transformation out of range");
        return c;
    }

    // Component names are the add-in's component keys, so duplicates get a number.
    std::string uniqueName(const std::string& name) {
        int n = ++names_[name];
        return n == 1 ? name : name + " " + std::to_string(n);
    }

  private:
    std::string path_;
    double scale_;
    std::map<std::string, int> names_;
};

}  // namespace

DocumentRef importModel(const std::string& path, const LoadOptions& options) {
    std::string unit = options.unit.value_or("cm");
    auto cm = centimetresPerUnit(unit);
    if (!cm) throw DesignError("unknown unit \"" + unit + "\" (mm, cm, m, in or ft)");
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw DesignError(path + ": cannot read: no such file");

    Assimp::Importer importer;
    const aiScene* scene =
        importer.ReadFile(path, aiProcess_Triangulate | aiProcess_GenNormals |
                                    aiProcess_SortByPType | aiProcess_ValidateDataStructure);
    if (!scene) throw DesignError(path + ": cannot import: " + importer.GetErrorString());
    if ((scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) || !scene->mRootNode)
        throw DesignError(path + ": cannot import: the file holds no complete scene");

    auto doc = std::make_shared<DocumentModel>();
    doc->name = fs::path(path).stem().string();
    Importer in(path, *cm);
    in.materials(*scene, *doc);
    auto meshes = in.meshes(*scene);
    ProductModel design;
    design.unit = unit;
    design.name = doc->name;
    design.root = in.component(*scene->mRootNode, meshes, *scene, *doc);
    // A root component has no placement: a transformed root node (axis conversions of some
    // formats) is placed by an occurrence in a root component of its own.
    if (!scene->mRootNode->mTransformation.IsIdentity()) {
        auto root = std::make_shared<ComponentModel>();
        root->name = in.uniqueName(doc->name.empty() ? "Root" : doc->name);
        OccurrenceModel occ;
        occ.component = design.root;
        occ.cells = in.cells(*scene->mRootNode);
        root->occurrences.push_back(std::move(occ));
        design.root = root;
    }
    doc->products.push_back(std::move(design));
    return doc;
}

}  // namespace host
