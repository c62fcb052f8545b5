#include "reader/SceneReader.hpp"

#include "reader/NumberText.hpp"

#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <algorithm>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace vex {

namespace {

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

// Byte classes of the lexer, one table lookup per byte.
enum C : uint8_t { Bad, Space, Blank, Newline, NumStart, Alpha, Quote, Hash, Slash, Punct, Bin };

struct Tables {
    C cls[256]{};
    bool word[256]{};  // [A-Za-z0-9_]
    bool num[256]{};   // [0-9A-Za-z.+-]
    constexpr Tables() {
        for (int c = 0; c < 256; ++c) cls[c] = Bad;
        cls[int{' '}] = Space;
        cls[int{'\t'}] = Blank;
        cls[int{'\r'}] = Blank;
        cls[int{'\n'}] = Newline;
        for (int c = '0'; c <= '9'; ++c) cls[c] = NumStart;
        cls[int{'-'}] = NumStart;
        cls[int{'+'}] = NumStart;
        cls[int{'.'}] = NumStart;
        for (int c = 'a'; c <= 'z'; ++c) cls[c] = Alpha;
        for (int c = 'A'; c <= 'Z'; ++c) cls[c] = Alpha;
        cls[int{'_'}] = Alpha;
        cls[int{'"'}] = Quote;
        cls[int{'#'}] = Hash;
        cls[int{'/'}] = Slash;
        for (char c : {'{', '}', '[', ']', ',', '!'}) cls[static_cast<unsigned char>(c)] = Punct;
        cls[1] = Bin;
        for (int c = 0; c < 256; ++c) {
            const bool alnum =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            word[c] = alnum || c == '_';
            num[c] = alnum || c == '.' || c == '+' || c == '-';
        }
    }
};
constexpr Tables kTables;

inline bool isWordChar(char c) {
    return kTables.word[static_cast<unsigned char>(c)];
}
inline bool isNumChar(char c) {
    return kTables.num[static_cast<unsigned char>(c)];
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes shown in messages: printable ASCII as is, everything else as \xNN, cut to 40 bytes.
std::string shown(std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t k = 0; k < s.size() && k < 40; ++k) {
        const auto c = static_cast<unsigned char>(s[k]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (s.size() > 40) out += "...";
    return out;
}

std::string byteText(unsigned char c) {
    char text[32];
    if (c >= 0x21 && c < 0x7F)
        std::snprintf(text, sizeof text, "unexpected character '%c'", c);
    else
        std::snprintf(text, sizeof text, "unexpected byte 0x%02x", c);
    return text;
}

std::string describe(const Tok& t) {
    switch (t.type) {
        case T::Newline:
            return "end of line";
        case T::Word:
            return "word '" + shown(t.text) + "'";
        case T::Directive:
            return "'#" + shown(t.text) + "'";
        case T::Number:
            return "number";
        case T::Name:
        case T::HexName:
            return "name \"" + shown(t.text) + "\"";
        case T::Blob:
            return "bX blob";
        case T::LBrace:
            return "'{'";
        case T::RBrace:
            return "'}'";
        case T::LBracket:
            return "'['";
        case T::RBracket:
            return "']'";
        case T::Comma:
            return "','";
        case T::Bang:
            return "'!'";
        case T::Binary:
            return "binary block";
        case T::Message:
            return t.isError ? "#error" : "#print";
        case T::Comment:
            return "comment";
        case T::End:
            return "end of input";
    }
    return "token";
}

bool isBlockKeyword(std::string_view prefix, std::string_view word) {
    if (prefix == "#define")
        return word == "group" || word == "object" || word == "matrix" || word == "material" ||
               word == "shader";
    if (prefix == "#modify") return word == "camera";
    static const char* const kPlain[] = {"group",  "object",  "geometry", "animation",
                                         "load",   "options", "camera",   "image",
                                         "output", "light",   "accel",    "material"};
    return std::any_of(std::begin(kPlain), std::end(kPlain),
                       [&](const char* k) { return word == k; });
}

Value numberValue(const NumberArray& a, size_t k) {
    Value v;
    if (a.type == NumberArray::Type::Int32) {
        v.kind = Value::Kind::Int;
        v.i = a.ints[k];
    } else {
        v.kind = Value::Kind::Number;
        v.d = a.at(k);
    }
    return v;
}

// Filling tens of megabytes of fresh memory costs a page fault per 4 KiB, which can exceed the
// parsing itself. On Linux the reader asks for transparent huge pages (one fault per 2 MiB) on
// the large ranges it is about to fill. Only advice: without it nothing changes but the speed.
constexpr size_t kHugePage = size_t{2} << 20;

void adviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto first = reinterpret_cast<uintptr_t>(p);
    const uintptr_t b = (first + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    const uintptr_t e = (first + n) & ~uintptr_t{kHugePage - 1};
    if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#endif
}

// The numbers of the text array being read, as they arrive: in pieces that are reused from
// array to array, moved into vectors of the exact size when the array ends. Growing the vectors
// by doubling would write (and fault in) about twice the memory of the result and copy most of
// it on the way. Small arrays stay in small pieces; past kSmallPieces the pieces are huge-page
// blocks.
class NumberStage {
  public:
    size_t size() const {
        const size_t bytes = filled_ + static_cast<size_t>(pos_ - start_);
        return doubles_ ? bytes / sizeof(double) : bytes / sizeof(int32_t);
    }

    // Int32 while every number is an integer in range, then Float64 for all of them.
    void push(const numtext::Number& n) {
        if (!doubles_) {
            if (n.isInt && n.i >= std::numeric_limits<int32_t>::min() &&
                n.i <= std::numeric_limits<int32_t>::max()) {
                put(static_cast<int32_t>(n.i));
                return;
            }
            toDoubles();
        }
        put(n.isInt ? static_cast<double>(n.i) : n.d);
    }

    // Appends the numbers to `a` and leaves the stage empty, its pieces kept for the next array.
    void moveInto(NumberArray& a) {
        const size_t n = size();
        if (doubles_) {
            if (a.type == NumberArray::Type::Int32) {
                a.doubles.assign(a.ints.begin(), a.ints.end());
                a.ints = {};
                a.type = NumberArray::Type::Float64;
            }
            appendTo(a.doubles, n);
        } else if (a.type == NumberArray::Type::Int32) {
            appendTo(a.ints, n);
        } else {
            std::vector<int32_t> ints;
            appendTo(ints, n);
            a.doubles.insert(a.doubles.end(), ints.begin(), ints.end());
        }
        clear();
    }

  private:
    // Both sizes are multiples of 8, so a piece holds whole int32 and double values.
    static constexpr size_t kSmall = size_t{1} << 16;
    static constexpr size_t kLarge = kHugePage;
    static constexpr size_t kSmallPieces = 16;

    class Piece {
      public:
        explicit Piece(size_t bytes)
            : bytes_(bytes),
              data_(static_cast<unsigned char*>(::operator new(bytes, align(bytes)))) {
            if (bytes == kLarge) adviseHugePages(data_, bytes);
        }
        Piece(Piece&& o) noexcept : bytes_(o.bytes_), data_(std::exchange(o.data_, nullptr)) {}
        Piece& operator=(Piece&& o) noexcept {
            std::swap(bytes_, o.bytes_);
            std::swap(data_, o.data_);
            return *this;
        }
        Piece(const Piece&) = delete;
        Piece& operator=(const Piece&) = delete;
        ~Piece() {
            if (data_ != nullptr) ::operator delete(data_, align(bytes_));
        }
        unsigned char* data() const { return data_; }
        size_t bytes() const { return bytes_; }

      private:
        static std::align_val_t align(size_t bytes) {
            return std::align_val_t{bytes == kLarge ? kLarge : alignof(double)};
        }
        size_t bytes_;
        unsigned char* data_;
    };

    template <class E>
    void put(E v) {
        if (pos_ == end_) nextPiece();
        std::memcpy(pos_, &v, sizeof v);  // the bytes become an E in the piece's storage
        pos_ += sizeof v;
    }

    void nextPiece() {
        if (start_ != nullptr) filled_ += used_.back().bytes();
        const bool large = used_.size() >= kSmallPieces;
        std::vector<Piece>& spare = large ? spareLarge_ : spareSmall_;
        if (spare.empty()) {
            used_.emplace_back(large ? kLarge : kSmall);
        } else {
            used_.push_back(std::move(spare.back()));
            spare.pop_back();
        }
        start_ = pos_ = used_.back().data();
        end_ = start_ + used_.back().bytes();
    }

    template <class E>
    void appendTo(std::vector<E>& v, size_t n) {
        const size_t old = v.size();
        v.reserve(old + n);
        if (n * sizeof(E) >= 2 * kHugePage) adviseHugePages(v.data() + old, n * sizeof(E));
        for (const Piece& piece : used_) {
            const size_t k = std::min(n, piece.bytes() / sizeof(E));
            const E* first = reinterpret_cast<const E*>(piece.data());
            v.insert(v.end(), first, first + k);
            n -= k;
        }
    }

    void toDoubles() {
        std::vector<int32_t> ints;
        appendTo(ints, size());
        clear();
        doubles_ = true;
        for (const int32_t i : ints) put(static_cast<double>(i));
    }

    void clear() {
        for (Piece& piece : used_)
            (piece.bytes() == kLarge ? spareLarge_ : spareSmall_).push_back(std::move(piece));
        used_.clear();
        start_ = pos_ = end_ = nullptr;
        filled_ = 0;
        doubles_ = false;
    }

    std::vector<Piece> used_;                     // in order; the last one is being filled
    std::vector<Piece> spareSmall_, spareLarge_;  // pieces of earlier arrays
    unsigned char* start_ = nullptr;
    unsigned char* pos_ = nullptr;
    unsigned char* end_ = nullptr;
    size_t filled_ = 0;  // bytes in the full pieces
    bool doubles_ = false;
};

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

}  // namespace

ParseError::ParseError(std::string file, int line, std::string message)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + message),
      file_(std::move(file)),
      line_(line),
      message_(std::move(message)) {}

void SceneHandler::comment(std::string_view, int) {}

struct SceneReader::Impl {
    SceneHandler& handler;
    std::string source;

