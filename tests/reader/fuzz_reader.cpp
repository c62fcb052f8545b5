// libFuzzer target: any input is a tree or a ParseError, whole or fed in two pieces, and both
// ways give the same outcome.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ReaderTestSupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const size_t split = size == 0 ? 0 : bytes[0] % size;
    if (readertest::outcome(text) != readertest::outcome(text, {split})) std::abort();
    return 0;
}
