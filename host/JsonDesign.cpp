// Reader of the JSON design format (docs/design-format.md). It checks everything it reads, so a
// design either loads completely or fails with "FILE: /json/pointer: what is wrong".
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "DesignLoader.hpp"
#include "HostPlatform.hpp"

namespace host {
namespace {

using json = nlohmann::json;

struct Node {
    const json* j;
    std::string ptr;
};

std::string typeName(const json& j) {
    if (j.is_number_integer() || j.is_number_unsigned()) return "an integer";
    if (j.is_number()) return "a number";
    if (j.is_string()) return "a string";
    if (j.is_boolean()) return "a boolean";
    if (j.is_null()) return "null";
    if (j.is_array()) return "an array";
    return "an object";
}

std::string escapePointer(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

class Reader {
  public:
    explicit Reader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const Node& n, const std::string& what) const {
        throw DesignError(file_ + ": " + (n.ptr.empty() ? "/" : n.ptr) + ": " + what);
    }
    [[noreturn]] void fail(const std::string& ptr, const std::string& what) const {
        fail(Node{nullptr, ptr}, what);
    }

    // An object with only the listed members.
    void object(const Node& n, std::initializer_list<const char*> allowed) const {
        if (!n.j->is_object()) fail(n, "expected an object, found " + typeName(*n.j));
        for (const auto& [key, value] : n.j->items()) {
            bool known = false;
            for (const char* a : allowed) known = known || key == a;
            if (!known) fail(n.ptr + "/" + escapePointer(key), "unknown member \"" + key + "\"");
        }
    }

    std::optional<Node> optional(const Node& n, const char* key) const {
        auto found = n.j->find(key);
        if (found == n.j->end()) return std::nullopt;
        return Node{&*found, n.ptr + "/" + escapePointer(key)};
    }

    Node required(const Node& n, const char* key) const {
        auto found = optional(n, key);
        if (!found) fail(n, std::string("missing member \"") + key + "\"");
        return *found;
    }

    std::vector<Node> array(const Node& n) const {
        if (!n.j->is_array()) fail(n, "expected an array, found " + typeName(*n.j));
        std::vector<Node> items;
        for (std::size_t i = 0; i < n.j->size(); ++i)
            items.push_back(Node{&(*n.j)[i], n.ptr + "/" + std::to_string(i)});
        return items;
    }

    std::string string(const Node& n) const {
        if (!n.j->is_string()) fail(n, "expected a string, found " + typeName(*n.j));
        return n.j->get<std::string>();
    }

    bool boolean(const Node& n) const {
        if (!n.j->is_boolean()) fail(n, "expected true or false, found " + typeName(*n.j));
        return n.j->get<bool>();
    }

    double number(const Node& n) const {
        if (!n.j->is_number()) fail(n, "expected a number, found " + typeName(*n.j));
        return n.j->get<double>();
    }

    long long integer(const Node& n, long long low, long long high) const {
        if (!n.j->is_number_integer() && !n.j->is_number_unsigned())
            fail(n, "expected an integer, found " + typeName(*n.j));
        if (n.j->is_number_unsigned() &&
            n.j->get<unsigned long long>() > static_cast<unsigned long long>(high))
            fail(n, "integer " + std::to_string(n.j->get<unsigned long long>()) + " out of range " +
                        std::to_string(low) + " to " + std::to_string(high));
        long long v = n.j->get<long long>();
        if (v < low || v > high)
            fail(n, "integer " + std::to_string(v) + " out of range " + std::to_string(low) +
                        " to " + std::to_string(high));
        return v;
    }

    // A number that the scene holds as a float.
    double single(const Node& n) const {
        double v = number(n);
        if (std::fabs(v) > std::numeric_limits<float>::max()) fail(n, "number out of float range");
        return v;
    }

    // A length in the file's unit (scale: centimetres per unit), in centimetres.
    double length(const Node& n, double scale) const {
        double v = number(n) * scale;
        if (!(std::fabs(v) <= kMaxLength)) fail(n, "length out of range (at most 3.4e37 cm)");
        return v;
    }

    std::vector<float> singles(const Node& n) const {
        std::vector<float> out;
        for (const Node& item : array(n)) out.push_back(static_cast<float>(single(item)));
        return out;
    }

    std::vector<float> lengths(const Node& n, double scale) const {
        std::vector<float> out;
        for (const Node& item : array(n)) out.push_back(static_cast<float>(length(item, scale)));
        return out;
    }

    // Three numbers; lengths when a scale is given, otherwise floats.
    std::array<double, 3> triple(const Node& n, std::optional<double> scale = std::nullopt) const {
        auto items = array(n);
        if (items.size() != 3) fail(n, "expected 3 numbers, found " + std::to_string(items.size()));
        std::array<double, 3> out{};
        for (int i = 0; i < 3; ++i) out[i] = scale ? length(items[i], *scale) : single(items[i]);
        return out;
    }

    const std::string& file() const { return file_; }

  private:
    std::string file_;
};

// A box from min to max as one mesh of 6 sides x 4 nodes, with normals and uvs.
MeshRef boxMesh(const std::array<double, 3>& lo, const std::array<double, 3>& hi) {
    auto mesh = std::make_shared<MeshModel>();
    std::vector<float> p, n, uv;
    std::vector<int> ix;
    // For each side: the axis it faces, the direction, and the two axes spanning it.
    const int sides[6][4] = {{0, 1, 1, 2},  {0, -1, 2, 1}, {1, 1, 2, 0},
                             {1, -1, 0, 2}, {2, 1, 0, 1},  {2, -1, 1, 0}};
    for (const auto& s : sides) {
        int axis = s[0], dir = s[1], u = s[2], v = s[3];
        int base = static_cast<int>(p.size() / 3);
        const double corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (const auto& c : corner) {
            std::array<double, 3> q{};
            q[axis] = dir > 0 ? hi[axis] : lo[axis];
            q[u] = c[0] > 0 ? hi[u] : lo[u];
            q[v] = c[1] > 0 ? hi[v] : lo[v];
            for (double x : q) p.push_back(static_cast<float>(x));
            for (int a = 0; a < 3; ++a) n.push_back(a == axis ? static_cast<float>(dir) : 0.0f);
            uv.push_back(static_cast<float>(c[0]));
            uv.push_back(static_cast<float>(c[1]));
        }
        for (int t : {0, 1, 2, 0, 2, 3}) ix.push_back(base + t);
    }
    mesh->coordinates = std::move(p);
    mesh->normals = std::move(n);
    mesh->uvs = std::move(uv);
    mesh->indices = std::move(ix);
    return mesh;
}

class DesignReader {
  public:
    DesignReader(const Reader& r, DocumentModel& doc) : r_(r), doc_(doc) {}

