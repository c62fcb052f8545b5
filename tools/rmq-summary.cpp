// Reads a RayMint scene file (.rmq) and prints what it holds, for a person or as JSON.
// The file streams through the reader; only the summary and the group tree are kept.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "preview/Preview.hpp"
#include "reader/SceneReader.hpp"

namespace {

const char kUsage[] =
    "usage: rmq-inspect [--tree] [--json] [--png PICTURE.png [--size WxH]] FILE|-\n"
    "\n"
    "Reads a RayMint scene file (.rmq), or standard input for '-', checks that it is\n"
    "well formed and prints a summary: the format version, the load blocks with their\n"
    "options, the cameras, the counts of groups, objects, triangles, vertices, materials\n"
    "and shaders, and the text of every #error statement.\n"
    "\n"
    "  objects     'plain' are object blocks, 'definitions' #define object blocks, and\n"
    "              'instances' those object blocks whose name was defined before\n"
    "  triangles   the numbers of every geometry's \"triangles\" array, divided by 3\n"
    "  vertices    the numbers of every geometry's \"vertices\" array, divided by 3\n"
    "  shaders     #define shader blocks ('defined') and captured shader texts ('captured')\n"
    "\n"
    "  --tree   also print the hierarchy of groups and objects with their names and flags\n"
    "  --json   print the summary (and tree) as one JSON object\n"
    "  --png PICTURE.png\n"
    "           also render the scene into PICTURE.png: its triangle meshes, shaded, from\n"
    "           the scene's camera or else from the front, right and top so that the whole\n"
    "           scene fits; the summary ends with what was drawn and what was left out\n"
    "  --size WxH\n"
    "           the picture's size in pixels, 1 to 8192 on each side (default 1024x768)\n"
    "  --help   show this text\n"
    "\n"
    "Names are shown as they are stored: bytes outside printable ASCII appear as \\xNN in\n"
    "the text output; in JSON, bytes that are not UTF-8 appear as \\u00NN.\n"
    "\n"
    "Exit status: 0 well formed, 1 well formed but holding #error statements,\n"
    "2 malformed file, unreadable file, picture not written or bad usage (message on\n"
    "standard error).\n"
#ifdef _WIN32
    "\n"
    "This Windows build writes no pictures and reads no textures: --png fails.\n"
#endif
    ;

// "WxH" with both sides in 1..kMaxSide.
bool parseSize(const std::string& text, vex::preview::Options& o) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const auto side = [](const char* b, const char* e, int& out) {
        const auto r = std::from_chars(b, e, out);
        return r.ec == std::errc() && r.ptr == e && b != e && *b != '+' && out >= 1 &&
               out <= vex::preview::kMaxSide;
    };
    const char* p = text.data();
    return side(p, p + x, o.width) && side(p + x + 1, p + text.size(), o.height);
}

struct TreeNode {
    std::string kind;  // "group" or "object"
    bool define = false;
    std::string name;
    std::optional<uint64_t> flags;
    std::vector<std::unique_ptr<TreeNode>> children;
};

struct Setting {
    std::string name;
    vex::Value value;
};

struct Section {
    std::string name;
    bool hasName = false;
    bool modify = false;
    std::vector<Setting> settings;
};

struct Summary {
    std::optional<int64_t> version;
    std::vector<std::string> header;
    std::vector<Section> loads;
    std::vector<Section> cameras;
    uint64_t groups = 0, groupDefinitions = 0;
    uint64_t objects = 0, objectDefinitions = 0, objectInstances = 0;
    uint64_t geometries = 0, triangles = 0, vertices = 0;
    uint64_t materials = 0, materialRefs = 0;
    uint64_t shadersDefined = 0, shadersCaptured = 0;
    std::vector<std::string> errors;
    TreeNode root;
};

class SummaryHandler : public vex::SceneHandler {
  public:
    explicit SummaryHandler(Summary& s) : s_(s) { tree_.push_back(&s_.root); }