    // Lexer state.
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

    // ---- lexer ------------------------------------------------------------------------------

    void lex(const char* p, const char* end) {
        while (p < end) {
            switch (ls) {
                case LS::Between:
                    p = between(p, end);
                    break;
                case LS::Word:
                case LS::Directive: {
                    const char* q = p;
                    while (q < end && isWordChar(*q)) ++q;
                    appendWord(p, q);
                    p = q;
                    if (q < end) {
                        ls = LS::Between;
                        endWord(tok);
                    }
                    break;
                }
                case LS::Number: {
                    const char* q = p;
                    while (q < end && isNumChar(*q)) ++q;
                    if (tok.size() + static_cast<size_t>(q - p) > kMaxNumber)
                        fail(tokLine,
                             "number longer than " + std::to_string(kMaxNumber) + " characters");
                    tok.append(p, q);
                    p = q;
                    if (q < end) {
                        ls = LS::Between;
                        numberToken(tok.data(), tok.data() + tok.size());
                    }
                    break;
                }
                case LS::Quoted:
                    p = quoted(p, end);
                    break;
                case LS::Slash:
                    if (*p != '/') fail(tokLine, "unexpected character '/'");
                    ++p;
                    tok.clear();
                    commentCut = false;
                    ls = LS::Comment;
                    break;
                case LS::Comment: {
                    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
                    const char* q = lf ? static_cast<const char*>(lf) : end;
                    const size_t room = kMaxComment - std::min(kMaxComment, tok.size());
                    const size_t n = static_cast<size_t>(q - p);
                    tok.append(p, std::min(room, n));
                    p = q;
                    if (lf) {
                        ls = LS::Between;
                        emitComment();
                    }
                    break;
                }
                case LS::MsgOpen: {
                    const char c = *p;
                    if (c == ' ' || c == '\t') {
                        ++p;
                    } else if (c == '"') {
                        ++p;
                        tok.clear();
                        ls = LS::MsgText;
                    } else {
                        fail(line, std::string("expected '\"' after ") +
                                       (msgError ? "#error" : "#print"));
                    }
                    break;
                }
                case LS::MsgText:
                    p = messageText(p, end);
                    break;
                case LS::MsgQuote:
                    if (*p == '\n') {
                        ls = LS::Between;  // the line feed ends the statement as well
                        emitMessage();
                    } else {
                        tok += '"';  // a quote inside the text
                        ls = LS::MsgText;
                    }
                    break;
                case LS::BinHead:
                    binHeadByte(static_cast<unsigned char>(*p++));
                    break;
                case LS::BinData: {
                    const size_t n = static_cast<size_t>(
                        std::min<uint64_t>(binLeft, static_cast<uint64_t>(end - p)));
                    binData(p, n, static_cast<size_t>(end - p));
                    p += n;
                    break;
                }
            }
        }
    }

