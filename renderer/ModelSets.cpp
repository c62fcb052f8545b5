#include "renderer/ModelSets.hpp"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace vex::raymint {

namespace {

constexpr size_t kMaxFileStem = 120;

struct Walk {
    const ModelSet* previous = nullptr;
    const std::map<std::string, Content>* store = nullptr;
    ModelSet* set = nullptr;
    TransferCounts counts;
};

void visit(Block& group, std::vector<uint32_t>& path, Walk& walk);

void walkChildren(Block& group, std::vector<uint32_t>& path, Walk& walk) {
    uint32_t index = 0;
    for (Node& node : group.children) {
        if (!node.isBlock()) continue;
        Block& child = std::get<Block>(node.item);
        if (!isGroup(child) || isBodyGroup(child)) continue;
        path.push_back(index++);
        visit(child, path, walk);
        path.pop_back();
    }
}

// The content an unchanged component had: the one at the same place in the previous set when
// that is the same component, else the last stored under its name.
Content previousContent(const std::vector<uint32_t>& path, const std::string& name,
                        const Walk& walk) {
    if (walk.previous == nullptr) return nullptr;
    const auto at = walk.previous->byPath.find(path);
    if (at != walk.previous->byPath.end()) {
        const ComponentSlot& slot = walk.previous->components[at->second];
        if (slot.name == name && slot.content) return slot.content;
    }
    if (walk.store != nullptr) {
        const auto stored = walk.store->find(name);
        if (stored != walk.store->end()) return stored->second;
    }
    return nullptr;
}

void component(Block& group, std::vector<uint32_t>& path, Walk& walk) {
    std::vector<Block> bodies;
    std::vector<Node> rest;
    rest.reserve(group.children.size());
    for (Node& node : group.children) {
        if (node.isBlock() && isGroup(node.block()) && isBodyGroup(node.block()))
            bodies.push_back(std::move(std::get<Block>(node.item)));
        else
            rest.push_back(std::move(node));
    }
    group.children = std::move(rest);

    ComponentSlot slot;
    slot.path = path;
    slot.name = group.name();
    const bool changed = (groupFlags(group) & kChangedFlag) != 0;
    if (changed || !bodies.empty()) {
        slot.content = std::make_shared<const std::vector<Block>>(std::move(bodies));
        ++walk.counts.changed;
    } else {
        slot.content = previousContent(path, slot.name, walk);
        if (slot.content)
            ++walk.counts.kept;
        else
            ++walk.counts.missing;
    }
    walk.set->byPath.emplace(path, walk.set->components.size());
    walk.set->components.push_back(std::move(slot));
    walkChildren(group, path, walk);
}

void visit(Block& group, std::vector<uint32_t>& path, Walk& walk) {
    if (isComponentGroup(group))
        component(group, path, walk);
    else
        walkChildren(group, path, walk);
}

// The writer's half of the walk above: the same groups in the same order.
void writeGroup(const Block& group, const ModelSet& set, size_t& next, SceneTextWriter& out,
                int level) {
    const bool isComponent = isComponentGroup(group);
    const size_t mine = isComponent ? next++ : 0;
    out.openBlock(group, level);
    for (const Node& node : group.children) {
        if (node.isBlock() && isGroup(node.block()) && !isBodyGroup(node.block()))
            writeGroup(node.block(), set, next, out, level + 1);
        else
            out.node(node, level + 1);
    }
    if (isComponent && mine < set.components.size() && set.components[mine].content) {
        for (const Block& body : *set.components[mine].content) out.block(body, level + 1);
    }
    out.closeBlock(level);
}

void appendHexByte(std::string& out, unsigned char c) {
    static const char hex[] = "0123456789abcdef";
    out += hex[c >> 4];
    out += hex[c & 15];
}

}  // namespace

PreparedTransfer ModelSetStore::prepare(Document&& stream) const {
    PreparedTransfer result;
    ModelSet& set = result.set;
    Block* root = nullptr;
    size_t groups = 0;
    for (Node& node : stream.root.children) {
        if (node.isBlock() && isGroup(node.block())) {
            ++groups;
            if (root == nullptr) root = &std::get<Block>(node.item);
        } else if (!node.isBlock() && node.statement().form == Statement::Form::Word &&
                   node.statement().name == "version" && node.statement().values.size() == 1 &&
                   node.statement().values[0].kind == Value::Kind::Int) {
            set.formatVersion = node.statement().values[0].i;
        }
    }
    for (Node& node : stream.root.children)
        if (node.isBlock() && (node.block().keyword == "load" || node.block().keyword == "camera"))
            set.settings.push_back(std::move(std::get<Block>(node.item)));
    if (groups != 1) {
        throw std::runtime_error(groups == 0 ? "the stream holds no root group"
                                             : "the stream holds " + std::to_string(groups) +
                                                   " root groups instead of one");
    }
    set.name = root->name();
    set.root = std::move(*root);

    const auto before = sets_.find(set.name);
    Walk walk;
    walk.set = &set;
    if (before != sets_.end()) {
        walk.previous = &before->second.set;
        walk.store = &before->second.lastContent;
        result.lastContent = before->second.lastContent;
    }
    std::vector<uint32_t> path;
    visit(set.root, path, walk);
    result.counts = walk.counts;
    for (const ComponentSlot& slot : set.components)
        if (slot.content) result.lastContent[slot.name] = slot.content;
    return result;
}