    void read(const Node& root, const LoadOptions& options) {
        r_.object(root, {"format", "document", "lengthUnit", "upAxis", "camera", "appearances",
                         "products"});
        if (auto f = r_.optional(root, "format")) {
            if (r_.string(*f) != "raymint-fusion-design/1")
                r_.fail(*f, "unknown format \"" + r_.string(*f) +
                                "\", expected \"raymint-fusion-design/1\"");
        }
        doc_.name = r_.string(r_.required(root, "document"));
        if (auto u = r_.optional(root, "lengthUnit")) {
            auto cm = centimetresPerUnit(r_.string(*u));
            if (!cm)
                r_.fail(*u, "unknown length unit \"" + r_.string(*u) + "\" (mm, cm, m, in or ft)");
            scale_ = *cm;
        }
        if (auto a = r_.optional(root, "upAxis")) {
            std::string axis = r_.string(*a);
            if (axis == "y")
                doc_.upAxis = 0;
            else if (axis == "z")
                doc_.upAxis = 1;
            else
                r_.fail(*a, "up axis must be \"y\" or \"z\", not \"" + axis + "\"");
        }
        if (auto c = r_.optional(root, "camera")) readCamera(*c);
        if (auto list = r_.optional(root, "appearances"))
            for (const Node& a : r_.array(*list)) readAppearance(a);
        for (const Node& p : r_.array(r_.required(root, "products"))) readProduct(p, options);
    }

