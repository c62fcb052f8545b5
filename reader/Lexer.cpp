// The lexer of the scene file: bytes to tokens, with the byte classes, words, names, number
// texts, messages, comments and binary blocks. Each token goes to the grammar as it completes.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "reader/NumberText.hpp"
#include "reader/ReaderImpl.hpp"

namespace vex {

namespace reading {

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

}  // namespace reading

namespace {

using namespace reading;

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

}  // namespace

void SceneReader::Impl::lex(const char* p, const char* end) {
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
                    fail(line,
                         std::string("expected '\"' after ") + (msgError ? "#error" : "#print"));
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

const char* SceneReader::Impl::between(const char* p, const char* end) {
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
                        fail(tokLine,
                             "number longer than " + std::to_string(kMaxNumber) + " characters");
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
const char* SceneReader::Impl::numberRun(const char* p, const char* end) {
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

void SceneReader::Impl::appendWord(const char* p, const char* q) {
    tok.append(p, q);
    // Hex names and blobs are as long as their data; other words are short.
    if (tok.size() > kMaxWord && tok.rfind("xX", 0) != 0 && tok.rfind("bX", 0) != 0)
        fail(tokLine, "word longer than " + std::to_string(kMaxWord) + " characters");
}

void SceneReader::Impl::endWord(std::string_view w) {
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

void SceneReader::Impl::directive(std::string_view w) {
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

void SceneReader::Impl::hex(std::string_view w) {
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
            fail(tokLine, std::string("bad hex digit in ") + (blob ? "bX blob" : "xX name") + " '" +
                              shown(w) + "'");
        decoded += static_cast<char>(hi << 4 | lo);
    }
    token(Tok{blob ? T::Blob : T::HexName, tokLine, decoded});
}

void SceneReader::Impl::numberToken(const char* b, const char* e) {
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

const char* SceneReader::Impl::quoted(const char* p, const char* end) {
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

const char* SceneReader::Impl::messageText(const char* p, const char* end) {
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
void SceneReader::Impl::emitMessage() {
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

void SceneReader::Impl::emitComment() {
    token(Tok{T::Comment, tokLine, tok});
}

void SceneReader::Impl::binHeadByte(unsigned char c) {
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
               static_cast<uint32_t>(binHead[6]) << 16 | static_cast<uint32_t>(binHead[7]) << 24;
    const char tag = static_cast<char>(binHead[3]);
    if (tag == 'c' && binCount % 3 != 0)
        fail(tokLine,
             "float-triple block of " + std::to_string(binCount) + " values, not a multiple of 3");
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
void SceneReader::Impl::appendRaw(V& v, const char* p, size_t n, size_t available) {
    using E = typename V::value_type;
    if (binFilled == 0) {
        const uint64_t present = std::min<uint64_t>(binLeft, available + inputAfterChunk);
        v.reserve(static_cast<size_t>(present / sizeof(E)));
    }
    const size_t total = binFilled + n;
    v.resize((total + sizeof(E) - 1) / sizeof(E));
    std::memcpy(reinterpret_cast<char*>(v.data()) + binFilled, p, n);
}

void SceneReader::Impl::binData(const char* p, size_t n, size_t available) {
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

void SceneReader::Impl::emitBinary() {
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

void SceneReader::Impl::finishLexer() {
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
            fail(tokLine, "truncated binary block: " + std::to_string(binFilled / width) + " of " +
                              std::to_string(binCount) + " values present");
        }
    }
}

}  // namespace vex
