// Streaming reader of the scene file (.rmq): a push parser that takes the input in pieces of
// any size and hands out each block opening, statement and block end as soon as it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "reader/SceneTree.hpp"

namespace vex {

// Malformed input. what() reads "FILE:LINE: message".
class ParseError : public std::runtime_error {
  public:
    ParseError(std::string file, int line, std::string message);
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& message() const { return message_; }

  private:
    std::string file_;
    int line_;
    std::string message_;
};

// Receives the file's content in order. Blocks captured inside a value (shader texts) and
// blocks nested in them arrive inside the statement's values, not through beginBlock.
class SceneHandler {
  public:
    virtual ~SceneHandler() = default;
    virtual void comment(std::string_view text, int line);
    // The block's header: keyword, prefix, arguments, line; children stay empty.
    virtual void beginBlock(Block&& header) = 0;
    virtual void statement(Statement&& statement) = 0;
    virtual void endBlock(int line) = 0;
};

class SceneReader {
  public:
    // `source` names the input in error messages.
    explicit SceneReader(SceneHandler& handler, std::string source = "<input>");
    ~SceneReader();
    SceneReader(const SceneReader&) = delete;
    SceneReader& operator=(const SceneReader&) = delete;

    // Throws ParseError as soon as the input read so far cannot start a valid file; after
    // that every call throws the same error again.
    void feed(const char* data, size_t n);
    void feed(std::string_view data) { feed(data.data(), data.size()); }
    // End of input: completes the last token and requires every block to be closed.
    void finish();
    // The input holds at most this many more bytes (the rest of a regular file). Only sizes the
    // storage of binary blocks; a wrong hint costs memory or copies, never correctness.
    void expectInput(uint64_t bytes);
    int line() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Collects everything into a Document.
class TreeBuilder : public SceneHandler {
  public:
    TreeBuilder();
    ~TreeBuilder() override;
    void comment(std::string_view text, int line) override;
    void beginBlock(Block&& header) override;
    void statement(Statement&& statement) override;
    void endBlock(int line) override;
    Document take();

  private:
    Block& current();
    Document doc_;
    std::vector<std::unique_ptr<Block>> open_;
};

Document parseString(std::string_view text, const std::string& source = "<string>");
// "-" reads standard input. A file that cannot be opened or read throws std::runtime_error.
Document parseFile(const std::string& path);
// Reads the stream to its end in large pieces.
void parseStream(std::FILE* stream, SceneHandler& handler, const std::string& source);
void parsePath(const std::string& path, SceneHandler& handler);

}  // namespace vex
