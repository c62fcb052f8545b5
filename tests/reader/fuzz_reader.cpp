// libFuzzer target: any input is a tree or a ParseError, whole or fed in two pieces, and both
// ways give the same outcome.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ReaderTestSupport.hpp"

namespace {

std::string outcome(const char* data, size_t size, size_t split) {
    try {
        vex::TreeBuilder tree;
        vex::SceneReader reader(tree, "fuzz");
        reader.feed(data, split);
        reader.feed(data + split, size - split);
        reader.finish();
        return readertest::dump(tree.take());
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const char* data = reinterpret_cast<const char*>(bytes);
    const size_t split = size == 0 ? 0 : bytes[0] % size;
    if (outcome(data, size, 0) != outcome(data, size, split)) std::abort();
    return 0;
}
