#include "reader/SceneTree.hpp"

namespace vex {

size_t NumberArray::size() const {
    switch (type) {
        case Type::Int32:
            return ints.size();
        case Type::Float32:
            return floats.size();
        case Type::Float64:
            return doubles.size();
    }
    return 0;
}

double NumberArray::at(size_t i) const {
    switch (type) {
        case Type::Int32:
            return ints.at(i);
        case Type::Float32:
            return floats.at(i);
        case Type::Float64:
            return doubles.at(i);
    }
    return 0;
}

const std::string& Block::name() const {
    static const std::string empty;
    return !args.empty() && args[0].kind == Value::Kind::Name ? args[0].bytes : empty;
}

}  // namespace vex