  private:
    void readCamera(const Node& n) {
        r_.object(n, {"type", "eye", "target", "up", "viewAngle"});
        CameraModel& c = doc_.camera;
        if (auto t = r_.optional(n, "type")) {
            std::string type = r_.string(*t);
            if (type == "orthographic")
                c.type = 0;
            else if (type == "perspective")
                c.type = 1;
            else if (type == "perspectiveWithOrthoFaces")
                c.type = 2;
            else
                r_.fail(*t, "unknown camera type \"" + type + "\"");
        }
        if (auto e = r_.optional(n, "eye")) c.eye = r_.triple(*e, scale_);
        if (auto t = r_.optional(n, "target")) c.target = r_.triple(*t, scale_);
        if (auto u = r_.optional(n, "up")) c.up = r_.triple(*u);
        if (auto a = r_.optional(n, "viewAngle")) {
            double degrees = r_.number(*a);
            if (!(degrees > 0.0 && degrees < 180.0))
                r_.fail(*a, "view angle must lie between 0 and 180 degrees");
            c.angleRadians = degrees * 3.14159265358979323846 / 180.0;
        }
    }

    PropertyModel readProperty(const Node& n) {
        r_.object(n, {"id", "name", "type", "color", "texture", "value"});
        PropertyModel p;
        p.id = r_.string(r_.required(n, "id"));
        if (auto name = r_.optional(n, "name"))
            p.name = r_.string(*name);
        else
            p.name = p.id;
        Node typeNode = r_.required(n, "type");
        std::string type = r_.string(typeNode);
        auto color = r_.optional(n, "color");
        auto texture = r_.optional(n, "texture");
        auto value = r_.optional(n, "value");
        auto only = [&](bool allowed, const std::optional<Node>& member, const char* key) {
            if (member && !allowed)
                r_.fail(*member,
                        std::string("\"") + key + "\" does not belong to a " + type + " property");
        };
        if (type == "color") {
            p.kind = PropertyModel::Kind::Color;
            only(false, value, "value");
            if (color) {
                auto items = r_.array(*color);
                if (items.size() != 3 && items.size() != 4)
                    r_.fail(*color, "expected 3 or 4 integers 0 to 255, found " +
                                        std::to_string(items.size()));
                for (std::size_t i = 0; i < items.size(); ++i)
                    p.rgba[i] = static_cast<short>(r_.integer(items[i], 0, 255));
                p.hasColor = true;
            }
            if (texture) {
                r_.object(*texture, {"properties"});
                p.texture = std::make_shared<TextureModel>();
                for (const Node& tp : r_.array(r_.required(*texture, "properties")))
                    p.texture->properties.push_back(readProperty(tp));
            }
        } else if (type == "filename") {
            p.kind = PropertyModel::Kind::Filename;
            only(false, color, "color");
            only(false, texture, "texture");
            p.file = r_.string(r_.required(n, "value"));
            // Like imported models, relative texture files are found beside the design file.
            const std::filesystem::path file = platform::pathFromUtf8(p.file);
            std::error_code ec;
            if (!p.file.empty() && file.is_relative())
                p.file = platform::utf8FromPath(
                    (std::filesystem::absolute(platform::pathFromUtf8(r_.file()), ec)
                         .parent_path() /
                     file)
                        .lexically_normal());
        } else if (type == "float") {
            p.kind = PropertyModel::Kind::Float;
            only(false, color, "color");
            only(false, texture, "texture");
            p.number = r_.number(r_.required(n, "value"));
        } else {
            r_.fail(typeNode, "unknown property type \"" + type + "\" (color, filename or float)");
        }
        return p;
    }

