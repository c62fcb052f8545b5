// The grammar of the scene file: tokens to statements, blocks, brackets and captured shader
// texts. Blocks stream to the handler; captured shaders are built in memory inside their value.
#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <string>

#include "reader/ReaderImpl.hpp"

namespace vex {

namespace {

using namespace reading;

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

}  // namespace

void SceneReader::Impl::token(const Tok& t) {
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

void SceneReader::Impl::push(Frame&& f) {
    if (frames.size() >= kMaxDepth)
        fail(f.line, "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
    frames.push_back(std::move(f));
}

void SceneReader::Impl::body(const Tok& t) {
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
                fail(t.line, "unexpected end of input: '" + f.keyword + "' block opened at line " +
                                 std::to_string(f.line) + " is not closed");
            }
            return;
        default:
            fail(t.line, "unexpected " + describe(t) + " at the start of a statement");
    }
}

void SceneReader::Impl::closeBody(int at) {
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

void SceneReader::Impl::deliver(Statement&& s) {
    Frame& f = frames.back();
    if (f.mem)
        f.mem->children.push_back(Node{std::move(s)});
    else
        handler.statement(std::move(s));
}

void SceneReader::Impl::finishStatement(int at) {
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

Value SceneReader::Impl::scalar(const Tok& t, bool allowWords) {
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

void SceneReader::Impl::statement(const Tok& t) {
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
                fail(t.line, "expected ',' at the end of parameter \"" + shown(f.st.name) + "\"");
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

bool SceneReader::Impl::validHeader(const std::string& kw, const std::vector<Value>& a) const {
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
        return names(2) ||
               (a.size() == 2 && a[0].kind == Value::Kind::Int &&
                a[0].i >= std::numeric_limits<int32_t>::min() &&
                a[0].i <= std::numeric_limits<int32_t>::max() && a[1].kind == Value::Kind::Word);
    return names(1);
}

void SceneReader::Impl::openBrace(int at) {
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

void SceneReader::Impl::openCaptured(Value&& type, int at) {
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

void SceneReader::Impl::openBracket(int at) {
    Frame f;
    f.kind = FK::Bracket;
    f.line = at;
    f.keyword = "[";
    f.br = std::make_unique<Bracket>();
    push(std::move(f));
}

void SceneReader::Impl::toGeneric(Bracket& b) {
    if (b.mode == Bracket::Mode::Numeric) {
        drainStage(b);
        size_t k = 0;
        for (size_t item = 0; item < b.items; ++item) {
            std::vector<Value> values;
            for (uint32_t w = 0; w < b.nums.width; ++w) values.push_back(numberValue(b.nums, k++));
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

void SceneReader::Impl::endItem(Bracket& b, int at, bool closing) {
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

void SceneReader::Impl::bracketValue(Bracket& b, Value&& v) {
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

void SceneReader::Impl::bracket(const Tok& t) {
    Bracket& b = *frames.back().br;
    if (!b.started) {
        b.started = true;
        if (t.type == T::Newline) {
            b.list = true;
            return;
        }
    }
    if (b.afterBinary && t.type != T::RBracket && t.type != T::Newline && t.type != T::Comment) {
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

void SceneReader::Impl::addValue(Value&& v, int) {
    Frame& f = frames.back();
    if (f.kind == FK::Stmt) {
        f.st.values.push_back(std::move(v));
    } else {
        // Only statements and brackets hold bodies and brackets.
        bracketValueAny(*f.br, std::move(v));
    }
}

void SceneReader::Impl::bracketValueAny(Bracket& b, Value&& v) {
    b.afterComma = false;
    bracketValue(b, std::move(v));
}

}  // namespace vex
