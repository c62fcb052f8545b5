#include "reader/SceneTree.hpp"

#include <memory>
#include <utility>

#include "reader/SceneReader.hpp"

namespace vex {

size_t NumberArray::size() const {
    switch (type) {
        case Type::Int32:
            return ints.size();
        case Type::Float32:
            return floats.size();
        case Type::Float64:
            return doubles.size();
    }
    return 0;
}

double NumberArray::at(size_t i) const {
    switch (type) {
        case Type::Int32:
            return ints.at(i);
        case Type::Float32:
            return floats.at(i);
        case Type::Float64:
            return doubles.at(i);
    }
    return 0;
}

const std::string& Block::name() const {
    static const std::string empty;
    return !args.empty() && args[0].kind == Value::Kind::Name ? args[0].bytes : empty;
}

// ---- TreeBuilder: the handler that collects everything into a Document ----

TreeBuilder::TreeBuilder() = default;
TreeBuilder::~TreeBuilder() = default;

Block& TreeBuilder::current() {
    return open_.empty() ? doc_.root : *open_.back();
}

void TreeBuilder::comment(std::string_view text, int) {
    if (open_.empty() && doc_.root.children.empty()) doc_.header.emplace_back(text);
}

void TreeBuilder::beginBlock(Block&& header) {
    open_.push_back(std::make_unique<Block>(std::move(header)));
}

void TreeBuilder::statement(Statement&& statement) {
    current().children.push_back(Node{std::move(statement)});
}

void TreeBuilder::endBlock(int) {
    std::unique_ptr<Block> b = std::move(open_.back());
    open_.pop_back();
    current().children.push_back(Node{std::move(*b)});
}

Document TreeBuilder::take() {
    Document d = std::move(doc_);
    doc_ = Document{};
    open_.clear();
    return d;
}
}  // namespace vex