    void readAppearance(const Node& n) {
        r_.object(n, {"id", "name", "properties"});
        auto a = std::make_shared<AppearanceModel>();
        Node idNode = r_.required(n, "id");
        a->id = r_.string(idNode);
        if (a->id.empty()) r_.fail(idNode, "appearance id must not be empty");
        if (appearances_.count(a->id)) r_.fail(idNode, "duplicate appearance id \"" + a->id + "\"");
        a->name = r_.string(r_.required(n, "name"));
        if (auto props = r_.optional(n, "properties"))
            for (const Node& p : r_.array(*props)) a->properties.push_back(readProperty(p));
        appearances_[a->id] = a;
        doc_.appearances.push_back(a);
    }

    AppearanceRef appearanceRef(const std::optional<Node>& n) {
        if (!n) return nullptr;
        std::string id = r_.string(*n);
        auto found = appearances_.find(id);
        if (found == appearances_.end()) r_.fail(*n, "no appearance with id \"" + id + "\"");
        return found->second;
    }

    MeshRef readMesh(const Node& n) {
        r_.object(n, {"coordinates", "normals", "uvs", "indices", "unchecked", "box"});
        if (auto box = r_.optional(n, "box")) {
            for (const char* other : {"coordinates", "normals", "uvs", "indices", "unchecked"})
                if (auto o = r_.optional(n, other))
                    r_.fail(*o, "a box mesh has no \"" + std::string(other) + "\"");
            r_.object(*box, {"min", "max"});
            auto lo = r_.triple(r_.required(*box, "min"), scale_);
            auto hi = r_.triple(r_.required(*box, "max"), scale_);
            for (int a = 0; a < 3; ++a)
                if (!(lo[a] < hi[a])) r_.fail(*box, "box min must be below max on every axis");
            return boxMesh(lo, hi);
        }
        auto mesh = std::make_shared<MeshModel>();
        bool unchecked = false;
        if (auto u = r_.optional(n, "unchecked")) unchecked = r_.boolean(*u);
        // null stands for an array the host hands out as a null pointer, as does absence.
        auto present = [&](const char* key) -> std::optional<Node> {
            auto m = r_.optional(n, key);
            if (m && m->j->is_null()) return std::nullopt;
            return m;
        };
        auto coordinates = present("coordinates");
        auto normals = present("normals");
        auto uvs = present("uvs");
        auto indices = present("indices");
        if (coordinates) mesh->coordinates = r_.lengths(*coordinates, scale_);
        if (normals) mesh->normals = r_.singles(*normals);
        if (uvs) mesh->uvs = r_.singles(*uvs);
        if (indices) {
            std::vector<int> ix;
            for (const Node& i : r_.array(*indices))
                ix.push_back(
                    static_cast<int>(r_.integer(i, unchecked ? std::numeric_limits<int>::min() : 0,
                                                std::numeric_limits<int>::max())));
            mesh->indices = std::move(ix);
        }
        if (unchecked) return mesh;
        if (!coordinates)
            r_.fail(n, "missing member \"coordinates\" (or mark the mesh \"unchecked\")");
        std::size_t floats = mesh->coordinates->size();
        if (floats % 3 != 0)
            r_.fail(*coordinates, std::to_string(floats) + " coordinates are not 3 per node");
        std::size_t nodes = floats / 3;
        if (normals && mesh->normals->size() != floats)
            r_.fail(*normals, std::to_string(mesh->normals->size()) + " normal values for " +
                                  std::to_string(nodes) + " nodes, expected " +
                                  std::to_string(floats));
        if (uvs && mesh->uvs->size() != nodes * 2)
            r_.fail(*uvs, std::to_string(mesh->uvs->size()) + " texture coordinates for " +
                              std::to_string(nodes) + " nodes, expected " +
                              std::to_string(nodes * 2));
        if (!indices) r_.fail(n, "missing member \"indices\" (or mark the mesh \"unchecked\")");
        if (mesh->indices->size() % 3 != 0)
            r_.fail(*indices,
                    std::to_string(mesh->indices->size()) + " indices are not 3 per triangle");
        for (std::size_t i = 0; i < mesh->indices->size(); ++i)
            if (static_cast<std::size_t>((*mesh->indices)[i]) >= nodes)
                r_.fail(indices->ptr + "/" + std::to_string(i),
                        "index " + std::to_string((*mesh->indices)[i]) +
                            " out of range: the mesh has " + std::to_string(nodes) + " nodes");
        return mesh;
    }

