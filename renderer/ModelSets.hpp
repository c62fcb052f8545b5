// The renderer's model sets: one per design, named after the streamed root group, updated by
// each transfer. A transfer's component groups carry flag words: bit 15 (0x8000) marks a
// changed component, whose body groups (flag bit 0x400) are its new content; an unchanged
// component arrives without bodies and keeps the content it had. Placements (transforms,
// child groups) always come from the newest stream.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "preview/Preview.hpp"
#include "reader/SceneText.hpp"
#include "reader/SceneTree.hpp"
#include "renderer/GroupKinds.hpp"

namespace vex::raymint {

using Content = std::shared_ptr<const std::vector<Block>>;  // body groups of one component

struct ComponentSlot {
    std::vector<uint32_t> path;  // position among the non-body groups at each level
    std::string name;
    Content content;  // null: nothing known
};

struct ModelSet {
    std::string name;
    std::optional<int64_t> formatVersion;  // the stream's "version" statement
    // The import options ("load" blocks) and cameras the newest transfer sent with the design.
    std::vector<Block> settings;
    Block root;  // the root group; component groups hold no body groups here
    std::vector<ComponentSlot> components;  // in the order the walk meets them
    std::map<std::vector<uint32_t>, size_t> byPath;
};

struct TransferCounts {
    uint64_t changed = 0;  // components whose content came with the stream
    uint64_t kept = 0;     // unchanged components filled from before
    uint64_t missing = 0;  // unchanged components with nothing to fill in
};

// A transfer turned into the next state of one model set, not yet applied.
struct PreparedTransfer {
    ModelSet set;
    std::map<std::string, Content> lastContent;  // by component name, after this transfer
    TransferCounts counts;
};

class ModelSetStore {
  public:
    // Builds the model set of a parsed stream. Throws std::runtime_error when the stream does
    // not hold exactly one top-level group.
    PreparedTransfer prepare(Document&& stream) const;
    // Makes the transfer's set the current one of its name and the shown one.
    void commit(PreparedTransfer&& transfer);

    const ModelSet* find(const std::string& name) const;
    const std::string& active() const { return active_; }
    size_t size() const { return sets_.size(); }

    // <raymint><scene><modelsets>...</modelsets></scene></raymint>
    std::string describe() const;

  private:
    struct Entry {
        ModelSet set;
        std::map<std::string, Content> lastContent;
    };
    std::map<std::string, Entry> sets_;
    std::string active_;
};

// Writes the model set as a scene file: its version statement and the root group with every
// component's content in place.
void writeModelSet(const ModelSet& set, SceneTextWriter& out);

// The picture of the model set as it stands: its settings, the placements and every
// component's content, through its camera when it has one.
preview::Picture renderModelSet(const ModelSet& set, const preview::Options& options = {});

// A file name for the model set: the name when it is plain, else a cleaned name and a hash;
// `extension` with its dot.
std::string modelSetFileName(const std::string& name, const std::string& extension = ".rmq");

// Attribute text for XML: & < > " ' and control bytes as references; other bytes as they are.
std::string xmlAttributeText(const std::string& bytes);

// Text for a transfer log line: '"' and '\' escaped with '\', control bytes as \xHH.
std::string logQuoted(const std::string& bytes);

// The transfer log lines.
// `picture` is the file name of the transfer's picture, or nothing when none was written.
std::string transferLine(const std::string& name, uint64_t bytes, const TransferCounts& counts,
                         const std::optional<std::string>& picture);
std::string failedTransferLine(const std::optional<std::string>& name, uint64_t bytes,
                               const std::string& reason);

}  // namespace vex::raymint
