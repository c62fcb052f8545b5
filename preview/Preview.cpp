#include "preview/Preview.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

namespace vex::preview {

namespace {

using V3 = std::array<double, 3>;

V3 sub(const V3& a, const V3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
V3 add(const V3& a, const V3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
V3 mul(const V3& a, double s) {
    return {a[0] * s, a[1] * s, a[2] * s};
}
double dot(const V3& a, const V3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
V3 cross(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
bool finite(const V3& a) {
    return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]);
}
// The unit vector along `a`, or nothing for a zero or non-finite vector.
std::optional<V3> unit(const V3& a) {
    const double n = std::sqrt(dot(a, a));
    if (!(n > 0) || !std::isfinite(n)) return std::nullopt;
    return mul(a, 1 / n);
}

// Element 4 * column + row, translation in 12, 13, 14: the scene file's transform layout.
struct Mat {
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    V3 point(double x, double y, double z) const {
        return {m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
                m[2] * x + m[6] * y + m[10] * z + m[14]};
    }
    Mat operator*(const Mat& b) const {
        Mat r;
        for (int c = 0; c < 4; ++c)
            for (int row = 0; row < 4; ++row) {
                double s = 0;
                for (int k = 0; k < 4; ++k) s += m[4 * k + row] * b.m[4 * c + k];
                r.m[4 * c + row] = s;
            }
        return r;
    }
};

struct Texture {
    bool ok = false;
    Image image;
};

struct Material {
    std::array<float, 3> color{0.8f, 0.8f, 0.8f};
    const Texture* texture = nullptr;
};

struct Item {
    const Block* geometry;
    Mat world;
    Material material;
};

// The arrays of one triangle mesh, borrowed from the tree where their type allows.
struct Mesh {
    std::vector<float> ownVertices, ownUvs;
    const float* vertices = nullptr;
    size_t vertexCount = 0;
    const int32_t* triangles = nullptr;
    size_t triangleCount = 0;
    const float* uvs = nullptr;
    size_t uvCount = 0;
    const int32_t* uvIndices = nullptr;
};

const Value* parameter(const Block& block, const char* name, bool link = false) {
    for (const Node& node : block.children) {
        if (node.isBlock()) continue;
        const Statement& s = node.statement();
        if (s.form != Statement::Form::Message && s.name == name && s.link == link &&
            !s.values.empty())
            return &s.values[0];
    }
    return nullptr;
}

// Three numbers, written as separate values or as one array of three.
std::optional<V3> triple(const Statement& s) {
    if (s.values.size() == 3 && s.values[0].isNumber() && s.values[1].isNumber() &&
        s.values[2].isNumber())
        return V3{s.values[0].number(), s.values[1].number(), s.values[2].number()};
    if (s.values.size() == 1 && s.values[0].kind == Value::Kind::Numbers &&
        s.values[0].numbers.size() == 3) {
        const NumberArray& a = s.values[0].numbers;
        return V3{a.at(0), a.at(1), a.at(2)};
    }
    return std::nullopt;
}

const Statement* findStatement(const Block& block, const char* name) {
    for (const Node& node : block.children)
        if (!node.isBlock() && node.statement().form != Statement::Form::Message &&
            node.statement().name == name && !node.statement().link)
            return &node.statement();
    return nullptr;
}

const float* asFloats(const NumberArray& a, std::vector<float>& own) {
    if (a.type == NumberArray::Type::Float32) return a.floats.data();
    own.resize(a.size());
    for (size_t i = 0; i < own.size(); ++i) own[i] = static_cast<float>(a.at(i));
    return own.data();
}

bool extract(const Block& geometry, Mesh& mesh) {
    const Value* v = parameter(geometry, "vertices");
    const Value* t = parameter(geometry, "triangles");
    if (v == nullptr || t == nullptr || v->kind != Value::Kind::Numbers ||
        t->kind != Value::Kind::Numbers || t->numbers.type != NumberArray::Type::Int32)
        return false;
    const size_t vn = v->numbers.size(), tn = t->numbers.ints.size();
    if (vn == 0 || vn % 3 != 0 || tn == 0 || tn % 3 != 0) return false;
    mesh.vertices = asFloats(v->numbers, mesh.ownVertices);
    mesh.vertexCount = vn / 3;
    mesh.triangles = t->numbers.ints.data();
    mesh.triangleCount = tn / 3;
    // Texture coordinates that do not fit leave the mesh untextured.
    const Value* uv = parameter(geometry, "uv_tex");
    const Value* ui = parameter(geometry, "triangles_uv");
    if (uv != nullptr && uv->kind == Value::Kind::Numbers && uv->numbers.size() % 2 == 0 &&
        uv->numbers.size() > 0) {
        if (ui != nullptr) {
            if (ui->kind != Value::Kind::Numbers || ui->numbers.type != NumberArray::Type::Int32 ||
                ui->numbers.ints.size() != tn)
                return true;
            mesh.uvIndices = ui->numbers.ints.data();
        }
        mesh.uvs = asFloats(uv->numbers, mesh.ownUvs);
        mesh.uvCount = uv->numbers.size() / 2;
    }
    return true;
}

// ---- the walk: what to draw, with which transform and material --------------------------------

class Walker {
  public:
    Walker(Counts& counts, const Options& options, const GroupContent& content)
        : counts_(counts), options_(options), content_(content) {}

    void block(const Block& b, const Mat& parent, bool inContent, const std::vector<Block>* extra) {
        Mat m = parent;
        for (const Node& node : b.children) {
            if (node.isBlock())
                child(node.block(), m, inContent);
            else
                statement(node.statement(), parent, m);
        }
        if (extra != nullptr)
            for (const Block& c : *extra) child(c, m, true);
    }

    std::vector<Item> items;
    const Block* camera = nullptr;
    int upVector = 0;

  private:
    void statement(const Statement& s, const Mat& parent, Mat& m) {
        if (s.form == Statement::Form::Message) {
            if (s.name == "#error") ++counts_.errorStatements;
            return;
        }
        if ((s.name == "transform" || s.name == "set transform") && s.values.size() == 16) {
            Mat t;
            for (size_t k = 0; k < 16; ++k) {
                if (!s.values[k].isNumber()) return;
                t.m[k] = s.values[k].number();
            }
            m = parent * t;
        }
    }

    void child(const Block& c, const Mat& m, bool inContent) {
        if (c.captured) return;
        const bool define = c.prefix == "#define";
        if (c.keyword == "group") {
            if (define) return;  // a definition draws nothing by itself
            const std::vector<Block>* extra = !inContent && content_ ? content_(c) : nullptr;
            block(c, m, inContent, extra);
        } else if (c.keyword == "object") {
            if (define)
                defineObject(c);
            else
                object(c, m);
        } else if (c.keyword == "shader" && define) {
            defineShader(c);
        } else if (c.keyword == "material" && define) {
            materials_[c.name()] = material(c);
        } else if (c.keyword == "camera") {
            camera = &c;
        } else if (c.keyword == "load") {
            const Value* up = parameter(c, "import_up_vector");
            if (up != nullptr && up->kind == Value::Kind::Int) upVector = static_cast<int>(up->i);
        }
    }

    void defineShader(const Block& c) {
        if (c.args.size() >= 1 && c.args[0].kind == Value::Kind::Int) shaders_[c.args[0].i] = &c;
    }

    void defineObject(const Block& c) {
        const Statement* id = findStatement(c, "id");
        if (id != nullptr && id->values.size() == 1 && id->values[0].kind == Value::Kind::Int)
            definitions_[id->values[0].i] = &c;
        for (const Node& node : c.children)
            if (!node.isBlock() && node.statement().form == Statement::Form::Message &&
                node.statement().name == "#error")
                ++counts_.errorStatements;
    }

    void object(const Block& c, const Mat& parent) {
        Mat m = parent;
        Material mat;
        const Block* geometry = nullptr;
        for (const Node& node : c.children) {
            if (!node.isBlock()) {
                const Statement& s = node.statement();
                statement(s, parent, m);
                if (s.form == Statement::Form::Word && s.name == "material" &&
                    s.values.size() == 1 && s.values[0].kind == Value::Kind::Name) {
                    const auto it = materials_.find(s.values[0].bytes);
                    if (it != materials_.end()) mat = it->second;
                }
                continue;
            }
            const Block& b = node.block();
            if (b.captured) continue;
            if (b.keyword == "geometry")
                geometry = &b;
            else if (b.keyword == "material")
                mat = material(b);
            else if (b.keyword == "shader" && b.prefix == "#define")
                defineShader(b);
        }
        if (geometry == nullptr) return;
        if (geometry->name() == "instance") {
            const Value* id = parameter(*geometry, "id");
            const auto it = id != nullptr && id->kind == Value::Kind::Int ? definitions_.find(id->i)
                                                                          : definitions_.end();
            geometry = nullptr;
            if (it != definitions_.end())
                for (const Node& node : it->second->children)
                    if (node.isBlock() && node.block().keyword == "geometry" &&
                        node.block().name() != "instance")
                        geometry = &node.block();
            if (geometry == nullptr) {
                ++counts_.unresolvedInstances;
                return;
            }
        }
        items.push_back({geometry, m, mat});
    }

    const Block* shaderOf(const Value& v) const {
        if (v.kind == Value::Kind::Shader) return v.shader.get();
        if (v.kind != Value::Kind::Int) return nullptr;
        const auto it = shaders_.find(v.i);
        return it == shaders_.end() ? nullptr : it->second;
    }

    Material material(const Block& b) {
        Material mat;
        for (const Node& node : b.children) {
            if (node.isBlock()) {
                if (node.block().keyword == "shader" && node.block().prefix == "#define")
                    defineShader(node.block());
                continue;
            }
            const Statement& s = node.statement();
            if (s.form != Statement::Form::Word || s.name != "surface" || s.values.size() != 1)
                continue;
            const Block* surface = shaderOf(s.values[0]);
            if (surface == nullptr) continue;
            for (const char* name : {"diffuse", "color"}) {
                const Statement* colour = findStatement(*surface, name);
                const std::optional<V3> rgb = colour ? triple(*colour) : std::nullopt;
                if (!rgb) continue;
                for (int k = 0; k < 3; ++k)
                    mat.color[k] = std::isfinite((*rgb)[k])
                                       ? static_cast<float>(std::clamp((*rgb)[k], 0.0, 1.0))
                                       : 0.8f;
                break;
            }
            const Value* link = parameter(*surface, "diffuse", true);
            const Block* texture = link != nullptr ? shaderOf(*link) : nullptr;
            if (texture != nullptr) {
                const Value* file = parameter(*texture, "texture");
                if (file == nullptr) file = parameter(*texture, "file_name");
                if (file != nullptr && file->kind == Value::Kind::Name)
                    mat.texture = loadTexture(file->bytes);
            }
        }
        return mat;
    }

    const Texture* loadTexture(const std::string& path) {
        auto [it, added] = textures_.try_emplace(path);
        Texture& t = it->second;
        if (added) {
            const std::string file =
                !path.empty() && path[0] != '/' && !options_.textureFolder.empty()
                    ? options_.textureFolder + "/" + path
                    : path;
            try {
                t.image = readImage(file);
                t.ok = true;
            } catch (const std::exception&) {
                ++counts_.unreadableTextures;
            }
        }
        return t.ok ? &t : nullptr;
    }

    Counts& counts_;
    const Options& options_;
    const GroupContent& content_;
    std::map<int64_t, const Block*> shaders_;
    std::map<int64_t, const Block*> definitions_;
    std::map<std::string, Material> materials_;
    std::map<std::string, Texture> textures_;
};

// ---- the view --------------------------------------------------------------------------------

struct View {
    V3 eye, right, up, forward;
    bool perspective = true;
    double scale = 1;  // pixels per unit of x/z (perspective) or of x (orthographic)
    double near = 0;
};

struct Box {
    V3 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::infinity()};
    V3 hi{-lo[0], -lo[1], -lo[2]};
    bool empty() const { return !(lo[0] <= hi[0]); }
    void include(const V3& p) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    V3 centre() const { return mul(add(lo, hi), 0.5); }
    double radius() const { return std::sqrt(dot(sub(hi, lo), sub(hi, lo))) / 2; }
};

constexpr double kDefaultFov = 40;
constexpr double kPi = 3.14159265358979323846;

bool orient(View& v, const V3& forward, const V3& up) {
    const auto f = unit(forward);
    if (!f) return false;
    auto r = unit(cross(*f, up));
    // An up vector along the view direction: any perpendicular will do.
    if (!r) r = unit(cross(*f, std::fabs((*f)[1]) < 0.9 ? V3{0, 1, 0} : V3{1, 0, 0}));
    if (!r) return false;
    v.forward = *f;
    v.right = *r;
    v.up = cross(*r, *f);
    return true;
}

double number(const Block& camera, const char* name, double otherwise) {
    const Statement* s = findStatement(camera, name);
    return s != nullptr && s->values.size() == 1 && s->values[0].isNumber() ? s->values[0].number()
                                                                            : otherwise;
}

// The scene's camera, or nothing when it cannot be used.
std::optional<View> sceneView(const Block& camera, const Box& box, const Options& o,
                              const V3& defaultUp) {
    View v;
    const Statement* position = findStatement(camera, "position");
    const Statement* direction = findStatement(camera, "direction");
    const Statement* target = findStatement(camera, "target");
    const Statement* up = findStatement(camera, "up");
    const auto eye = position ? triple(*position) : std::optional<V3>(V3{0, 0, 0});
    if (!eye || !finite(*eye)) return std::nullopt;
    v.eye = *eye;
    std::optional<V3> forward;
    if (direction)
        forward = triple(*direction);
    else if (const auto t = target ? triple(*target) : std::nullopt)
        forward = sub(*t, *eye);
    else if (target)
        return std::nullopt;
    else
        forward = V3{0, 0, -1};
    const auto upv = up ? triple(*up) : std::optional<V3>(defaultUp);
    if (!forward || !upv || !finite(*upv) || !orient(v, *forward, *upv)) return std::nullopt;

    std::string projection = "perspective";
    if (const Value* p = parameter(camera, "projection"); p && p->kind == Value::Kind::Name)
        projection = p->bytes;
    const double fov = number(camera, "fov", kDefaultFov);
    if (projection == "perspective") {
        if (!(fov > 0 && fov < 180)) return std::nullopt;
        v.scale = o.height / 2.0 / std::tan(fov * kPi / 360);
    } else if (projection == "orthographic") {
        // Without a height, the height the field of view spans at the scene's centre.
        double height = number(camera, "height", 0);
        if (findStatement(camera, "height") == nullptr) {
            const double d = box.empty() ? 1 : std::fabs(dot(sub(box.centre(), v.eye), v.forward));
            if (!(fov > 0 && fov < 180)) return std::nullopt;
            height = 2 * d * std::tan(fov * kPi / 360);
        }
        if (!(height > 0) || !std::isfinite(height)) return std::nullopt;
        v.perspective = false;
        v.scale = o.height / height;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(v.scale) || !(v.scale > 0)) return std::nullopt;
    return v;
}

// Frames the bounding box from the front, the right and the top.
View defaultView(const Box& box, const Options& o, bool zUp) {
    View v;
    const V3 up = zUp ? V3{0, 0, 1} : V3{0, 1, 0};
    const V3 towardEye = zUp ? V3{1, -1, 1} : V3{1, 1, 1};
    const V3 centre = box.empty() ? V3{0, 0, 0} : box.centre();
    double r = box.empty() ? 1 : box.radius();
    if (!(r > 0) || !std::isfinite(r)) r = std::max(1.0, std::fabs(centre[0]) * 1e-6);
    const double halfV = kDefaultFov * kPi / 360;
    const double halfH = std::atan(std::tan(halfV) * o.width / o.height);
    const double distance = r * 1.05 / std::sin(std::min(halfV, halfH));
    v.eye = add(centre, mul(*unit(towardEye), distance));
    orient(v, sub(centre, v.eye), up);
    v.scale = o.height / 2.0 / std::tan(halfV);
    return v;
}

// ---- rasterising ------------------------------------------------------------------------------

struct Corner {
    V3 p;  // camera space: x right, y up, z depth
    double u = 0, v = 0;
};

class Raster {
  public:
    Raster(const View& view, const Options& o)
        : view_(view),
          w_(o.width),
          h_(o.height),
          depth_(static_cast<size_t>(o.width) * o.height, -std::numeric_limits<float>::infinity()) {
        image.width = o.width;
        image.height = o.height;
        image.rgb.resize(3 * depth_.size());
        for (size_t i = 0; i < depth_.size(); ++i) {
            image.rgb[3 * i] = kBackground.r;
            image.rgb[3 * i + 1] = kBackground.g;
            image.rgb[3 * i + 2] = kBackground.b;
        }
    }

    // A triangle in camera space; shade from its face normal, lit from the camera.
    void triangle(const Corner (&c)[3], const Material& m, bool textured) {
        const V3 n = cross(sub(c[1].p, c[0].p), sub(c[2].p, c[0].p));
        const V3 centroid = mul(add(add(c[0].p, c[1].p), c[2].p), 1.0 / 3);
        const auto light =
            view_.perspective ? unit(mul(centroid, -1)) : std::optional<V3>(V3{0, 0, -1});
        const auto normal = unit(n);
        const double lambert = light && normal ? std::fabs(dot(*light, *normal)) : 1;
        shade_ = static_cast<float>(kAmbient + (1 - kAmbient) * lambert);
        material_ = &m;
        textured_ = textured;
        const double near = view_.near;
        const int inside = (c[0].p[2] >= near) + (c[1].p[2] >= near) + (c[2].p[2] >= near);
        if (inside == 3) {
            draw(c[0], c[1], c[2]);
            return;
        }
        if (inside == 0) return;
        // Cut away what lies in front of the near plane; up to four corners remain.
        Corner poly[4];
        int count = 0;
        for (int k = 0; k < 3; ++k) {
            const Corner& a = c[k];
            const Corner& b = c[(k + 1) % 3];
            const bool ina = a.p[2] >= near, inb = b.p[2] >= near;
            if (ina) poly[count++] = a;
            if (ina != inb) {
                const double t = (near - a.p[2]) / (b.p[2] - a.p[2]);
                Corner x;
                x.p = add(a.p, mul(sub(b.p, a.p), t));
                x.p[2] = near;
                x.u = a.u + (b.u - a.u) * t;
                x.v = a.v + (b.v - a.v) * t;
                poly[count++] = x;
            }
        }
        for (int k = 1; k + 1 < count; ++k) draw(poly[0], poly[k], poly[k + 1]);
    }

    Image image;

  private:
    static constexpr double kAmbient = 0.3;

    struct Screen {
        double x, y, q, key;  // q: interpolation weight (1/z in perspective); key: nearness
        double uq, vq;
    };

    Screen project(const Corner& c) const {
        Screen s;
        if (view_.perspective) {
            const double iz = 1 / c.p[2];
            s.x = w_ / 2.0 + c.p[0] * iz * view_.scale;
            s.y = h_ / 2.0 - c.p[1] * iz * view_.scale;
            s.q = iz;
            s.key = iz;
        } else {
            s.x = w_ / 2.0 + c.p[0] * view_.scale;
            s.y = h_ / 2.0 - c.p[1] * view_.scale;
            s.q = 1;
            s.key = -c.p[2];
        }
        s.uq = c.u * s.q;
        s.vq = c.v * s.q;
        return s;
    }

    void draw(const Corner& c0, const Corner& c1, const Corner& c2) {
        const Screen a = project(c0), b = project(c1), c = project(c2);
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (!(std::fabs(area) > 0) || !std::isfinite(area)) return;
        const double lx = std::min({a.x, b.x, c.x}), hx = std::max({a.x, b.x, c.x});
        const double ly = std::min({a.y, b.y, c.y}), hy = std::max({a.y, b.y, c.y});
        if (!(hx >= 0 && hy >= 0 && lx < w_ && ly < h_)) return;
        const int x0 = static_cast<int>(std::max(0.0, std::floor(lx)));
        const int x1 = static_cast<int>(std::min(w_ - 1.0, std::floor(hx)));
        const int y0 = static_cast<int>(std::max(0.0, std::floor(ly)));
        const int y1 = static_cast<int>(std::min(h_ - 1.0, std::floor(hy)));
        const double inv = 1 / area;
        const Texture* tex = textured_ ? material_->texture : nullptr;
        for (int y = y0; y <= y1; ++y) {
            const double py = y + 0.5;
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5;
                const double wa = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) * inv;
                const double wb = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) * inv;
                const double wc = 1 - wa - wb;
                if (wa < 0 || wb < 0 || wc < 0) continue;
                const size_t i = static_cast<size_t>(y) * w_ + x;
                const double key = wa * a.key + wb * b.key + wc * c.key;
                if (!(key > depth_[i])) continue;
                depth_[i] = static_cast<float>(key);
                std::array<float, 3> rgb = material_->color;
                if (tex != nullptr) {
                    const double q = wa * a.q + wb * b.q + wc * c.q;
                    sample(*tex, (wa * a.uq + wb * b.uq + wc * c.uq) / q,
                           (wa * a.vq + wb * b.vq + wc * c.vq) / q, rgb);
                }
                for (int k = 0; k < 3; ++k)
                    image.rgb[3 * i + k] = static_cast<uint8_t>(
                        std::lround(std::clamp(rgb[k] * shade_, 0.0f, 1.0f) * 255));
            }
        }
    }

