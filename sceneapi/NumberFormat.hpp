// Number formatting byte-identical to printf under the "C" locale, without
// printf's per-call cost. Each function writes into `out` and returns the end; the buffer must
// hold the function's maximum (kMaxG, kMaxFixed, kMaxInt), which "%g" may use as scratch
// beyond the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vex::numfmt {

// Enough for any "%g" result (for example "-1.23457e-308").
inline constexpr size_t kMaxG = 16;
// Enough for any "%16.16f" or "%.3f" result: 309 integer digits, sign, point, 16 decimals.
inline constexpr size_t kMaxFixed = 330;
inline constexpr size_t kMaxInt = 12;

// printf("%g", v). Floats, and doubles that hold a float's value, are formatted in integer
// arithmetic; other doubles keep a path that is exact at every tie.
char* formatFloatG(char* out, float v) noexcept;
char* formatG(char* out, double v) noexcept;
// `groups` groups of `width` floats, each printf("%g"), with a space between the values of a
// group and a comma after each group: a line of a float array at once. The buffer must hold
// groups * width * kMaxG bytes.
char* formatFloatGGroups(char* out, const float* v, uint32_t groups, int width) noexcept;
// printf("%16.16f", v)
char* formatFixed16(char* out, double v) noexcept;
// printf("%.3f", v)
char* formatFixed3(char* out, double v) noexcept;
// printf("%d", v) and printf("%u", v), inline: mesh indices are most of a scene file's numbers.
inline char* formatUnsigned(char* out, uint32_t v) noexcept;
inline char* formatInt(char* out, int32_t v) noexcept;

namespace detail {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Two digits of v < 100.
inline void putPair(char* out, uint32_t v) noexcept {
    std::memcpy(out, kDigitPairs + 2 * v, 2);
}

inline uint64_t pairWord(uint32_t v) noexcept {
    uint16_t pair;
    std::memcpy(&pair, kDigitPairs + 2 * v, 2);
    return pair;
}

// v < 10000 without leading zeros.
inline char* upTo4(char* out, uint32_t v) noexcept {
    if (v < 100) {
        if (v < 10) {
            *out = static_cast<char>('0' + v);
            return out + 1;
        }
        putPair(out, v);
        return out + 2;
    }
    const uint32_t high = v / 100;
    if (high < 10) {
        *out++ = static_cast<char>('0' + high);
    } else {
        putPair(out, high);
        out += 2;
    }
    putPair(out, v - high * 100);
    return out + 2;
}

// The four digits of v < 10000, leading zeros included.
inline char* exactly4(char* out, uint32_t v) noexcept {
    const uint32_t high = v / 100;
    putPair(out, high);
    putPair(out + 2, v - high * 100);
    return out + 4;
}

}  // namespace detail

// Two digits at a time from the table, in groups of four from the front. The branches on the
// length are predictable in a large mesh, whose indices mostly have the same number of digits.
inline char* formatUnsigned(char* out, uint32_t v) noexcept {
    if (v < 10000) return detail::upTo4(out, v);
    if (v < 100000000) {
        const uint32_t high = v / 10000;
        return detail::exactly4(detail::upTo4(out, high), v - high * 10000);
    }
    const uint32_t top = v / 100000000;  // 1..42
    const uint32_t rest = v - top * 100000000;
    const uint32_t middle = rest / 10000;
    out = detail::upTo4(out, top);
    return detail::exactly4(detail::exactly4(out, middle), rest - middle * 10000);
}

// A branch for the sign: the ints written are almost all indices, never negative, and the
// branch costs less than computing the sign's byte into every number.
inline char* formatInt(char* out, int32_t v) noexcept {
    auto u = static_cast<uint32_t>(v);
    if (v < 0) [[unlikely]] {
        *out++ = '-';
        u = 0u - u;
    }
    return formatUnsigned(out, u);
}

}  // namespace vex::numfmt
