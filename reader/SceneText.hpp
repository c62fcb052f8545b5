// Writes a scene tree (reader/SceneTree.hpp) back as scene file text that the reader reads
// into the same tree: blocks, statements and values keep their kinds, names and binary arrays
// keep their exact bytes. The renderer stores its model sets with it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "reader/SceneTree.hpp"

namespace vex {

class SceneTextWriter {
  public:
    // Collects the text in `out`.
    explicit SceneTextWriter(std::string& out);
    // Writes to `stream` (owned by the caller) in large pieces.
    explicit SceneTextWriter(std::FILE* stream);
    ~SceneTextWriter();
    SceneTextWriter(const SceneTextWriter&) = delete;
    SceneTextWriter& operator=(const SceneTextWriter&) = delete;

    void document(const Document& doc);
    void node(const Node& node, int level);
    void block(const Block& block, int level);
    void statement(const Statement& statement, int level);
    void comment(std::string_view text);  // "//text" and a line feed

    // The two halves of a block, for callers that write the children themselves.
    void openBlock(const Block& block, int level);
    void closeBlock(int level);

    // Hands the buffered text to the stream; false once any write to it failed.
    bool flush();
    bool failed() const { return failed_; }

    // The text of one name: quoted when the reader takes its bytes back from quotes, else xX hex.
    static std::string nameText(std::string_view bytes, bool forceHex = false);
    // A double as a number token that reads back as the same double and never as an integer.
    static std::string doubleText(double value);

  private:
    void put(std::string_view text);
    void indent(int level);
    void value(const Value& value, int level);
    void numbers(const Value& value, int level);
    void binary(char tag, const void* data, size_t count, size_t width);
    void bracketBody(const Value& value, int level);

    std::string* target_ = nullptr;
    std::string buffer_;
    std::FILE* stream_ = nullptr;
    bool failed_ = false;
};

}  // namespace vex