    void comment(std::string_view text, int) override {
        if (!seen_) s_.header.emplace_back(text);
    }

    void beginBlock(vex::Block&& b) override { look(b); }
    void statement(vex::Statement&& st) override { look(st); }

    // The summary only reads what passes; a tree can take it afterwards.
    void look(const vex::Block& b) {
        seen_ = true;
        const bool define = b.prefix == "#define";
        Open open{b.keyword, nullptr, nullptr};
        for (const auto& a : b.args) countCaptured(a);
        if (b.keyword == "group" || b.keyword == "object") {
            auto node = std::make_unique<TreeNode>();
            node->kind = b.keyword;
            node->define = define;
            node->name = b.name();
            open.tree = node.get();
            tree_.back()->children.push_back(std::move(node));
            tree_.push_back(open.tree);
            if (b.keyword == "group") {
                ++s_.groups;
                if (define) ++s_.groupDefinitions;
            } else if (define) {
                ++s_.objectDefinitions;
                defined_.insert(b.name());
            } else if (defined_.count(b.name()) != 0) {
                ++s_.objectInstances;
            } else {
                ++s_.objects;
            }
        } else if (b.keyword == "load" || b.keyword == "camera") {
            auto& list = b.keyword == "load" ? s_.loads : s_.cameras;
            list.push_back({b.name(), !b.args.empty(), b.prefix == "#modify", {}});
            open.section = &list.back();
        } else if (b.keyword == "geometry") {
            ++s_.geometries;
        } else if (b.keyword == "material") {
            ++s_.materials;
        } else if (b.keyword == "shader") {
            ++s_.shadersDefined;
        }
        open_.push_back(std::move(open));
    }

    void look(const vex::Statement& st) {
        seen_ = true;
        for (const auto& v : st.values) countCaptured(v);
        if (st.form == vex::Statement::Form::Message) {
            if (st.name == "#error") s_.errors.push_back(st.values.at(0).bytes);
            return;
        }
        const std::string* in = open_.empty() ? nullptr : &open_.back().keyword;
        if (in == nullptr && st.name == "version" && st.values.size() == 1 &&
            st.values[0].kind == vex::Value::Kind::Int)
            s_.version = st.values[0].i;
        if (st.form == vex::Statement::Form::Word && st.name == "material" && in != nullptr &&
            *in != "material")
            ++s_.materialRefs;
        if (in == nullptr) return;
        Open& o = open_.back();
        if (o.section != nullptr && st.values.size() == 1)
            o.section->settings.push_back({st.name, st.values[0]});
        if (o.tree != nullptr && st.name == "flags" && st.values.size() == 1 &&
            st.values[0].kind == vex::Value::Kind::Int && st.values[0].i >= 0)
            o.tree->flags = static_cast<uint64_t>(st.values[0].i);
        if (*in == "geometry" && st.values.size() == 1 &&
            st.values[0].kind == vex::Value::Kind::Numbers) {
            if (st.name == "triangles") s_.triangles += st.values[0].numbers.size() / 3;
            if (st.name == "vertices") s_.vertices += st.values[0].numbers.size() / 3;
        }
    }

    void endBlock(int) override {
        if (open_.back().tree != nullptr) tree_.pop_back();
        open_.pop_back();
    }

  private:
    struct Open {
        std::string keyword;
        TreeNode* tree;
        Section* section;
    };

    // Captured shader texts, also those nested in lists and in other captured texts.
    void countCaptured(const vex::Value& v) {
        if (v.kind == vex::Value::Kind::Shader && v.shader) {
            ++s_.shadersCaptured;
            countCapturedIn(*v.shader);
        } else if (v.kind == vex::Value::Kind::List) {
            for (const auto& item : v.list)
                for (const auto& x : item) countCaptured(x);
        }
    }
    void countCapturedIn(const vex::Block& b) {
        for (const auto& a : b.args) countCaptured(a);
        for (const auto& n : b.children) {
            if (n.isBlock()) {
                countCapturedIn(n.block());
            } else {
                const auto& st = n.statement();
                if (st.form == vex::Statement::Form::Message && st.name == "#error")
                    s_.errors.push_back(st.values.at(0).bytes);
                for (const auto& v : st.values) countCaptured(v);
            }
        }
    }

