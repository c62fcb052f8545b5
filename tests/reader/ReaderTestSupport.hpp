// Helpers shared by the reader tests: scenes written by the real writer into memory or files,
// a canonical dump of a parsed tree, and feeding in pieces.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "reader/SceneReader.hpp"
#include "sceneapi/vexScene_api_file.hpp"
#include "support/WriterHarness.hpp"

namespace readertest {

// Text written by one vexScene_api_file into memory.
inline std::string writeScene(bool binary, const std::function<void(vexScene_api_file&)>& body) {
    vex::test::MemoryStream memory;
    {
        vexScene_api_file writer(memory.stream(), binary);
        writer.set_mode(binary ? 3 : 1);  // bit 1 binary arrays, indentation on
        body(writer);
        writer.flush();
    }
    return memory.text();
}

// Every byte and every bit of a tree in one text, so that two trees compare as strings.
inline std::string hexBytes(const void* p, size_t n) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t k = 0; k < n; ++k) {
        const auto c = static_cast<const unsigned char*>(p)[k];
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

inline std::string dumpBlock(const vex::Block& b, int depth);

inline std::string dumpValue(const vex::Value& v) {
    using K = vex::Value::Kind;
    switch (v.kind) {
        case K::Int:
            return "i" + std::to_string(v.i);
        case K::Number:
            return "d" + hexBytes(&v.d, sizeof v.d);
        case K::Bool:
            return v.i ? "on" : "off";
        case K::Name:
            return std::string(v.hex ? "x" : "q") + "'" + hexBytes(v.bytes.data(), v.bytes.size());
        case K::Word:
            return "w'" + v.bytes;
        case K::Blob:
            return "b'" + hexBytes(v.bytes.data(), v.bytes.size());
        case K::Shader:
            return "{" + dumpBlock(*v.shader, 0) + "}";
        case K::Numbers: {
            const auto& a = v.numbers;
            std::string out = std::string(v.listForm ? "L" : "") + "n" +
                              std::to_string(static_cast<int>(a.type)) + "/" +
                              std::to_string(a.width) + "/" + (a.tag ? std::string(1, a.tag) : "") +
                              ":";
            out += hexBytes(a.ints.data(), a.ints.size() * 4) +
                   hexBytes(a.floats.data(), a.floats.size() * 4) +
                   hexBytes(a.doubles.data(), a.doubles.size() * 8);
            return out;
        }
        case K::Names: {
            std::string out = v.listForm ? "L[" : "[";
            for (const auto& n : v.names) out += hexBytes(n.data(), n.size()) + ";";
            return out + "]";
        }
        case K::List: {
            std::string out = v.listForm ? "L(" : "(";
            for (const auto& item : v.list) {
                for (const auto& x : item) out += dumpValue(x) + " ";
                out += ";";
            }
            return out + ")";
        }
    }
    return "?";
}

inline std::string dumpBlock(const vex::Block& b, int depth) {
    std::string out = std::string(static_cast<size_t>(depth), ' ') + b.prefix + "|" + b.keyword +
                      "@" + std::to_string(b.line);
    for (const auto& a : b.args) out += " " + dumpValue(a);
    out += "\n";
    for (const auto& n : b.children) {
        if (n.isBlock()) {
            out += dumpBlock(n.block(), depth + 1);
        } else {
            const auto& s = n.statement();
            out += std::string(static_cast<size_t>(depth + 1), ' ') +
                   std::to_string(static_cast<int>(s.form)) + (s.link ? "!" : "") +
                   hexBytes(s.name.data(), s.name.size()) + "@" + std::to_string(s.line);
            for (const auto& v : s.values) out += " " + dumpValue(v);
            out += "\n";
        }
    }
    return out;
}

inline std::string dump(const vex::Document& doc) {
    std::string out;
    for (const auto& h : doc.header) out += "//" + h + "\n";
    return out + dumpBlock(doc.root, 0);
}

// Feeds the text in pieces of random sizes from 1 to maxPiece bytes.
inline vex::Document parsePieces(const std::string& text, unsigned seed, size_t maxPiece) {
    vex::TreeBuilder tree;
    vex::SceneReader reader(tree, "pieces");
    std::mt19937 rng(seed);
    for (size_t at = 0; at < text.size();) {
        const size_t n = std::min(text.size() - at, size_t{1} + rng() % maxPiece);
        reader.feed(text.data() + at, n);
        at += n;
    }
    reader.finish();
    return tree.take();
}

}  // namespace readertest