    BodyModel readBody(const Node& n) {
        r_.object(n, {"name", "visible", "appearance", "faces"});
        BodyModel b;
        b.name = r_.string(r_.required(n, "name"));
        if (auto v = r_.optional(n, "visible")) b.visible = r_.boolean(*v);
        b.appearance = appearanceRef(r_.optional(n, "appearance"));
        if (auto faces = r_.optional(n, "faces"))
            for (const Node& f : r_.array(*faces)) {
                r_.object(f, {"appearance", "meshes"});
                FaceModel face;
                face.appearance = appearanceRef(r_.optional(f, "appearance"));
                for (const Node& m : r_.array(r_.required(f, "meshes")))
                    face.meshes.push_back(readMesh(m));
                b.faces.push_back(std::move(face));
            }
        return b;
    }

    Cells readTransform(const Node& n) {
        if (n.j->is_array()) {
            auto items = r_.array(n);
            if (items.size() != 16)
                r_.fail(n,
                        "expected 16 numbers (4 rows of 4), found " + std::to_string(items.size()));
            Cells c{};
            for (int i = 0; i < 16; ++i)
                c[i] = i % 4 == 3 && i < 12 ? r_.length(items[i], scale_) : r_.single(items[i]);
            for (int col = 0; col < 4; ++col)
                if (c[12 + col] != (col == 3 ? 1.0 : 0.0))
                    r_.fail(items[12 + col], "the last row of a placement must be 0 0 0 1");
            return c;
        }
        r_.object(n, {"translation", "rotation", "scale"});
        double s = 1.0;
        if (auto sc = r_.optional(n, "scale")) {
            s = r_.single(*sc);
            if (!(s > 0.0)) r_.fail(*sc, "scale must be positive");
        }
        // Rotation about a unit axis (Rodrigues), then scale, then translation.
        double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        if (auto rot = r_.optional(n, "rotation")) {
            r_.object(*rot, {"axis", "degrees"});
            Node axisNode = r_.required(*rot, "axis");
            auto axis = r_.triple(axisNode);
            double len = std::hypot(axis[0], axis[1], axis[2]);
            if (!(len > 0.0)) r_.fail(axisNode, "rotation axis must not be zero");
            double x = axis[0] / len, y = axis[1] / len, z = axis[2] / len;
            double a = r_.number(r_.required(*rot, "degrees")) * 3.14159265358979323846 / 180.0;
            double c = std::cos(a), sn = std::sin(a), t = 1 - c;
            double M[3][3] = {{t * x * x + c, t * x * y - sn * z, t * x * z + sn * y},
                              {t * x * y + sn * z, t * y * y + c, t * y * z - sn * x},
                              {t * x * z - sn * y, t * y * z + sn * x, t * z * z + c}};
            std::memcpy(R, M, sizeof R);
        }
        std::array<double, 3> tr{0, 0, 0};
        if (auto t = r_.optional(n, "translation")) tr = r_.triple(*t, scale_);
        Cells c = kIdentity;
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) c[4 * row + col] = R[row][col] * s;
            c[4 * row + 3] = tr[row];
        }
        return c;
    }