    const char* between(const char* p, const char* end) {
        while (p < end) {
            const auto c = static_cast<unsigned char>(*p);
            switch (kTables.cls[c]) {
                case Space:
                    ++spaceRun;
                    ++p;
                    continue;
                case Blank:
                    spaceRun = 0;
                    ++p;
                    continue;
                case Newline: {
                    ++p;
                    spaceRun = 0;
                    Tok t{T::Newline, line, {}};
                    ++line;
                    token(t);
                    continue;
                }
                case NumStart: {
                    if (frames.back().kind == FK::Bracket) {
                        const char* r = numberRun(p, end);
                        if (r != p) {
                            p = r;
                            continue;
                        }
                    }
                    tokLine = line;
                    spaceRun = 0;
                    const char* q = p + 1;
                    while (q < end && isNumChar(*q)) ++q;
                    if (q == end) {
                        if (static_cast<size_t>(q - p) > kMaxNumber)
                            fail(tokLine, "number longer than " + std::to_string(kMaxNumber) +
                                              " characters");
                        tok.assign(p, q);
                        ls = LS::Number;
                        return q;
                    }
                    numberToken(p, q);
                    p = q;
                    continue;
                }
                case Alpha: {
                    tokLine = line;
                    spaceRun = 0;
                    const char* q = p + 1;
                    while (q < end && isWordChar(*q)) ++q;
                    if (q == end) {
                        tok.clear();
                        ls = LS::Word;
                        appendWord(p, q);
                        return q;
                    }
                    endWord(std::string_view(p, static_cast<size_t>(q - p)));
                    p = q;
                    continue;
                }
                case Quote:
                    tokLine = line;
                    spaceRun = 0;
                    tok.clear();
                    ls = LS::Quoted;
                    return p + 1;
                case Hash:
                    tokLine = line;
                    msgIndent = spaceRun;
                    spaceRun = 0;
                    tok.clear();
                    directivePending = true;
                    ls = LS::Directive;
                    return p + 1;
                case Slash:
                    tokLine = line;
                    spaceRun = 0;
                    ls = LS::Slash;
                    return p + 1;
                case Punct: {
                    spaceRun = 0;
                    T type = T::Bang;
                    switch (c) {
                        case '{':
                            type = T::LBrace;
                            break;
                        case '}':
                            type = T::RBrace;
                            break;
                        case '[':
                            type = T::LBracket;
                            break;
                        case ']':
                            type = T::RBracket;
                            break;
                        case ',':
                            type = T::Comma;
                            break;
                        default:
                            break;
                    }
                    ++p;
                    token(Tok{type, line, {}});
                    continue;
                }
                case Bin:
                    tokLine = line;
                    spaceRun = 0;
                    binHead[0] = 1;
                    binHeadN = 1;
                    ls = LS::BinHead;
                    return p + 1;
                case Bad:
                    fail(line, byteText(c));
            }
        }
        return p;
    }

