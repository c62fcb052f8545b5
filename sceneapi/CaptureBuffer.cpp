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

bool CaptureBuffer::overlaps(const void* p, size_t n) const {
    if (data == nullptr || p == nullptr || n == 0) return false;
    const auto at = reinterpret_cast<uintptr_t>(p);
    const auto begin = reinterpret_cast<uintptr_t>(data);
    return at >= begin ? at - begin < static_cast<size_t>(capacity) : begin - at < n;
}

// Grows when needed. When the bytes about to be appended lie in this buffer, the storage
// moves to a new allocation and the old one is returned, for the caller to free after its copy.
char* CaptureBuffer::reserve(size_t needed, size_t newCapacity, const void* source, size_t n) {
    if (capacity >= 0 && needed < static_cast<size_t>(capacity)) return nullptr;
    if (newCapacity <= needed) newCapacity = needed + 1;
    if (newCapacity > static_cast<size_t>(INT_MAX))
        throw std::length_error("captured text too long");
    char* old = nullptr;
    if (overlaps(source, n)) {
        auto* moved = static_cast<char*>(std::malloc(newCapacity));
        if (moved == nullptr) throw std::bad_alloc();
        std::memcpy(moved, data, static_cast<size_t>(length) + 1);
        old = data;
        data = moved;
    } else {
        void* grown = std::realloc(data, newCapacity);
        if (grown == nullptr) throw std::bad_alloc();
        data = static_cast<char*>(grown);
    }
    capacity = static_cast<int>(newCapacity);
    return old;
}

void CaptureBuffer::append(const char* bytes, size_t n) {
    const bool explicitLength = n > 0;
    if (!explicitLength) n = bytes ? std::strlen(bytes) : 0;
    const size_t len = static_cast<size_t>(length);
    // Grows to n + 2 * (capacity + 256) once length + 1 + n reaches the capacity.
    char* old =
        reserve(len + 1 + n, n + 2 * static_cast<size_t>(int64_t{capacity} + 256), bytes, n);
    if (n > 0) std::memmove(data + len, bytes, n);
    std::free(old);
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
    char* old = reserve(len + 5, static_cast<size_t>(2 * int64_t{capacity} + 516), word, 4);
    std::memmove(data + len, word, 4);
    std::free(old);
    length = static_cast<int>(len + 4);
    data[length] = '\0';
    binary = true;
}
