// Virtual-table entries of members under the Itanium C++ ABI, for tests that pin a
// binary contract: a pointer to a virtual member holds 1 + the byte offset of its entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vex::test {

// Index of the member's virtual-table entry, or -1 when it is not virtual.
template <class Pmf>
long entryOf(Pmf pmf) {
    struct Itanium {
        uintptr_t ptr;
        ptrdiff_t adj;
    } raw;
    static_assert(sizeof(Pmf) == sizeof(Itanium));
    std::memcpy(&raw, &pmf, sizeof raw);
    if ((raw.ptr & 1) == 0) return -1;
    return static_cast<long>((raw.ptr - 1) / sizeof(void*));
}

// `MemberOf<C, bool(int)>` is `bool (C::*)(int)`: casting to it pins the exact signature.
template <class C, class F>
using MemberOf = F C::*;

}  // namespace vex::test