    void readProduct(const Node& n, const LoadOptions& options) {
        ProductModel p;
        Node typeNode = r_.required(n, "type");
        std::string type = r_.string(typeNode);
        if (type == "other") {
            r_.object(n, {"type", "name"});
            p.isDesign = false;
            if (auto name = r_.optional(n, "name")) p.name = r_.string(*name);
            doc_.products.push_back(std::move(p));
            return;
        }
        if (type != "design")
            r_.fail(typeNode, "unknown product type \"" + type + "\" (design or other)");
        r_.object(n, {"type", "name", "unit", "root", "components"});
        if (auto name = r_.optional(n, "name")) p.name = r_.string(*name);
        if (auto u = r_.optional(n, "unit")) p.unit = r_.string(*u);
        if (options.unit) p.unit = *options.unit;

        // Components first by id, so that occurrences may name components defined later.
        std::map<std::string, std::size_t> byId;
        std::vector<std::pair<Node, ComponentRef>> components;
        for (const Node& c : r_.array(r_.required(n, "components"))) {
            r_.object(c, {"id", "name", "bodies", "occurrences"});
            auto model = std::make_shared<ComponentModel>();
            Node nameNode = r_.required(c, "name");
            model->name = r_.string(nameNode);
            auto idNode = r_.optional(c, "id");
            std::string id = idNode ? r_.string(*idNode) : model->name;
            if (byId.count(id))
                r_.fail(idNode ? *idNode : nameNode,
                        "duplicate component id \"" + id + "\"" +
                            (idNode ? "" : " (give components of the same name an \"id\")"));
            byId[id] = components.size();
            components.emplace_back(c, model);
        }
        // Occurrences hold their components: a refused file must not leave them in a cycle.
        struct Untangle {
            std::vector<std::pair<Node, ComponentRef>>& components;
            bool done = false;
            ~Untangle() {
                if (!done)
                    for (auto& entry : components) entry.second->occurrences.clear();
            }
        } untangle{components};
        std::vector<std::vector<Placement>> placements(components.size());
        for (std::size_t i = 0; i < components.size(); ++i) {
            auto& [c, model] = components[i];
            if (auto bodies = r_.optional(c, "bodies"))
                for (const Node& b : r_.array(*bodies)) model->bodies.push_back(readBody(b));
            if (auto occs = r_.optional(c, "occurrences"))
                for (const Node& o : r_.array(*occs)) {
                    r_.object(o, {"component", "visible", "appearance", "transform"});
                    OccurrenceModel occ;
                    Node ref = r_.required(o, "component");
                    std::string id = r_.string(ref);
                    auto found = byId.find(id);
                    if (found == byId.end())
                        r_.fail(ref, "no component with id \"" + id + "\" in this design");
                    occ.component = components[found->second].second;
                    if (auto v = r_.optional(o, "visible")) occ.visible = r_.boolean(*v);
                    occ.appearance = appearanceRef(r_.optional(o, "appearance"));
                    if (auto t = r_.optional(o, "transform")) occ.cells = readTransform(*t);
                    placements[i].push_back({found->second, o.ptr});
                    model->occurrences.push_back(std::move(occ));
                }
        }
        checkPlacements(components, placements);

        Node rootNode = r_.required(n, "root");
        std::string root = r_.string(rootNode);
        auto found = byId.find(root);
        if (found == byId.end())
            r_.fail(rootNode, "no component with id \"" + root + "\" in this design");
        p.root = components[found->second].second;
        untangle.done = true;
        doc_.products.push_back(std::move(p));
    }

    // An occurrence: the index of the component it places and its place in the file.
    struct Placement {
        std::size_t component;
        std::string ptr;
    };

