#include "sceneapi/CaptureBuffer.hpp"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

CaptureBuffer::~CaptureBuffer() {
    std::free(data);
}

void CaptureBuffer::reserve(size_t needed, size_t newCapacity) {
    if (capacity >= 0 && needed < static_cast<size_t>(capacity)) return;
    if (newCapacity <= needed) newCapacity = needed + 1;
    if (newCapacity > static_cast<size_t>(INT_MAX))
        throw std::length_error("captured text too long");
    void* grown = std::realloc(data, newCapacity);
    if (grown == nullptr) throw std::bad_alloc();
    data = static_cast<char*>(grown);
    capacity = static_cast<int>(newCapacity);
}

void CaptureBuffer::append(const char* bytes, size_t n) {
    const bool explicitLength = n > 0;
    if (!explicitLength) n = bytes ? std::strlen(bytes) : 0;
    const size_t len = static_cast<size_t>(length);
    // Grows to n + 2 * (capacity + 256) once length + 1 + n reaches the capacity.
    reserve(len + 1 + n, n + 2 * static_cast<size_t>(int64_t{capacity} + 256));
    if (n > 0) std::memcpy(data + len, bytes, n);
    length = static_cast<int>(len + n);
    data[length] = '\0';
    if (explicitLength) binary = true;
}

void CaptureBuffer::appendText(const char* text, size_t n) {
    const bool wasBinary = binary;
    append(n > 0 ? text : "", n);
    binary = wasBinary;
}

void CaptureBuffer::appendWord(const void* word) {
    const size_t len = static_cast<size_t>(length);
    // Grows to 2 * capacity + 516 once length + 5 reaches the capacity.
    reserve(len + 5, static_cast<size_t>(2 * int64_t{capacity} + 516));
    std::memcpy(data + len, word, 4);
    length = static_cast<int>(len + 4);
    data[length] = '\0';
    binary = true;
}
