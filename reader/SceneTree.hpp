// The tree of a scene file (.rmq) as the reader hands it out: blocks, statements and values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vex {

struct Block;

// The numbers of one bracketed array. A binary block keeps its element type and the exact bits
// of every value. Text arrays carry no element type in the file: they are read as int32 while
// every number is an integer within range, and as double otherwise (a double holds every "%g"
// and "%16.16f" text exactly as written).
struct NumberArray {
    enum class Type : uint8_t { Int32, Float32, Float64 };
    Type type = Type::Int32;
    uint32_t width = 0;  // numbers per element (3 for float triples); 0 for an empty array
    char tag = 0;        // letter of the binary block: 'c', 'f', 'r' or 'i'; 0 for text
    std::vector<int32_t> ints;
    std::vector<float> floats;
    std::vector<double> doubles;

    size_t size() const;  // count of numbers
    size_t elements() const { return width != 0 ? size() / width : 0; }
    double at(size_t i) const;
};

struct Value {
    enum class Kind : uint8_t {
        Int,      // an integer literal ("4", "-1", "4294967295")
        Number,   // any other number ("0.1", "1e+38", "nan", "-inf")
        Bool,     // on / off
        Name,     // a quoted or xX-hex name: bytes
        Word,     // a bare word, only in "#define shader ID TYPE {"
        Blob,     // bX-hex bytes
        Shader,   // a captured shader text: "type" { parameters }
        Numbers,  // [ numbers ] or a binary block
        Names,    // [ one name per element ]
        List,     // [ elements of mixed values ]
    };
    Kind kind = Kind::Int;
    bool hex = false;       // a Name written as xX hex
    bool listForm = false;  // brackets written as a list ("[" then a line feed)
    int64_t i = 0;          // Int, Bool (0 or 1)
    double d = 0;           // Number
    std::string bytes;      // Name, Word, Blob
    std::shared_ptr<Block> shader;
    NumberArray numbers;
    std::vector<std::string> names;
    std::vector<std::vector<Value>> list;

    bool isNumber() const { return kind == Kind::Int || kind == Kind::Number; }
    double number() const { return kind == Kind::Int ? static_cast<double>(i) : d; }
};

struct Statement {
    enum class Form : uint8_t {
        Word,       // bare name, values, end of line:  flags 1
        Parameter,  // quoted or hex name, values, comma:  "scale" 0.1,
        Message,    // #print "..." and #error "...": name "#print" or "#error", one Name value
    };
    Form form = Form::Word;
    std::string name;   // bytes; two-word names are "set transform" and "reflection map"
    bool link = false;  // a parameter written as  "name" ! value
    std::vector<Value> values;
    int line = 0;
};

struct Node;

struct Block {
    std::string keyword;  // group, object, geometry, shader, ...; empty for the document root
    std::string prefix;   // "", "#define" or "#modify"
    std::vector<Value> args;
    std::vector<Node> children;
    int line = 0;
    bool captured = false;  // a captured shader text held in a value

    // The first argument when it is a name, else empty.
    const std::string& name() const;
};

struct Node {
    std::variant<Statement, Block> item;

    bool isBlock() const { return item.index() == 1; }
    const Block& block() const { return std::get<Block>(item); }
    const Statement& statement() const { return std::get<Statement>(item); }
};

struct Document {
    std::vector<std::string> header;  // comment lines before the first statement, without "//"
    Block root;
};

}  // namespace vex