void ModelSetStore::commit(PreparedTransfer&& transfer) {
    const std::string name = transfer.set.name;
    Entry& entry = sets_[name];
    entry.set = std::move(transfer.set);
    entry.lastContent = std::move(transfer.lastContent);
    active_ = name;
}

const ModelSet* ModelSetStore::find(const std::string& name) const {
    const auto it = sets_.find(name);
    return it == sets_.end() ? nullptr : &it->second.set;
}

std::string ModelSetStore::describe() const {
    if (sets_.empty()) return "<raymint><scene><modelsets/></scene></raymint>";
    std::string xml = "<raymint><scene><modelsets>";
    for (const auto& [name, entry] : sets_) {
        xml += "<modelset name=\"" + xmlAttributeText(name) + "\" modelset=\"";
        xml += name == active_ ? "active" : "inactive";
        xml += "\"/>";
    }
    xml += "</modelsets></scene></raymint>";
    return xml;
}

void writeModelSet(const ModelSet& set, SceneTextWriter& out) {
    out.comment(" RayMint model set");
    if (set.formatVersion) {
        Statement version;
        version.name = "version";
        Value v;
        v.kind = Value::Kind::Int;
        v.i = *set.formatVersion;
        version.values.push_back(v);
        out.statement(version, 0);
    }
    for (const Block& b : set.settings) out.block(b, 0);
    size_t next = 0;
    writeGroup(set.root, set, next, out, 0);
}

preview::Picture renderModelSet(const ModelSet& set, const preview::Options& options) {
    // The settings and the placements are small; the bodies are lent to the walk where
    // writeGroup would write them, in the same order.
    Document scene;
    for (const Block& b : set.settings) scene.root.children.push_back(Node{b});
    scene.root.children.push_back(Node{set.root});
    size_t next = 0;
    const preview::GroupContent content = [&](const Block& group) -> const std::vector<Block>* {
        if (!isGroup(group) || isBodyGroup(group) || !isComponentGroup(group)) return nullptr;
        const size_t mine = next++;
        return mine < set.components.size() ? set.components[mine].content.get() : nullptr;
    };
    return preview::render(scene, options, content);
}

std::string modelSetFileName(const std::string& name, const std::string& extension) {
    bool plain = !name.empty() && name.size() <= kMaxFileStem && name.front() != '.' &&
                 name.front() != ' ' && name.back() != ' ' && name.back() != '.';
    std::string stem;
    for (unsigned char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '_' ||
                             c == '-' || c == '(' || c == ')';
        if (!allowed) plain = false;
        if (stem.size() < kMaxFileStem) stem += allowed ? static_cast<char>(c) : '_';
    }
    if (plain) return name + extension;
    // Distinct names must not share a file: the hash of the exact bytes tells them apart.
    uint32_t hash = 2166136261u;
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", hash);
    if (!stem.empty() && (stem.front() == '.' || stem.front() == ' ')) stem.front() = '_';
    return stem + suffix + extension;
}

std::string xmlAttributeText(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (c < 0x20) {
                    out += "&#" + std::to_string(c) + ";";
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string logQuoted(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            appendHexByte(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

std::string transferLine(const std::string& name, uint64_t bytes, const TransferCounts& counts,
                         const std::optional<std::string>& picture) {
    return "modelset " + logQuoted(name) + " bytes " + std::to_string(bytes) + " changed " +
           std::to_string(counts.changed) + " kept " + std::to_string(counts.kept) +
           " status ok picture " + (picture ? logQuoted(*picture) : std::string("-"));
}

std::string failedTransferLine(const std::optional<std::string>& name, uint64_t bytes,
                               const std::string& reason) {
    return "modelset " + (name ? logQuoted(*name) : std::string("-")) + " bytes " +
           std::to_string(bytes) + " changed 0 kept 0 status failed reason " + logQuoted(reason);
}

}  // namespace vex::raymint
