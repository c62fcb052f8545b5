#include "reader/SceneText.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace vex {

namespace {

constexpr size_t kFlushAt = size_t{1} << 20;
constexpr char kHex[] = "0123456789abcdef";
constexpr size_t kElementsPerLine = 8;

void appendHex(std::string& out, std::string_view bytes) {
    out.reserve(out.size() + 2 * bytes.size());
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}

}  // namespace

SceneTextWriter::SceneTextWriter(std::string& out) : target_(&out) {}

SceneTextWriter::SceneTextWriter(std::FILE* stream) : stream_(stream) {}

SceneTextWriter::~SceneTextWriter() {
    flush();
}

bool SceneTextWriter::flush() {
    if (stream_ != nullptr && !buffer_.empty()) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), stream_) != buffer_.size())
            failed_ = true;
        buffer_.clear();
    }
    // The stream's own buffer too: a full disk shows here, not after the caller trusted us.
    if (stream_ != nullptr && std::fflush(stream_) != 0) failed_ = true;
    return !failed_;
}

void SceneTextWriter::put(std::string_view text) {
    if (target_ != nullptr) {
        target_->append(text);
        return;
    }
    buffer_.append(text);
    if (buffer_.size() >= kFlushAt) flush();
}

void SceneTextWriter::indent(int level) {
    if (level > 0) put(std::string(static_cast<size_t>(level), ' '));
}

std::string SceneTextWriter::nameText(std::string_view bytes, bool forceHex) {
    bool hex = forceHex;
    for (unsigned char c : bytes)
        if (c == 0 || c == '\r' || c == '\n' || c == '"' || c >= 0x80) hex = true;
    std::string out;
    if (!hex) {
        out.reserve(bytes.size() + 2);
        out += '"';
        out.append(bytes);
        out += '"';
        return out;
    }
    out = "xX";
    appendHex(out, bytes);
    return out;
}

std::string SceneTextWriter::doubleText(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    std::string out(text, result.ptr);
    // "4" would come back as an integer: the fraction keeps it a double.
    if (out.find_first_of(".e") == std::string::npos) out += ".0";
    return out;
}

void SceneTextWriter::comment(std::string_view text) {
    put("//");
    put(text);
    put("\n");
}

void SceneTextWriter::document(const Document& doc) {
    for (const std::string& line : doc.header) comment(line);
    for (const Node& n : doc.root.children) node(n, 0);
}

void SceneTextWriter::node(const Node& n, int level) {
    if (n.isBlock())
        block(n.block(), level);
    else
        statement(n.statement(), level);
}

void SceneTextWriter::openBlock(const Block& b, int level) {
    indent(level);
    if (!b.prefix.empty()) {
        put(b.prefix);
        put(" ");
    }
    put(b.keyword);
    for (const Value& v : b.args) {
        put(" ");
        value(v, level);
    }
    put(" {\n");
}

void SceneTextWriter::closeBlock(int level) {
    indent(level);
    put("}\n");
}

void SceneTextWriter::block(const Block& b, int level) {
    openBlock(b, level);
    for (const Node& n : b.children) node(n, level + 1);
    closeBlock(level);
}

void SceneTextWriter::statement(const Statement& s, int level) {
    switch (s.form) {
        case Statement::Form::Message:
            // At the start of the line: the reader then removes no indentation from the text.
            put(s.name);
            put(" \"");
            if (!s.values.empty()) put(s.values[0].bytes);
            put("\"\n");
            return;
        case Statement::Form::Word:
            indent(level);
            put(s.name);
            for (const Value& v : s.values) {
                put(" ");
                value(v, level);
            }
            put("\n");
            return;
        case Statement::Form::Parameter:
            indent(level);
            put(nameText(s.name));
            if (s.link) put(" !");
            for (const Value& v : s.values) {
                put(" ");
                value(v, level);
            }
            put(",\n");
            return;
    }
}