    // Nearest texel, repeating; v runs up the image.
    static void sample(const Texture& t, double u, double v, std::array<float, 3>& rgb) {
        if (!std::isfinite(u) || !std::isfinite(v)) return;
        u -= std::floor(u);
        v -= std::floor(v);
        const int x = std::min(t.image.width - 1, static_cast<int>(u * t.image.width));
        const int y = std::min(t.image.height - 1, static_cast<int>((1 - v) * t.image.height));
        const Rgb p = t.image.at(x, y);
        rgb = {p.r / 255.0f, p.g / 255.0f, p.b / 255.0f};
    }

    const View& view_;
    int w_, h_;
    std::vector<float> depth_;
    float shade_ = 1;
    const Material* material_ = nullptr;
    bool textured_ = false;
};

}  // namespace

Picture render(const Document& scene, const Options& options, const GroupContent& content) {
    if (options.width < 1 || options.height < 1 || options.width > kMaxSide ||
        options.height > kMaxSide)
        throw std::invalid_argument("picture size outside 1.." + std::to_string(kMaxSide));
    Picture picture;
    Counts& counts = picture.counts;
    Walker walker(counts, options, content);
    walker.block(scene.root, Mat{}, false, nullptr);

    std::vector<Mesh> meshes(walker.items.size());
    Box box;
    for (size_t k = 0; k < walker.items.size(); ++k) {
        Mesh& mesh = meshes[k];
        if (!extract(*walker.items[k].geometry, mesh)) {
            ++counts.invalidMeshes;
            mesh.triangleCount = 0;
            continue;
        }
        ++counts.objects;
        const Mat& w = walker.items[k].world;
        for (size_t i = 0; i < mesh.vertexCount; ++i) {
            const float* p = mesh.vertices + 3 * i;
            const V3 q = w.point(p[0], p[1], p[2]);
            if (finite(q)) box.include(q);
        }
    }

    const bool zUp = walker.upVector == 2;
    const V3 up = zUp ? V3{0, 0, 1} : V3{0, 1, 0};
    std::optional<View> view;
    if (walker.camera != nullptr) {
        view = sceneView(*walker.camera, box, options, up);
        if (view)
            counts.sceneCamera = true;
        else
            ++counts.badCameras;
    }
    if (!view) view = defaultView(box, options, zUp);
    if (view->perspective) {
        // The near plane sits far enough out for the depth buffer's precision.
        double farthest = 0;
        for (int k = 0; k < 8 && !box.empty(); ++k) {
            const V3 corner{(k & 1) ? box.hi[0] : box.lo[0], (k & 2) ? box.hi[1] : box.lo[1],
                            (k & 4) ? box.hi[2] : box.lo[2]};
            farthest =
                std::max(farthest, std::sqrt(dot(sub(corner, view->eye), sub(corner, view->eye))));
        }
        view->near = farthest > 0 && std::isfinite(farthest) ? farthest * 1e-5 : 1e-9;
    }

    Raster raster(*view, options);
    std::vector<V3> camera;
    std::vector<uint8_t> ok;
    for (size_t k = 0; k < meshes.size(); ++k) {
        const Mesh& mesh = meshes[k];
        if (mesh.triangleCount == 0) continue;
        const Item& item = walker.items[k];
        camera.resize(mesh.vertexCount);
        ok.resize(mesh.vertexCount);
        for (size_t i = 0; i < mesh.vertexCount; ++i) {
            const float* p = mesh.vertices + 3 * i;
            const V3 d = sub(item.world.point(p[0], p[1], p[2]), view->eye);
            camera[i] = {dot(d, view->right), dot(d, view->up), dot(d, view->forward)};
            ok[i] = finite(camera[i]);
        }
        const bool textured = item.material.texture != nullptr && mesh.uvs != nullptr;
        for (size_t t = 0; t < mesh.triangleCount; ++t) {
            const int32_t* idx = mesh.triangles + 3 * t;
            Corner c[3];
            bool good = true;
            for (int j = 0; j < 3 && good; ++j) {
                const int32_t i = idx[j];
                good = i >= 0 && static_cast<size_t>(i) < mesh.vertexCount && ok[i];
                if (good) c[j].p = camera[i];
            }
            if (good) {
                const V3 e1 = sub(c[1].p, c[0].p), e2 = sub(c[2].p, c[0].p);
                const V3 n = cross(e1, e2);
                const double nn = dot(n, n);
                good = nn > 1e-12 * dot(e1, e1) * dot(e2, e2) && std::isfinite(nn);
            }
            if (!good) {
                ++counts.badTriangles;
                continue;
            }
            bool texturedHere = textured;
            for (int j = 0; j < 3 && texturedHere; ++j) {
                const int64_t u = mesh.uvIndices ? mesh.uvIndices[3 * t + j] : idx[j];
                texturedHere = u >= 0 && static_cast<size_t>(u) < mesh.uvCount;
                if (texturedHere) {
                    c[j].u = mesh.uvs[2 * u];
                    c[j].v = mesh.uvs[2 * u + 1];
                }
            }
            ++counts.triangles;
            raster.triangle(c, item.material, texturedHere);
        }
    }
    picture.image = std::move(raster.image);
    return picture;
}

std::string describe(const Counts& c) {
    const auto n = [](uint64_t v, const char* one, const char* many) {
        return std::to_string(v) + " " + (v == 1 ? one : many);
    };
    std::string text = n(c.objects, "object", "objects") + ", " +
                       n(c.triangles, "triangle", "triangles") + ", " +
                       (c.sceneCamera ? "scene camera" : "default view");
    std::string left;
    const auto add = [&](uint64_t v, const char* one, const char* many) {
        if (v != 0) left += (left.empty() ? "" : ", ") + n(v, one, many);
    };
    add(c.errorStatements, "error statement", "error statements");
    add(c.invalidMeshes, "invalid mesh", "invalid meshes");
    add(c.unresolvedInstances, "unresolved instance", "unresolved instances");
    add(c.badTriangles, "bad triangle", "bad triangles");
    add(c.unreadableTextures, "unreadable texture", "unreadable textures");
    add(c.badCameras, "unusable camera", "unusable cameras");
    return left.empty() ? text : text + "; left out: " + left;
}

}  // namespace vex::preview