    Summary& s_;
    std::vector<Open> open_;
    std::vector<TreeNode*> tree_;
    std::set<std::string> defined_;
    bool seen_ = false;
};

// Shows everything to the summary and hands it on to a tree, for a picture.
class Tee : public vex::SceneHandler {
  public:
    Tee(SummaryHandler& summary, vex::TreeBuilder& tree) : summary_(summary), tree_(tree) {}
    void comment(std::string_view text, int line) override {
        summary_.comment(text, line);
        tree_.comment(text, line);
    }
    void beginBlock(vex::Block&& b) override {
        summary_.look(b);
        tree_.beginBlock(std::move(b));
    }
    void statement(vex::Statement&& s) override {
        summary_.look(s);
        tree_.statement(std::move(s));
    }
    void endBlock(int line) override {
        summary_.endBlock(line);
        tree_.endBlock(line);
    }

  private:
    SummaryHandler& summary_;
    vex::TreeBuilder& tree_;
};

// ---- text output -----------------------------------------------------------------------------

std::string quoted(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + "\"";
}

std::string numberText(double d) {
    if (d != d) return "nan";
    if (d == std::numeric_limits<double>::infinity()) return "inf";
    if (d == -std::numeric_limits<double>::infinity()) return "-inf";
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, d);
    return std::string(text, r.ptr);
}

std::string valueText(const vex::Value& v) {
    using K = vex::Value::Kind;
    switch (v.kind) {
        case K::Int:
            return std::to_string(v.i);
        case K::Number:
            return numberText(v.d);
        case K::Bool:
            return v.i ? "on" : "off";
        case K::Name:
            return quoted(v.bytes);
        case K::Word:
            return v.bytes;
        case K::Blob:
            return "<" + std::to_string(v.bytes.size()) + " bytes>";
        case K::Shader:
            return "<captured shader " + (v.shader ? quoted(v.shader->name()) : "") + ">";
        case K::Numbers:
            return "<" + std::to_string(v.numbers.size()) + " numbers>";
        case K::Names:
            return "<" + std::to_string(v.names.size()) + " names>";
        case K::List:
            return "<list of " + std::to_string(v.list.size()) + ">";
    }
    return "?";
}

void printSection(const char* what, const Section& s) {
    std::printf("%s%s", s.modify ? "#modify " : "", what);
    if (s.hasName) std::printf(" %s", quoted(s.name).c_str());
    std::printf("\n");
    for (const auto& set : s.settings)
        std::printf("  %s = %s\n", quoted(set.name).c_str(), valueText(set.value).c_str());
}

void printTree(const TreeNode& n, int depth) {
    for (const auto& c : n.children) {
        std::printf("%*s%s%s %s", 2 * depth, "", c->define ? "#define " : "", c->kind.c_str(),
                    quoted(c->name).c_str());
        if (c->flags) std::printf("  flags %llu", static_cast<unsigned long long>(*c->flags));
        std::printf("\n");
        printTree(*c, depth + 1);
    }
}