void SceneTextWriter::value(const Value& v, int level) {
    switch (v.kind) {
        case Value::Kind::Int:
            put(std::to_string(v.i));
            return;
        case Value::Kind::Number:
            put(doubleText(v.d));
            return;
        case Value::Kind::Bool:
            put(v.i != 0 ? "on" : "off");
            return;
        case Value::Kind::Name:
            put(nameText(v.bytes, v.hex));
            return;
        case Value::Kind::Word:
            put(v.bytes);
            return;
        case Value::Kind::Blob: {
            std::string text = "bX";
            appendHex(text, v.bytes);
            put(text);
            return;
        }
        case Value::Kind::Shader: {
            const Block* body = v.shader.get();
            put(body != nullptr ? nameText(body->name()) : std::string("\"\""));
            put(" {\n");
            if (body != nullptr)
                for (const Node& n : body->children) node(n, level + 1);
            indent(level);
            put("}");
            return;
        }
        case Value::Kind::Numbers:
        case Value::Kind::Names:
        case Value::Kind::List:
            bracketBody(v, level);
            return;
    }
}

void SceneTextWriter::binary(char tag, const void* data, size_t count, size_t width) {
    if (count > UINT32_MAX) {
        // The block's count is 32 bits; a cut array would be a wrong scene.
        failed_ = true;
        return;
    }
    const auto n = static_cast<uint32_t>(count);
    const char head[8] = {0x01,
                          0x02,
                          0x03,
                          tag,
                          static_cast<char>(n & 0xFF),
                          static_cast<char>((n >> 8) & 0xFF),
                          static_cast<char>((n >> 16) & 0xFF),
                          static_cast<char>((n >> 24) & 0xFF)};
    put(std::string_view(head, sizeof head));
    if (count > 0) put(std::string_view(static_cast<const char*>(data), count * width));
}

void SceneTextWriter::numbers(const Value& v, int level) {
    const NumberArray& a = v.numbers;
    if (a.tag != 0) {
        switch (a.tag) {
            case 'c':
            case 'f':
                binary(a.tag, a.floats.data(), a.floats.size(), 4);
                return;
            case 'r':
                binary(a.tag, a.doubles.data(), a.doubles.size(), 8);
                return;
            case 'i':
                binary(a.tag, a.ints.data(), a.ints.size(), 4);
                return;
            default:
                failed_ = true;  // the reader makes no other letters
                return;
        }
    }
    const size_t count = a.size();
    const size_t width = a.width != 0 ? a.width : 1;
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) {
            if (i % width == 0) {
                text += ',';
                if ((i / width) % kElementsPerLine == 0) {
                    text += '\n';
                    text.append(static_cast<size_t>(level + 1), ' ');
                }
            } else {
                text += ' ';
            }
        }
        switch (a.type) {
            case NumberArray::Type::Int32:
                text += std::to_string(a.ints[i]);
                break;
            case NumberArray::Type::Float32:
                text += doubleText(a.floats[i]);
                break;
            case NumberArray::Type::Float64:
                text += doubleText(a.doubles[i]);
                break;
        }
        if (text.size() >= kFlushAt) {
            put(text);
            text.clear();
        }
    }
    put(text);
}

void SceneTextWriter::bracketBody(const Value& v, int level) {
    if (v.listForm) {
        put("[\n");
        indent(level + 1);
    } else {
        put("[ ");
    }
    switch (v.kind) {
        case Value::Kind::Numbers:
            numbers(v, level);
            break;
        case Value::Kind::Names:
            for (size_t i = 0; i < v.names.size(); ++i) {
                if (i != 0) put(",");
                put(nameText(v.names[i]));
            }
            break;
        case Value::Kind::List:
            for (size_t i = 0; i < v.list.size(); ++i) {
                if (i != 0) {
                    put(",\n");
                    indent(level + 1);
                }
                const std::vector<Value>& element = v.list[i];
                for (size_t k = 0; k < element.size(); ++k) {
                    if (k != 0) put(" ");
                    value(element[k], level + 1);
                }
            }
            break;
        default:
            break;
    }
    put(" ]");
}

}  // namespace vex