    // A component that places itself, directly or further down, would never end a walk; deep
    // nesting would exhaust the stack of the walks that recurse, and a few components placing
    // each other many times over would make a walk of astronomical length. This looks at every
    // component once, without recursion.
    void checkPlacements(const std::vector<std::pair<Node, ComponentRef>>& components,
                         const std::vector<std::vector<Placement>>& placements) const {
        const std::size_t count = components.size();
        std::vector<int> mark(count, 0);         // 1 on the current path, 2 done
        std::vector<int> height(count, 0);       // most occurrences nested below
        std::vector<double> placed(count, 0.0);  // occurrences below over every placement
        std::vector<std::pair<std::size_t, std::size_t>> path;  // component, next placement
        for (std::size_t start = 0; start < count; ++start) {
            if (mark[start] != 0) continue;
            mark[start] = 1;
            path.emplace_back(start, 0);
            while (!path.empty()) {
                const std::size_t c = path.back().first;
                const std::size_t next = path.back().second++;
                if (next < placements[c].size()) {
                    const Placement& p = placements[c][next];
                    if (mark[p.component] == 1)
                        r_.fail(p.ptr + "/component", "component \"" +
                                                          components[p.component].second->name +
                                                          "\" places itself (occurrence cycle)");
                    if (mark[p.component] == 0) {
                        mark[p.component] = 1;
                        path.emplace_back(p.component, 0);
                    }
                    continue;
                }
                for (const Placement& p : placements[c]) {
                    height[c] = std::max(height[c], height[p.component] + 1);
                    placed[c] += 1.0 + placed[p.component];
                }
                placed[c] = std::min(placed[c], kMaxPlacements + 1.0);  // stays finite
                mark[c] = 2;
                path.pop_back();
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (height[i] <= kMaxNesting) continue;
            // Down the deepest chain to the first occurrence beyond the limit.
            std::size_t c = i;
            for (int level = 1;; ++level)
                for (const Placement& p : placements[c])
                    if (height[p.component] == height[c] - 1) {
                        if (level > kMaxNesting)
                            r_.fail(p.ptr, "occurrences nested deeper than " +
                                               std::to_string(kMaxNesting) + " levels");
                        c = p.component;
                        break;
                    }
        }
        for (std::size_t i = 0; i < count; ++i)
            if (placed[i] > kMaxPlacements)
                r_.fail(components[i].first, "component \"" + components[i].second->name +
                                                 "\" places more than " +
                                                 std::to_string(static_cast<long>(kMaxPlacements)) +
                                                 " occurrences, counted over every placement");
    }

    const Reader& r_;
    DocumentModel& doc_;
    double scale_ = 1.0;  // centimetres per length unit of the file
    std::map<std::string, AppearanceRef> appearances_;
};

}  // namespace

namespace {

// Builds the document like the library's own parser does, and knows where the parser is, as a
// JSON pointer, to name the place of a number out of range; refuses nesting beyond the limit
// before the document gets any deeper. (The library's callback parser is not used: it searches
// the parent at the end of every object, which takes quadratic time on long arrays.)
class DesignSax {
  public:
    explicit DesignSax(json& root) : dom_(root) {}

    struct TooDeep {
        std::string ptr;
    };

