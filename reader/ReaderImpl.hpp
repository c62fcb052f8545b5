// The reader's state, shared by its two stages: the lexer (Lexer.cpp) turns bytes into tokens
// and hands each to the grammar (Grammar.cpp), which builds statements and blocks and passes
// them to the handler. Internal to the reader library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reader/NumberStage.hpp"
#include "reader/SceneReader.hpp"

namespace vex {

namespace reading {

// Deeper nesting than any scene the writer produces (designs go 1,000 levels deep, and each
// level is a group); the limit keeps hostile input from exhausting the stack when the tree is
// destroyed.
constexpr size_t kMaxDepth = 2048;
// Longest bare word and number; the longest "%16.16f" text is about 330 bytes.
constexpr size_t kMaxWord = 1024;
constexpr size_t kMaxNumber = 400;
// Comment text kept per line; the rest of a longer comment is skipped.
constexpr size_t kMaxComment = 4096;

enum class T : uint8_t {
    Newline,
    Word,
    Directive,
    Number,
    Name,
    HexName,
    Blob,
    LBrace,
    RBrace,
    LBracket,
    RBracket,
    Comma,
    Bang,
    Binary,
    Message,
    Comment,
    End,
};

struct Tok {
    T type;
    int line;
    std::string_view text;  // words, names (decoded), message and comment texts
    bool isInt = false;
    bool isError = false;  // Message: #error rather than #print
    int64_t i = 0;
    double d = 0;
};

// Bytes shown in messages: printable ASCII as is, everything else as \xNN, cut to 40 bytes.
std::string shown(std::string_view s);
std::string byteText(unsigned char c);  // "unexpected character 'c'" or "unexpected byte 0xNN"
std::string describe(const Tok& t);     // a token as messages name it

struct Bracket {
    enum class Mode : uint8_t { Empty, Numeric, Names, Generic };
    Mode mode = Mode::Empty;
    bool list = false;
    bool started = false;
    bool afterComma = false;
    bool afterBinary = false;
    NumberArray nums;
    size_t cur = 0;    // numbers of the element being read
    size_t items = 0;  // finished numeric elements
    std::vector<std::string> names;
    bool curName = false;
    std::vector<std::vector<Value>> generic;
    std::vector<Value> curItem;
};

enum class FK : uint8_t { Body, Stmt, Bracket };
enum class SS : uint8_t { Values, AfterSet, AfterReflection, AfterDefine, AfterModify };

struct Frame {
    FK kind = FK::Body;
    int line = 0;
    // Body: null while the block streams to the handler, else the block built in memory.
    std::unique_ptr<Block> mem;
    bool captured = false;
    std::string keyword;
    // Stmt
    Statement st;
    SS ss = SS::Values;
    std::string prefix;
    bool mustBeBlock = false;
    bool allowWords = false;
    // Bracket
    std::unique_ptr<Bracket> br;
};

enum class LS : uint8_t {
    Between,
    Word,
    Directive,
    Number,
    Quoted,
    Slash,
    Comment,
    MsgOpen,
    MsgText,
    MsgQuote,
    BinHead,
    BinData,
};

}  // namespace reading

struct SceneReader::Impl {
    using T = reading::T;
    using Tok = reading::Tok;
    using LS = reading::LS;
    using FK = reading::FK;
    using SS = reading::SS;
    using Frame = reading::Frame;
    using Bracket = reading::Bracket;
    using NumberStage = reading::NumberStage;

    SceneHandler& handler;
    std::string source;

    // Lexer state.
    bool directivePending = false;  // a '#' was read: the word is a directive
    int line = 1;
    LS ls = LS::Between;
    std::string tok;  // the token that straddles two pieces of input
    std::string decoded;
    int tokLine = 1;
    int spaceRun = 0;   // spaces just before the current byte on its line
    int msgIndent = 0;  // spaces before the '#' of #print and #error
    bool msgError = false;
    bool commentCut = false;
    unsigned char binHead[8]{};
    int binHeadN = 0;
    uint64_t binLeft = 0;  // bytes of data still to come
    uint32_t binCount = 0;
    size_t binFilled = 0;
    NumberArray bin;

    // Grammar state.
    std::vector<Frame> frames;
    // The numbers of at most one bracket live in the stage: the innermost one being read as
    // numbers. Any other use of a bracket's numbers moves them into its NumberArray first.
    NumberStage stage;
    Bracket* stageOwner = nullptr;

    NumberStage& stageOf(Bracket& b) {
        if (stageOwner != &b) {
            if (stageOwner != nullptr) drainStage(*stageOwner);
            stageOwner = &b;
        }
        return stage;
    }
    void drainStage(Bracket& b) {
        if (stageOwner != &b) return;
        stage.moveInto(b.nums);
        stageOwner = nullptr;
    }

    uint64_t inputLeft = 0;        // bytes the input still holds beyond those fed, when known
    uint64_t inputAfterChunk = 0;  // the same, beyond the piece being read

    bool failed = false;
    bool finished = false;
    std::string failMessage;
    int failLine = 0;

    Impl(SceneHandler& h, std::string s) : handler(h), source(std::move(s)) {
        frames.emplace_back();
        frames.back().keyword = "file";
    }

    [[noreturn]] void fail(int at, std::string message) {
        failed = true;
        failLine = at;
        failMessage = std::move(message);
        throw ParseError(source, failLine, failMessage);
    }

    // Lexer.cpp: lex() takes a piece of input, finishLexer() the end of it.
    void lex(const char* p, const char* end);
    const char* between(const char* p, const char* end);
    const char* numberRun(const char* p, const char* end);
    void appendWord(const char* p, const char* q);
    void endWord(std::string_view w);
    void directive(std::string_view w);
    void hex(std::string_view w);
    void numberToken(const char* b, const char* e);
    const char* quoted(const char* p, const char* end);
    const char* messageText(const char* p, const char* end);
    void emitMessage();
    void emitComment();
    void binHeadByte(unsigned char c);
    template <class V>
    void appendRaw(V& v, const char* p, size_t n, size_t available);
    void binData(const char* p, size_t n, size_t available);
    void emitBinary();
    void finishLexer();

    // Grammar.cpp: token() takes each token the lexer completes.
    void token(const Tok& t);
    void push(Frame&& f);
    void body(const Tok& t);
    void closeBody(int at);
    void deliver(Statement&& s);
    void finishStatement(int at);
    Value scalar(const Tok& t, bool allowWords);
    void statement(const Tok& t);
    bool validHeader(const std::string& kw, const std::vector<Value>& a) const;
    void openBrace(int at);
    void openCaptured(Value&& type, int at);
    void openBracket(int at);
    void toGeneric(Bracket& b);
    void endItem(Bracket& b, int at, bool closing);
    void bracketValue(Bracket& b, Value&& v);
    void bracket(const Tok& t);
    void addValue(Value&& v, int);
    void bracketValueAny(Bracket& b, Value&& v);
};

}  // namespace vex