    // The numbers, commas and white space of a text array in one loop, without the token
    // dispatch: most of a large text file is this. Anything else, a number that reaches the end
    // of the piece and every fault go back to the general path, which reports them.
    const char* numberRun(const char* p, const char* end) {
        Bracket& b = *frames.back().br;
        if (!b.started || b.afterBinary ||
            (b.mode != Bracket::Mode::Numeric && b.mode != Bracket::Mode::Empty))
            return p;
        NumberStage& numbers = stageOf(b);
        const char* const first = p;
        size_t cur = b.cur;
        uint32_t width = b.nums.width;
        size_t items = b.items;
        bool afterComma = b.afterComma;
        int lines = 0;
        while (p < end) {
            const char c = *p;
            if (c == ' ') {
                ++p;
                continue;
            }
            if (c == ',') {
                // The general path reports empty elements and sizes elements past 2^32.
                if (cur == 0 || cur > UINT32_MAX || (width != 0 && cur != width)) break;
                width = static_cast<uint32_t>(cur);
                ++items;
                cur = 0;
                afterComma = true;
                ++p;
                continue;
            }
            if (c == '\n') {
                ++p;
                ++lines;
                continue;
            }
            if (kTables.cls[static_cast<unsigned char>(c)] != NumStart) break;
            numtext::Number n;
            const char* q = numtext::parseFast(p, end, n);
            if (q == nullptr) {
                q = p + 1;
                while (q < end && isNumChar(*q)) ++q;
                if (q == end || q - p > static_cast<ptrdiff_t>(kMaxNumber) ||
                    numtext::parse(p, q, n) != numtext::Status::Ok)
                    break;
            } else if (q == end) {
                break;
            }
            numbers.push(n);
            ++cur;
            afterComma = false;
            p = q;
        }
        if (p != first) {
            if (items != 0 || cur != 0) b.mode = Bracket::Mode::Numeric;
            b.cur = cur;
            b.nums.width = width;
            b.items = items;
            b.afterComma = afterComma;
            line += lines;
            spaceRun = 0;
        }
        return p;
    }

    void appendWord(const char* p, const char* q) {
        tok.append(p, q);
        // Hex names and blobs are as long as their data; other words are short.
        if (tok.size() > kMaxWord && tok.rfind("xX", 0) != 0 && tok.rfind("bX", 0) != 0)
            fail(tokLine, "word longer than " + std::to_string(kMaxWord) + " characters");
    }

    void endWord(std::string_view w) {
        if (directivePending) {
            directivePending = false;
            directive(w);
            return;
        }
        if (w.size() >= 2 && (w[0] == 'x' || w[0] == 'b') && w[1] == 'X') {
            hex(w);
            return;
        }
        if (w == "nan" || w == "inf") {
            // "%g" spells non-finite values as words; they are numbers like "-nan" and "-inf".
            Tok t{T::Number, tokLine, {}};
            t.d = w == "nan" ? std::numeric_limits<double>::quiet_NaN()
                             : std::numeric_limits<double>::infinity();
            token(t);
            return;
        }
        if (w.size() > kMaxWord)
            fail(tokLine, "word longer than " + std::to_string(kMaxWord) + " characters");
        token(Tok{T::Word, tokLine, w});
    }

    bool directivePending = false;

    void directive(std::string_view w) {
        if (w == "define" || w == "modify") {
            token(Tok{T::Directive, tokLine, w});
        } else if (w == "print" || w == "error") {
            msgError = w == "error";
            ls = LS::MsgOpen;
        } else if (w.empty()) {
            fail(tokLine, "'#' without a directive");
        } else {
            fail(tokLine, "unknown directive '#" + shown(w) + "'");
        }
    }

    void hex(std::string_view w) {
        const bool blob = w[0] == 'b';
        const std::string_view digits = w.substr(2);
        if (digits.size() % 2 != 0)
            fail(tokLine,
                 std::string(blob ? "bX blob" : "xX name") + " with an odd number of hex digits");
        decoded.clear();
        decoded.reserve(digits.size() / 2);
        for (size_t k = 0; k < digits.size(); k += 2) {
            const int hi = hexDigit(digits[k]);
            const int lo = hexDigit(digits[k + 1]);
            if (hi < 0 || lo < 0)
                fail(tokLine, std::string("bad hex digit in ") + (blob ? "bX blob" : "xX name") +
                                  " '" + shown(w) + "'");
            decoded += static_cast<char>(hi << 4 | lo);
        }
        token(Tok{blob ? T::Blob : T::HexName, tokLine, decoded});
    }

    void numberToken(const char* b, const char* e) {
        const size_t n = static_cast<size_t>(e - b);
        if (n > kMaxNumber)
            fail(tokLine, "number longer than " + std::to_string(kMaxNumber) + " characters");
        Tok t{T::Number, tokLine, {}};
        numtext::Number v;
        // "-0" stays a floating-point number so that its sign survives.
        switch (numtext::parse(b, e, v)) {
            case numtext::Status::Ok:
                break;
            case numtext::Status::OutOfRange:
                fail(tokLine, "number out of range '" + shown({b, n}) + "'");
            case numtext::Status::Malformed:
                fail(tokLine, "malformed number '" + shown({b, n}) + "'");
        }
        t.isInt = v.isInt;
        t.i = v.i;
        t.d = v.d;
        token(t);
    }

    const char* quoted(const char* p, const char* end) {
        const char* q = p;
        while (q < end) {
            const auto c = static_cast<unsigned char>(*q);
            if (c == '"') {
                if (tok.empty()) {
                    ls = LS::Between;
                    token(Tok{T::Name, tokLine, std::string_view(p, static_cast<size_t>(q - p))});
                } else {
                    tok.append(p, q);
                    ls = LS::Between;
                    token(Tok{T::Name, tokLine, tok});
                }
                return q + 1;
            }
            // The writer hex-encodes every name holding these bytes.
            if (c == '\n' || c == '\r') fail(line, "line break inside a quoted name");
            if (c == 0 || c >= 0x80) {
                char text[64];
                std::snprintf(text, sizeof text, "non-text byte 0x%02x in a quoted name", c);
                fail(line, text);
            }
            ++q;
        }
        tok.append(p, q);
        return q;
    }

    const char* messageText(const char* p, const char* end) {
        const char* q = p;
        while (q < end) {
            const auto c = static_cast<unsigned char>(*q);
            if (c == '"') {
                tok.append(p, q);
                ls = LS::MsgQuote;
                return q + 1;
            }
            if (c == '\n') {
                ++line;
            } else if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) {
                char text[64];
                std::snprintf(text, sizeof text, "non-text byte 0x%02x in %s text", c,
                              msgError ? "#error" : "#print");
                fail(line, text);
            }
            ++q;
        }
        tok.append(p, q);
        return q;
    }

