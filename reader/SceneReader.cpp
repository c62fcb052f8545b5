// The reader's interface: feeding, finishing and failures, and reading whole strings, files
// and streams. The lexer is in Lexer.cpp, the grammar in Grammar.cpp, the tree in SceneTree.cpp.
#include "reader/SceneReader.hpp"

#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "reader/ReaderImpl.hpp"

namespace vex {

using reading::T;
using reading::Tok;

ParseError::ParseError(std::string file, int line, std::string message)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + message),
      file_(std::move(file)),
      line_(line),
      message_(std::move(message)) {}

void SceneHandler::comment(std::string_view, int) {}

SceneReader::SceneReader(SceneHandler& handler, std::string source)
    : impl_(std::make_unique<Impl>(handler, std::move(source))) {}

SceneReader::~SceneReader() = default;

void SceneReader::feed(const char* data, size_t n) {
    Impl& m = *impl_;
    if (m.failed) throw ParseError(m.source, m.failLine, m.failMessage);
    if (m.finished) m.fail(m.line, "input after the end of input");
    try {
        m.inputLeft = m.inputLeft > n ? m.inputLeft - n : 0;
        m.inputAfterChunk = m.inputLeft;
        m.lex(data, data + n);
    } catch (const ParseError&) {
        throw;
    } catch (...) {
        // The handler failed; the state is no longer consistent.
        m.failed = true;
        m.failLine = m.line;
        m.failMessage = "reading stopped by an earlier failure";
        throw;
    }
}

void SceneReader::finish() {
    Impl& m = *impl_;
    if (m.failed) throw ParseError(m.source, m.failLine, m.failMessage);
    if (m.finished) return;
    try {
        m.finishLexer();
        m.token(Tok{T::End, m.line, {}});
    } catch (const ParseError&) {
        throw;
    } catch (...) {
        m.failed = true;
        m.failLine = m.line;
        m.failMessage = "reading stopped by an earlier failure";
        throw;
    }
    m.finished = true;
}

void SceneReader::expectInput(uint64_t bytes) {
    impl_->inputLeft = bytes;
}

int SceneReader::line() const {
    return impl_->line;
}

Document parseString(std::string_view text, const std::string& source) {
    TreeBuilder tree;
    SceneReader reader(tree, source);
    reader.feed(text);
    reader.finish();
    return tree.take();
}

void parseStream(std::FILE* stream, SceneHandler& handler, const std::string& source) {
    SceneReader reader(handler, source);
    struct stat info {};
    const long at = std::ftell(stream);
    if (fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode) && at >= 0 && info.st_size >= at)
        reader.expectInput(static_cast<uint64_t>(info.st_size - at));
    std::vector<char> buffer(size_t{1} << 20);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), stream);
        if (n > 0) reader.feed(buffer.data(), n);
        if (n < buffer.size()) {
            if (std::ferror(stream))
                throw std::runtime_error(source + ": read failed: " + std::strerror(errno));
            break;
        }
    }
    reader.finish();
}

void parsePath(const std::string& path, SceneHandler& handler) {
    if (path == "-") {
#ifdef _WIN32
        // Binary array blocks must not meet line-end translation.
        if (_setmode(_fileno(stdin), _O_BINARY) == -1)
            throw std::runtime_error("<stdin>: cannot read it in binary mode");
#endif
        parseStream(stdin, handler, "<stdin>");
        return;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    try {
        parseStream(f, handler, path);
    } catch (...) {
        std::fclose(f);
        throw;
    }
    std::fclose(f);
}

Document parseFile(const std::string& path) {
    TreeBuilder tree;
    parsePath(path, tree);
    return tree.take();
}

}  // namespace vex