void printText(const std::string& file, const Summary& s, bool tree) {
    std::printf("file: %s\n", file.c_str());
    if (s.version)
        std::printf("format version: %lld\n", static_cast<long long>(*s.version));
    else
        std::printf("format version: none\n");
    for (const auto& l : s.loads) printSection("load", l);
    for (const auto& c : s.cameras) printSection("camera", c);
    if (s.cameras.empty()) std::printf("camera: none\n");
    const auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    std::printf("groups: %llu (%llu definitions)\n", u(s.groups), u(s.groupDefinitions));
    std::printf("objects: %llu plain, %llu definitions, %llu instances\n", u(s.objects),
                u(s.objectDefinitions), u(s.objectInstances));
    std::printf("geometries: %llu\n", u(s.geometries));
    std::printf("triangles: %llu\n", u(s.triangles));
    std::printf("vertices: %llu\n", u(s.vertices));
    std::printf("materials: %llu (%llu references)\n", u(s.materials), u(s.materialRefs));
    std::printf("shaders: %llu defined, %llu captured\n", u(s.shadersDefined),
                u(s.shadersCaptured));
    std::printf("errors: %zu\n", s.errors.size());
    for (const auto& e : s.errors) std::printf("  #error %s\n", quoted(e).c_str());
    if (tree) {
        std::printf("tree:\n");
        printTree(s.root, 1);
    }
}

// ---- JSON output -----------------------------------------------------------------------------

// Length of the valid UTF-8 sequence at p, or 0.
size_t utf8Length(const unsigned char* p, size_t left) {
    const unsigned char c = p[0];
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[k] & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

std::string json(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t k = 0; k < n;) {
        const unsigned char c = p[k];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++k;
        } else if (c == '\n') {
            out += "\\n";
            ++k;
        } else if (c == '\t') {
            out += "\\t";
            ++k;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++k;
        } else if (const size_t len = c >= 0x80 ? utf8Length(p + k, n - k) : 0; len != 0) {
            out.append(bytes, k, len);
            k += len;
        } else {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++k;
        }
    }
    return out + "\"";
}

std::string jsonValue(const vex::Value& v) {
    using K = vex::Value::Kind;
    switch (v.kind) {
        case K::Int:
            return std::to_string(v.i);
        case K::Number:
            return v.d == v.d && v.d - v.d == 0 ? numberText(v.d) : "null";
        case K::Bool:
            return v.i ? "true" : "false";
        case K::Name:
        case K::Word:
            return json(v.bytes);
        default:
            return json(valueText(v));
    }
}

std::string jsonSection(const Section& s) {
    std::string out = "{";
    out += "\"name\": " + (s.hasName ? json(s.name) : std::string("null"));
    if (s.modify) out += ", \"modify\": true";
    out += ", \"options\": {";
    for (size_t k = 0; k < s.settings.size(); ++k) {
        if (k) out += ", ";
        out += json(s.settings[k].name) + ": " + jsonValue(s.settings[k].value);
    }
    return out + "}}";
}

std::string jsonTree(const TreeNode& n) {
    std::string out = "[";
    for (size_t k = 0; k < n.children.size(); ++k) {
        const TreeNode& c = *n.children[k];
        if (k) out += ", ";
        out += "{\"kind\": " + json(c.kind) + ", \"define\": " + (c.define ? "true" : "false") +
               ", \"name\": " + json(c.name);
        if (c.flags) out += ", \"flags\": " + std::to_string(*c.flags);
        out += ", \"children\": " + jsonTree(c) + "}";
    }
    return out + "]";
}