    // The writer indents the message text as it indents the directive: the same count of
    // spaces stands at the text's start and after each of its line feeds. Removing it gives
    // back the text that was passed in.
    void emitMessage() {
        std::string text;
        text.reserve(tok.size());
        size_t k = 0;
        bool lineStart = true;
        while (k < tok.size()) {
            if (lineStart) {
                int skip = 0;
                while (skip < msgIndent && k < tok.size() && tok[k] == ' ') {
                    ++k;
                    ++skip;
                }
                lineStart = false;
                continue;
            }
            text += tok[k];
            lineStart = tok[k] == '\n';
            ++k;
        }
        Tok t{T::Message, tokLine, text};
        t.isError = msgError;
        token(t);
    }

    void emitComment() { token(Tok{T::Comment, tokLine, tok}); }

    void binHeadByte(unsigned char c) {
        const int k = binHeadN++;
        binHead[k] = c;
        if ((k == 1 && c != 2) || (k == 2 && c != 3))
            fail(tokLine, "bad binary block tag: expected bytes 01 02 03");
        if (k == 3 && c != 'c' && c != 'f' && c != 'r' && c != 'i')
            fail(tokLine,
                 c >= 0x21 && c < 0x7F
                     ? "unknown binary block type '" + std::string(1, static_cast<char>(c)) + "'"
                     : "unknown binary block type " + byteText(c).substr(11));
        if (binHeadN < 8) return;
        binCount = static_cast<uint32_t>(binHead[4]) | static_cast<uint32_t>(binHead[5]) << 8 |
                   static_cast<uint32_t>(binHead[6]) << 16 |
                   static_cast<uint32_t>(binHead[7]) << 24;
        const char tag = static_cast<char>(binHead[3]);
        if (tag == 'c' && binCount % 3 != 0)
            fail(tokLine, "float-triple block of " + std::to_string(binCount) +
                              " values, not a multiple of 3");
        bin = NumberArray{};
        bin.tag = tag;
        bin.width = tag == 'c' ? 3 : 1;
        bin.type = tag == 'i'   ? NumberArray::Type::Int32
                   : tag == 'r' ? NumberArray::Type::Float64
                                : NumberArray::Type::Float32;
        binFilled = 0;
        binLeft = uint64_t{binCount} * (tag == 'r' ? 8 : 4);
        if (binLeft == 0) {
            ls = LS::Between;
            emitBinary();
        } else {
            ls = LS::BinData;
        }
    }

    // The array grows only by the bytes that have arrived, never by the announced count. The
    // first piece reserves what is already here plus what the input is known to still hold
    // (the rest of a regular file), so that a large block is copied once.
    template <class V>
    void appendRaw(V& v, const char* p, size_t n, size_t available) {
        using E = typename V::value_type;
        if (binFilled == 0) {
            const uint64_t present = std::min<uint64_t>(binLeft, available + inputAfterChunk);
            v.reserve(static_cast<size_t>(present / sizeof(E)));
        }
        const size_t total = binFilled + n;
        v.resize((total + sizeof(E) - 1) / sizeof(E));
        std::memcpy(reinterpret_cast<char*>(v.data()) + binFilled, p, n);
    }

    void binData(const char* p, size_t n, size_t available) {
        line += static_cast<int>(std::count(p, p + n, '\n'));
        switch (bin.type) {
            case NumberArray::Type::Int32:
                appendRaw(bin.ints, p, n, available);
                break;
            case NumberArray::Type::Float32:
                appendRaw(bin.floats, p, n, available);
                break;
            case NumberArray::Type::Float64:
                appendRaw(bin.doubles, p, n, available);
                break;
        }
        binFilled += n;
        binLeft -= n;
        if (binLeft == 0) {
            ls = LS::Between;
            emitBinary();
        }
    }

    void emitBinary() {
        if constexpr (std::endian::native == std::endian::big) {
            const auto swap = [](auto& v) {
                for (auto& x : v) {
                    auto* b = reinterpret_cast<unsigned char*>(&x);
                    std::reverse(b, b + sizeof x);
                }
            };
            swap(bin.ints);
            swap(bin.floats);
            swap(bin.doubles);
        }
        token(Tok{T::Binary, tokLine, {}});
    }

    void finishLexer() {
        switch (ls) {
            case LS::Between:
                break;
            case LS::Word:
            case LS::Directive:
                ls = LS::Between;
                endWord(tok);
                break;
            case LS::Number:
                ls = LS::Between;
                numberToken(tok.data(), tok.data() + tok.size());
                break;
            case LS::Quoted:
                fail(tokLine, "unterminated quoted name");
            case LS::Slash:
                fail(tokLine, "unexpected character '/'");
            case LS::Comment:
                ls = LS::Between;
                emitComment();
                break;
            case LS::MsgOpen:
            case LS::MsgText:
                fail(tokLine,
                     std::string("unterminated ") + (msgError ? "#error" : "#print") + " text");
            case LS::MsgQuote:
                ls = LS::Between;
                emitMessage();
                break;
            case LS::BinHead:
                fail(tokLine, "truncated binary block header");
            case LS::BinData: {
                const uint64_t width = bin.tag == 'r' ? 8 : 4;
                fail(tokLine, "truncated binary block: " + std::to_string(binFilled / width) +
                                  " of " + std::to_string(binCount) + " values present");
            }
        }
    }

    // ---- grammar ----------------------------------------------------------------------------