    bool null() { return value(dom_.null()); }
    bool boolean(bool v) { return value(dom_.boolean(v)); }
    bool number_integer(json::number_integer_t v) { return value(dom_.number_integer(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return value(dom_.number_unsigned(v)); }
    bool number_float(json::number_float_t v, const json::string_t& s) {
        return value(dom_.number_float(v, s));
    }
    bool string(json::string_t& v) { return value(dom_.string(v)); }
    bool binary(json::binary_t& v) { return value(dom_.binary(v)); }
    bool start_object(std::size_t size) {
        enter(false);
        return dom_.start_object(size);
    }
    bool key(json::string_t& k) {
        frames_.back().key = k;
        return dom_.key(k);
    }
    bool end_object() { return leave(dom_.end_object()); }
    bool start_array(std::size_t size) {
        enter(true);
        return dom_.start_array(size);
    }
    bool end_array() { return leave(dom_.end_array()); }
    // Called with the exception's own type, which the library's parser throws on.
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& e) {
        return dom_.parse_error(position, token, e);
    }

    // The value being parsed.
    std::string pointer() const {
        std::string out;
        for (const Frame& f : frames_)
            out += "/" + (f.array ? std::to_string(f.index) : escapePointer(f.key));
        return out.empty() ? "/" : out;
    }

  private:
    struct Frame {
        bool array;
        std::size_t index;
        std::string key;
    };
    void enter(bool array) {
        if (frames_.size() >= static_cast<std::size_t>(kMaxNesting)) throw TooDeep{pointer()};
        frames_.push_back({array, 0, {}});
    }
    bool leave(bool ok) {
        frames_.pop_back();
        return value(ok);
    }
    bool value(bool ok) {
        if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
        return ok;
    }

    nlohmann::detail::json_sax_dom_parser<json> dom_;
    std::vector<Frame> frames_;
};

// The library's message without its "[json.exception.NAME.N] " prefix, and short: it may quote
// a number of any length.
std::string plainMessage(const json::exception& e) {
    std::string what = e.what();
    auto end = what.find("] ");
    if (end != std::string::npos) what.erase(0, end + 2);
    if (what.size() > 200) what = what.substr(0, 200) + "...";
    return what;
}

json parseText(const std::string& text, const std::string& file) {
    json root;
    DesignSax place(root);
    try {
        json::sax_parse(text, &place);
        return root;
    } catch (const DesignSax::TooDeep& e) {
        throw DesignError(file + ": " + e.ptr + ": nested deeper than " +
                          std::to_string(kMaxNesting) + " levels");
    } catch (const json::parse_error& e) {
        // Line and column of the byte where parsing stopped.
        std::size_t at = std::min<std::size_t>(e.byte == 0 ? 0 : e.byte - 1, text.size());
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::string what = e.what();
        auto cut = what.find("parse error");
        auto colon = what.find(": ", cut == std::string::npos ? 0 : cut);
        if (colon != std::string::npos) what = what.substr(colon + 2);
        throw DesignError(file + ":" + std::to_string(line) + ":" + std::to_string(column) +
                          ": malformed JSON: " + what);
    } catch (const json::out_of_range& e) {
        // A number beyond the range of a double ("1e400").
        throw DesignError(file + ": " + place.pointer() + ": " + plainMessage(e));
    } catch (const json::exception& e) {
        throw DesignError(file + ": " + place.pointer() + ": malformed JSON: " + plainMessage(e));
    }
}

}  // namespace

DocumentRef parseJsonDesign(const std::string& text, const std::string& file,
                            const LoadOptions& options) {
    if (options.unit && !centimetresPerUnit(*options.unit))
        throw DesignError("unknown unit \"" + *options.unit + "\" (mm, cm, m, in or ft)");
    json root = parseText(text, file);
    auto doc = std::make_shared<DocumentModel>();
    Reader reader(file);
    try {
        DesignReader(reader, *doc).read(Node{&root, ""}, options);
    } catch (const json::exception& e) {
        // The reader checks every type before it converts; this is a last resort.
        throw DesignError(file + ": " + plainMessage(e));
    }
    return doc;
}

DocumentRef loadJsonDesign(const std::string& path, const LoadOptions& options) {
    if (options.unit && !centimetresPerUnit(*options.unit))
        throw DesignError("unknown unit \"" + *options.unit + "\" (mm, cm, m, in or ft)");
    std::ifstream in(platform::pathFromUtf8(path), std::ios::binary);
    if (!in) throw DesignError(path + ": cannot read: " + std::strerror(errno));
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) throw DesignError(path + ": cannot read: " + std::strerror(errno));
    return parseJsonDesign(buffer.str(), path, options);
}

DocumentRef loadDesign(const std::string& path, const LoadOptions& options) {
    std::string lower;
    for (char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() >= 5 && lower.compare(lower.size() - 5, 5, ".json") == 0)
        return loadJsonDesign(path, options);
#ifdef VEX_HOST_NO_ASSIMP
    throw DesignError(path +
                      ": cannot read: this build opens only .json designs (no model import)");
#else
    return importModel(path, options);
#endif
}

}  // namespace host