void printJson(const std::string& file, const Summary& s, bool tree, const std::string& extra) {
    std::string out = "{\n";
    out += "  \"file\": " + json(file) + ",\n";
    out += "  \"version\": " + (s.version ? std::to_string(*s.version) : "null") + ",\n";
    out += "  \"header\": [";
    for (size_t k = 0; k < s.header.size(); ++k) out += (k ? ", " : "") + json(s.header[k]);
    out += "],\n  \"loads\": [";
    for (size_t k = 0; k < s.loads.size(); ++k) out += (k ? ", " : "") + jsonSection(s.loads[k]);
    out += "],\n  \"cameras\": [";
    for (size_t k = 0; k < s.cameras.size(); ++k)
        out += (k ? ", " : "") + jsonSection(s.cameras[k]);
    const auto n = [](uint64_t v) { return std::to_string(v); };
    out += "],\n  \"groups\": {\"total\": " + n(s.groups) +
           ", \"definitions\": " + n(s.groupDefinitions) + "},\n";
    out += "  \"objects\": {\"plain\": " + n(s.objects) +
           ", \"definitions\": " + n(s.objectDefinitions) +
           ", \"instances\": " + n(s.objectInstances) + "},\n";
    out += "  \"geometries\": " + n(s.geometries) + ",\n";
    out += "  \"triangles\": " + n(s.triangles) + ",\n";
    out += "  \"vertices\": " + n(s.vertices) + ",\n";
    out += "  \"materials\": {\"blocks\": " + n(s.materials) +
           ", \"references\": " + n(s.materialRefs) + "},\n";
    out += "  \"shaders\": {\"defined\": " + n(s.shadersDefined) +
           ", \"captured\": " + n(s.shadersCaptured) + "},\n";
    out += "  \"errors\": [";
    for (size_t k = 0; k < s.errors.size(); ++k) out += (k ? ", " : "") + json(s.errors[k]);
    out += "]";
    if (tree) out += ",\n  \"tree\": " + jsonTree(s.root);
    out += extra + "\n}\n";
    std::fputs(out.c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool tree = false, asJson = false;
    std::string path, png;
    vex::preview::Options pictureOptions;
    bool sized = false;
    bool havePath = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--tree") {
            tree = true;
        } else if (arg == "--json") {
            asJson = true;
        } else if (arg == "--png" || arg == "--size") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "rmq-inspect: %s needs a value\n%s", arg.c_str(), kUsage);
                return 2;
            }
            const std::string value = argv[++i];
            if (arg == "--png") {
                png = value;
            } else if (!(sized = parseSize(value, pictureOptions))) {
                std::fprintf(stderr,
                             "rmq-inspect: --size '%s' is not WxH with sides from 1 to %d\n%s",
                             value.c_str(), vex::preview::kMaxSide, kUsage);
                return 2;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "rmq-inspect: unknown option '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (!havePath) {
            path = arg;
            havePath = true;
        } else {
            std::fprintf(stderr, "rmq-inspect: more than one FILE given\n%s", kUsage);
            return 2;
        }
    }
    if (!havePath || path.empty()) {
        std::fprintf(stderr, "rmq-inspect: no FILE given\n%s", kUsage);
        return 2;
    }
    if (png.empty() && sized) {
        std::fprintf(stderr, "rmq-inspect: --size needs --png\n%s", kUsage);
        return 2;
    }
    Summary summary;
    std::optional<vex::preview::Picture> picture;
    try {
        SummaryHandler handler(summary);
        if (png.empty()) {
            vex::parsePath(path, handler);
        } else {
            vex::TreeBuilder builder;
            Tee tee(handler, builder);
            vex::parsePath(path, tee);
            // Relative texture paths start at the scene file's folder.
            const size_t slash = path.rfind('/');
            if (path != "-")
                pictureOptions.textureFolder =
                    slash == std::string::npos ? "." : path.substr(0, slash);
            const vex::Document scene = builder.take();
            picture = vex::preview::render(scene, pictureOptions);
            vex::preview::writePng(picture->image, png);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rmq-inspect: %s\n", e.what());
        return 2;
    }
    const std::string shownName = path == "-" ? "<stdin>" : path;
    const std::string pictureText =
        picture ? vex::preview::describe(picture->counts) : std::string();
    if (asJson) {
        printJson(shownName, summary, tree,
                  picture ? ",\n  \"picture\": {\"file\": " + json(png) +
                                ", \"width\": " + std::to_string(picture->image.width) +
                                ", \"height\": " + std::to_string(picture->image.height) +
                                ", \"drawn\": " + json(pictureText) + "}"
                          : std::string());
    } else {
        printText(shownName, summary, tree);
        if (picture)
            std::printf("picture: %s %dx%d: %s\n", quoted(png).c_str(), picture->image.width,
                        picture->image.height, pictureText.c_str());
    }
    if (std::fflush(stdout) != 0) {
        std::perror("rmq-inspect: writing the summary");
        return 2;
    }
    return summary.errors.empty() ? 0 : 1;
}