    void token(const Tok& t) {
        switch (frames.back().kind) {
            case FK::Body:
                body(t);
                break;
            case FK::Stmt:
                statement(t);
                break;
            case FK::Bracket:
                bracket(t);
                break;
        }
    }

    void push(Frame&& f) {
        if (frames.size() >= kMaxDepth)
            fail(f.line, "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        frames.push_back(std::move(f));
    }

    void body(const Tok& t) {
        switch (t.type) {
            case T::Newline:
                return;
            case T::Comment:
                if (!frames.back().mem) handler.comment(t.text, t.line);
                return;
            case T::RBrace:
                closeBody(t.line);
                return;
            case T::Message: {
                Statement s;
                s.form = Statement::Form::Message;
                s.name = t.isError ? "#error" : "#print";
                s.line = t.line;
                Value v;
                v.kind = Value::Kind::Name;
                v.bytes = t.text;
                s.values.push_back(std::move(v));
                deliver(std::move(s));
                return;
            }
            case T::Word:
            case T::Directive:
            case T::Name:
            case T::HexName: {
                Frame f;
                f.kind = FK::Stmt;
                f.line = t.line;
                f.st.line = t.line;
                if (t.type == T::Word) {
                    f.st.form = Statement::Form::Word;
                    f.st.name = t.text;
                    if (t.text == "set") f.ss = SS::AfterSet;
                    if (t.text == "reflection") f.ss = SS::AfterReflection;
                } else if (t.type == T::Directive) {
                    f.st.form = Statement::Form::Word;
                    f.prefix = "#" + std::string(t.text);
                    f.ss = t.text == "define" ? SS::AfterDefine : SS::AfterModify;
                } else {
                    f.st.form = Statement::Form::Parameter;
                    f.st.name = t.text;
                }
                push(std::move(f));
                return;
            }
            case T::End:
                if (frames.size() > 1) {
                    const Frame& f = frames.back();
                    fail(t.line, "unexpected end of input: '" + f.keyword +
                                     "' block opened at line " + std::to_string(f.line) +
                                     " is not closed");
                }
                return;
            default:
                fail(t.line, "unexpected " + describe(t) + " at the start of a statement");
        }
    }

    void closeBody(int at) {
        if (frames.size() == 1) fail(at, "'}' without an open block");
        Frame f = std::move(frames.back());
        frames.pop_back();
        if (!f.mem) {
            handler.endBlock(at);
            return;
        }
        if (f.captured) {
            Value v;
            v.kind = Value::Kind::Shader;
            v.shader = std::shared_ptr<Block>(std::move(f.mem));
            addValue(std::move(v), at);
            return;
        }
        frames.back().mem->children.push_back(Node{std::move(*f.mem)});
    }

    void deliver(Statement&& s) {
        Frame& f = frames.back();
        if (f.mem)
            f.mem->children.push_back(Node{std::move(s)});
        else
            handler.statement(std::move(s));
    }

    void finishStatement(int at) {
        Frame f = std::move(frames.back());
        frames.pop_back();
        Statement& s = f.st;
        if (s.link) {
            const bool ok = s.values.size() == 1 && (s.values[0].kind == Value::Kind::Int ||
                                                     s.values[0].kind == Value::Kind::Shader);
            if (!ok)
                fail(at, "'!' in \"" + shown(s.name) +
                             "\" must be followed by a shader id or a captured shader");
        }
        deliver(std::move(s));
    }

    Value scalar(const Tok& t, bool allowWords) {
        Value v;
        switch (t.type) {
            case T::Number:
                if (t.isInt) {
                    v.kind = Value::Kind::Int;
                    v.i = t.i;
                } else {
                    v.kind = Value::Kind::Number;
                    v.d = t.d;
                }
                return v;
            case T::Word:
                if (t.text == "on" || t.text == "off") {
                    v.kind = Value::Kind::Bool;
                    v.i = t.text == "on";
                } else if (allowWords) {
                    v.kind = Value::Kind::Word;
                    v.bytes = t.text;
                } else {
                    fail(t.line, "unknown word '" + shown(t.text) + "'");
                }
                return v;
            case T::Name:
            case T::HexName:
                v.kind = Value::Kind::Name;
                v.hex = t.type == T::HexName;
                v.bytes = t.text;
                return v;
            case T::Blob:
                v.kind = Value::Kind::Blob;
                v.bytes = t.text;
                return v;
            default:
                fail(t.line, "unexpected " + describe(t));
        }
    }

    void statement(const Tok& t) {
        Frame& f = frames.back();
        switch (f.ss) {
            case SS::Values:
                break;
            case SS::AfterSet:
            case SS::AfterReflection: {
                const char* second = f.ss == SS::AfterSet ? "transform" : "map";
                f.ss = SS::Values;
                if (t.type == T::Word && t.text == second) {
                    f.st.name += ' ';
                    f.st.name += second;
                    return;
                }
                break;  // a one-word name after all
            }
            case SS::AfterDefine:
            case SS::AfterModify:
                // "#modify " is followed by the line feed that starts the camera block.
                if (t.type == T::Newline) return;
                if (t.type == T::Word && isBlockKeyword(f.prefix, t.text)) {
                    f.st.name = t.text;
                    f.ss = SS::Values;
                    f.mustBeBlock = true;
                    f.allowWords = f.prefix == "#define" && t.text == "shader";
                    return;
                }
                fail(t.line, f.ss == SS::AfterDefine
                                 ? "expected group, object, matrix, material or shader after "
                                   "#define"
                                 : "expected camera after #modify");
        }
        const bool word = f.st.form == Statement::Form::Word;
        switch (t.type) {
            case T::Newline:
                if (!word)
                    fail(t.line,
                         "expected ',' at the end of parameter \"" + shown(f.st.name) + "\"");
                if (f.mustBeBlock) fail(t.line, "expected '{' after " + f.prefix + " " + f.st.name);
                finishStatement(t.line);
                return;
            case T::Comment:
                return;
            case T::Comma:
                if (word) fail(t.line, "unexpected ',' in statement '" + shown(f.st.name) + "'");
                finishStatement(t.line);
                return;
            case T::LBrace:
                openBrace(t.line);
                return;
            case T::Bang:
                if (word || !f.st.values.empty() || f.st.link)
                    fail(t.line, "unexpected '!' in \"" + shown(f.st.name) + "\"");
                f.st.link = true;
                return;
            case T::LBracket:
                openBracket(t.line);
                return;
            case T::Number:
            case T::Word:
            case T::Name:
            case T::HexName:
            case T::Blob: {
                Value v = scalar(t, f.allowWords);
                frames.back().st.values.push_back(std::move(v));
                return;
            }
            case T::End:
                if (word && !f.mustBeBlock) {
                    finishStatement(t.line);
                    token(t);
                    return;
                }
                fail(t.line, "unexpected end of input in statement \"" + shown(f.st.name) +
                                 "\" of line " + std::to_string(f.line));
            default:
                fail(t.line,
                     "unexpected " + describe(t) + " in statement \"" + shown(f.st.name) + "\"");
        }
    }

    bool validHeader(const std::string& kw, const std::vector<Value>& a) const {
        const auto names = [&](size_t n) {
            return a.size() == n && std::all_of(a.begin(), a.end(), [](const Value& v) {
                       return v.kind == Value::Kind::Name;
                   });
        };
        if (kw == "animation") return names(2);
        if (kw == "output") return names(3);
        if (kw == "options" || kw == "image") return a.empty();
        if (kw == "camera") return a.empty() || names(1);
        if (kw == "shader")
            return names(2) || (a.size() == 2 && a[0].kind == Value::Kind::Int &&
                                a[0].i >= std::numeric_limits<int32_t>::min() &&
                                a[0].i <= std::numeric_limits<int32_t>::max() &&
                                a[1].kind == Value::Kind::Word);
        return names(1);
    }

    void openBrace(int at) {
        Frame& f = frames.back();
        if (f.st.form == Statement::Form::Word && isBlockKeyword(f.prefix, f.st.name)) {
            if (!validHeader(f.st.name, f.st.values))
                fail(at, "bad header of " + (f.prefix.empty() ? "" : f.prefix + " ") + f.st.name +
                             " block");
            Block b;
            b.keyword = f.st.name;
            b.prefix = f.prefix;
            b.args = std::move(f.st.values);
            b.line = f.line;
            Frame body;
            body.kind = FK::Body;
            body.line = f.line;
            body.keyword = (f.prefix.empty() ? "" : f.prefix + " ") + f.st.name;
            frames.pop_back();
            if (frames.back().mem) {
                body.mem = std::make_unique<Block>(std::move(b));
                push(std::move(body));
            } else {
                push(std::move(body));
                handler.beginBlock(std::move(b));
            }
            return;
        }
        if (f.mustBeBlock) fail(at, "bad header of " + f.prefix + " " + f.st.name + " block");
        if (f.st.values.empty() || f.st.values.back().kind != Value::Kind::Name)
            fail(at, "'{' must follow the shader type name in \"" + shown(f.st.name) + "\"");
        Value type = std::move(f.st.values.back());
        f.st.values.pop_back();
        openCaptured(std::move(type), at);
    }

    void openCaptured(Value&& type, int at) {
        Frame body;
        body.kind = FK::Body;
        body.line = at;
        body.keyword = "captured shader";
        body.captured = true;
        body.mem = std::make_unique<Block>();
        body.mem->keyword = "shader";
        body.mem->captured = true;
        body.mem->line = at;
        body.mem->args.push_back(std::move(type));
        push(std::move(body));
    }

    void openBracket(int at) {
        Frame f;
        f.kind = FK::Bracket;
        f.line = at;
        f.keyword = "[";
        f.br = std::make_unique<Bracket>();
        push(std::move(f));
    }

    // ---- brackets ---------------------------------------------------------------------------

    void toGeneric(Bracket& b) {
        if (b.mode == Bracket::Mode::Numeric) {
            drainStage(b);
            size_t k = 0;
            for (size_t item = 0; item < b.items; ++item) {
                std::vector<Value> values;
                for (uint32_t w = 0; w < b.nums.width; ++w)
                    values.push_back(numberValue(b.nums, k++));
                b.generic.push_back(std::move(values));
            }
            for (size_t c = 0; c < b.cur; ++c) b.curItem.push_back(numberValue(b.nums, k++));
            b.nums = NumberArray{};
        } else if (b.mode == Bracket::Mode::Names) {
            const size_t done = b.names.size() - (b.curName ? 1 : 0);
            for (size_t k = 0; k < b.names.size(); ++k) {
                Value v;
                v.kind = Value::Kind::Name;
                v.bytes = std::move(b.names[k]);
                if (k < done)
                    b.generic.push_back({std::move(v)});
                else
                    b.curItem.push_back(std::move(v));
            }
            b.names.clear();
        }
        b.mode = Bracket::Mode::Generic;
    }

    void endItem(Bracket& b, int at, bool closing) {
        const char* empty = "empty element in '[ ]'";
        switch (b.mode) {
            case Bracket::Mode::Empty:
                if (!closing) fail(at, empty);
                return;
            case Bracket::Mode::Numeric:
                if (b.cur == 0) {
                    if (closing && b.afterBinary) return;
                    fail(at, empty);
                }
                if (b.nums.width == 0) {
                    b.nums.width = static_cast<uint32_t>(std::min<size_t>(b.cur, UINT32_MAX));
                } else if (b.cur != b.nums.width) {
                    // Elements of different sizes: a list of mixed items.
                    toGeneric(b);
                    b.generic.push_back(std::move(b.curItem));
                    b.curItem.clear();
                    return;
                }
                ++b.items;
                b.cur = 0;
                return;
            case Bracket::Mode::Names:
                if (!b.curName) fail(at, empty);
                b.curName = false;
                return;
            case Bracket::Mode::Generic:
                if (b.curItem.empty()) {
                    if (closing && b.afterBinary) return;
                    fail(at, empty);
                }
                b.generic.push_back(std::move(b.curItem));
                b.curItem.clear();
                return;
        }
    }

    void bracketValue(Bracket& b, Value&& v) {
        if (v.kind == Value::Kind::Name) {
            if (b.mode == Bracket::Mode::Empty) b.mode = Bracket::Mode::Names;
            if (b.mode == Bracket::Mode::Names && !b.curName) {
                b.names.push_back(std::move(v.bytes));
                b.curName = true;
                return;
            }
        }
        if (b.mode != Bracket::Mode::Generic) toGeneric(b);
        b.curItem.push_back(std::move(v));
    }

    void bracket(const Tok& t) {
        Bracket& b = *frames.back().br;
        if (!b.started) {
            b.started = true;
            if (t.type == T::Newline) {
                b.list = true;
                return;
            }
        }
        if (b.afterBinary && t.type != T::RBracket && t.type != T::Newline &&
            t.type != T::Comment) {
            if (t.type == T::End)
                fail(t.line, "unexpected end of input: '[' opened at line " +
                                 std::to_string(frames.back().line) + " is not closed");
            fail(t.line, "expected ']' after a binary block, found " + describe(t));
        }
        switch (t.type) {
            case T::Newline:
            case T::Comment:
                return;
            case T::Number:
                b.afterComma = false;
                if (b.mode == Bracket::Mode::Empty) b.mode = Bracket::Mode::Numeric;
                if (b.mode == Bracket::Mode::Numeric) {
                    numtext::Number n;
                    n.isInt = t.isInt;
                    n.i = t.i;
                    n.d = t.d;
                    stageOf(b).push(n);
                    ++b.cur;
                } else {
                    Value v = scalar(t, false);
                    bracketValue(b, std::move(v));
                }
                return;
            case T::Word:
            case T::Name:
            case T::HexName:
            case T::Blob: {
                b.afterComma = false;
                Value v = scalar(t, false);
                bracketValue(b, std::move(v));
                return;
            }
            case T::LBracket:
                b.afterComma = false;
                openBracket(t.line);
                return;
            case T::LBrace: {
                b.afterComma = false;
                if (b.mode != Bracket::Mode::Generic) toGeneric(b);
                if (b.curItem.empty() || b.curItem.back().kind != Value::Kind::Name)
                    fail(t.line, "'{' must follow the shader type name");
                Value type = std::move(b.curItem.back());
                b.curItem.pop_back();
                openCaptured(std::move(type), t.line);
                return;
            }
            case T::Comma:
                endItem(b, t.line, false);
                b.afterComma = true;
                return;
            case T::RBracket: {
                if (b.afterComma) fail(t.line, "',' before ']'");
                endItem(b, t.line, true);
                drainStage(b);  // the bracket ends here, whatever its numbers became
                Value v;
                v.listForm = b.list;
                switch (b.mode) {
                    case Bracket::Mode::Empty:
                    case Bracket::Mode::Numeric:
                        v.kind = Value::Kind::Numbers;
                        v.numbers = std::move(b.nums);
                        break;
                    case Bracket::Mode::Names:
                        v.kind = Value::Kind::Names;
                        v.names = std::move(b.names);
                        break;
                    case Bracket::Mode::Generic:
                        v.kind = Value::Kind::List;
                        v.list = std::move(b.generic);
                        break;
                }
                frames.pop_back();
                addValue(std::move(v), t.line);
                return;
            }
            case T::Binary: {
                b.afterComma = false;
                b.afterBinary = true;
                if (b.mode == Bracket::Mode::Empty) {
                    b.mode = Bracket::Mode::Numeric;
                    b.nums = std::move(bin);
                    b.items = b.nums.elements();
                    return;
                }
                // Text items first, then the block of the collected binary items.
                if (b.mode != Bracket::Mode::Generic) toGeneric(b);
                if (!b.curItem.empty()) {
                    b.generic.push_back(std::move(b.curItem));
                    b.curItem.clear();
                }
                Value v;
                v.kind = Value::Kind::Numbers;
                v.numbers = std::move(bin);
                b.generic.push_back({std::move(v)});
                return;
            }
            case T::End:
                fail(t.line, "unexpected end of input: '[' opened at line " +
                                 std::to_string(frames.back().line) + " is not closed");
            default:
                fail(t.line, "unexpected " + describe(t) + " inside '[ ]'");
        }
    }

    void addValue(Value&& v, int) {
        Frame& f = frames.back();
        if (f.kind == FK::Stmt) {
            f.st.values.push_back(std::move(v));
        } else {
            // Only statements and brackets hold bodies and brackets.
            bracketValueAny(*f.br, std::move(v));
        }
    }

    void bracketValueAny(Bracket& b, Value&& v) {
        b.afterComma = false;
        bracketValue(b, std::move(v));
    }
};

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

// ---- tree and convenience --------------------------------------------------------------------

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
