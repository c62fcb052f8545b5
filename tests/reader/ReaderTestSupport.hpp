// Helpers shared by the reader tests and the fuzz target: a readable text of a whole tree that
// keeps every kind, byte and bit, and reading in pieces.
#pragma once

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reader/SceneReader.hpp"

namespace readertest {

inline std::string hexBytes(const void* p, size_t n) {
    std::string out;
    for (size_t k = 0; k < n; ++k) {
        const auto c = static_cast<const unsigned char*>(p)[k];
        out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    }
    return out;
}
// The shortest text that reads back as x; NaNs but the plain quiet one with their bits.
template <class T>
std::string num(T x) {
    char buf[64];
    const std::string s(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
    const T q = std::numeric_limits<T>::quiet_NaN(), a = std::fabs(x);
    return std::isnan(x) && std::memcmp(&a, &q, sizeof a) ? s + "(" + hexBytes(&x, sizeof x) + ")"
                                                          : s;
}
inline std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s)
        out += c >= ' ' && c <= '~' && c != '"' && c != '\\' ? std::string(1, c)
                                                             : "\\x" + hexBytes(&c, 1);
    return out + "\"";
}

// Values: 7 (Int), 7.0 (Number), on, "name" (x"name" when written as hex), word, b:00ff,
// {captured shader on one line}, [3f/c: numbers] (width, storage i/f/d, binary tag; L[ in list
// form), [ "names" ], [ (values) ]. Statements: "parameter", word, #print: (message), ! link.
inline std::string show(const vex::Block& b, int depth = -1);
inline std::string show(const vex::Value& v) {
    using K = vex::Value::Kind;
    if (v.kind == K::Int) return std::to_string(v.i);
    if (v.kind == K::Number)
        return num(v.d) + (num(v.d).find_first_of(".ein") == std::string::npos ? ".0" : "");
    if (v.kind == K::Bool) return v.i ? "on" : "off";
    if (v.kind == K::Name) return (v.hex ? "x" : "") + quoted(v.bytes);
    if (v.kind == K::Word) return v.bytes;
    if (v.kind == K::Blob) return "b:" + hexBytes(v.bytes.data(), v.bytes.size());
    if (v.kind == K::Shader) return "{" + show(*v.shader) + "}";
    std::string out = v.listForm ? "L[" : "[";
    if (v.kind == K::Numbers)
        out += std::to_string(v.numbers.width) + "ifd"[static_cast<int>(v.numbers.type)] +
               (v.numbers.tag ? std::string("/") + v.numbers.tag : "") + ":";
    for (const int32_t x : v.numbers.ints) out += " " + std::to_string(x);
    for (const float x : v.numbers.floats) out += " " + num(x);
    for (const double x : v.numbers.doubles) out += " " + num(x);
    for (const auto& n : v.names) out += " " + quoted(n);
    for (const auto& item : v.list) {
        out += " (";
        for (const auto& x : item) out += (&x == &item[0] ? "" : " ") + show(x);
        out += ")";
    }
    return out + " ]";
}
inline std::string show(const vex::Statement& s) {
    using F = vex::Statement::Form;
    std::string out = (s.form == F::Parameter ? quoted(s.name) : s.name) +
                      (s.form == F::Message ? ":" : "") + (s.link ? " !" : "");
    for (const auto& v : s.values) out += " " + show(v);
    return out;
}
// A block: its header, then on one line " child; child; }" (depth < 0), or a line for each child
// as LINE:indent text, the children of blocks indented further.
inline std::string show(const vex::Block& b, int depth) {
    std::string out =
        (b.captured ? "captured " : "") + b.prefix + (b.prefix.empty() ? "" : " ") + b.keyword;
    for (const auto& a : b.args) out += " " + show(a);
    out = depth < 0 ? out + " {" : depth == 0 ? "" : out + " {\n";
    for (const auto& n : b.children) {
        const std::string line = std::to_string(n.isBlock() ? n.block().line : n.statement().line) +
                                 ":" + std::string(2 * std::max(depth, 0), ' ');
        if (depth < 0)
            out += " " + (n.isBlock() ? show(n.block()) : show(n.statement())) + ";";
        else
            out += line + (n.isBlock() ? show(n.block(), depth + 1) : show(n.statement()) + "\n");
    }
    return depth < 0 ? out + " }" : out;
}
inline std::string show(const vex::Document& doc) {
    std::string out;
    for (const auto& h : doc.header) out += "//" + h + "\n";
    return out + show(doc.root, 0);
}

// The tree of the text fed in pieces that end at `cuts`, or its error.
inline std::string outcome(const std::string& text, const std::vector<size_t>& cuts = {}) {
    try {
        vex::TreeBuilder tree;
        vex::SceneReader reader(tree, "in.rmq");
        size_t at = 0;
        for (const size_t c : cuts) {
            reader.feed(text.data() + at, c - at);
            at = c;
        }
        reader.feed(text.data() + at, text.size() - at);
        reader.finish();
        return show(tree.take());
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}
// Cuts at random distances of 1 to maxPiece bytes.
inline std::vector<size_t> randomCuts(size_t size, unsigned seed, size_t maxPiece) {
    std::mt19937 rng(seed);
    std::vector<size_t> cuts;
    for (size_t at = 1 + rng() % maxPiece; at < size; at += 1 + rng() % maxPiece)
        cuts.push_back(at);
    return cuts;
}

}  // namespace readertest
