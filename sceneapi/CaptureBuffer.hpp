// One shader text captured in memory by the scene interface.
#pragma once

#include <cstddef>

struct CaptureBuffer {
    char* data = nullptr;  // always zero-terminated once storage exists
    int length = 0;
    int capacity = -1;  // -1: no storage yet
    bool binary = false;

    CaptureBuffer() = default;
    CaptureBuffer(const CaptureBuffer&) = delete;
    CaptureBuffer& operator=(const CaptureBuffer&) = delete;
    ~CaptureBuffer();

    // Appends text; a length of 0 means up to the terminating zero byte.
    // An explicit positive length marks the buffer binary.
    // The bytes may lie in this buffer itself: they are copied before the old storage goes.
    void append(const char* bytes, size_t n = 0);
    // Appends one 4-byte word of binary data.
    void appendWord(const void* word);
    // Appends n bytes of text (as if up to their zero byte): leaves the binary flag alone.
    void appendText(const char* text, size_t n);

    const char* text() const { return data ? data : ""; }
    // Whether any of the n bytes at p lie in this buffer's storage, which any append may move.
    bool overlaps(const void* p, size_t n) const;

  private:
    char* reserve(size_t needed, size_t newCapacity, const void* source, size_t n);
};
