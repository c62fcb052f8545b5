// Conversion of the number texts of a scene file. The writer prints "%g", "%16.16f" and int32
// texts; those shapes are read here in one pass with exact arithmetic, everything else goes
// through std::from_chars. Either way the result is the correctly rounded value, the same bits
// as strtod gives.
#pragma once

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace vex::numtext {

struct Number {
    bool isInt = false;  // an integer literal that fits in 64 bits ("-0" is not one)
    int64_t i = 0;
    double d = 0;  // when !isInt
};

// [0-9A-Za-z.+-]: the bytes that continue a number token.
struct CharTable {
    bool num[256]{};
    constexpr CharTable() {
        for (int c = 0; c < 256; ++c)
            num[c] = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                     c == '.' || c == '+' || c == '-';
    }
};
inline constexpr CharTable kChars;

inline bool continuesNumber(char c) {
    return kChars.num[static_cast<unsigned char>(c)];
}

// Powers of ten that a double holds exactly.
inline constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr uint64_t kExactMantissa = uint64_t{1} << 53;
inline constexpr uint64_t kPow10Int[] = {1,
                                         10,
                                         100,
                                         1000,
                                         10000,
                                         100000,
                                         1000000,
                                         10000000,
                                         100000000,
                                         1000000000,
                                         10000000000,
                                         100000000000,
                                         1000000000000,
                                         10000000000000,
                                         100000000000000,
                                         1000000000000000};

// The decimal digits at the start of the 8 bytes at p: their count (0 to 8) and their value.
// One load and a few multiplications, where a loop's exit would mispredict on most numbers.
[[gnu::always_inline]] inline unsigned eightDigits(const char* p, uint64_t& value) noexcept {
    uint64_t v;
    std::memcpy(&v, p, 8);  // p[0] in the low byte: only used on little-endian machines
    const uint64_t x = v ^ 0x3030303030303030u;  // a digit byte becomes 0..9
    // A byte is no digit when its high nibble is set or its low nibble exceeds 9; the sums stay
    // below 0x16, so no carry crosses into the next byte.
    const uint64_t bad = (x & 0xF0F0F0F0F0F0F0F0u) |
                         (((x & 0x0F0F0F0F0F0F0F0Fu) + 0x0606060606060606u) & 0x1010101010101010u);
    const unsigned n = bad == 0 ? 8 : static_cast<unsigned>(std::countr_zero(bad)) / 8;
    // The n digits move to the top bytes; the zero bytes below them act as leading zeros.
    uint64_t d = n == 0 ? 0 : x << (64 - 8 * n);
    d = d * 10 + (d >> 8);  // each byte pair holds two digits' value
    d = (((d & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32))) +
         (((d >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32)))) >>
        32;
    value = d;
    return n;
}

// Appends the digits at p to w and returns their count; w wraps around past 19 digits, which
// the caller refuses.
[[gnu::always_inline]] inline size_t readDigits(const char*& p, const char* end,
                                                uint64_t& w) noexcept {
    const char* const first = p;
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            uint64_t chunk;
            const unsigned n = eightDigits(p, chunk);
            w = w * kPow10Int[n] + chunk;
            p += n;
            if (n < 8) return static_cast<size_t>(p - first);
        }
    }
    while (p != end && static_cast<unsigned>(*p - '0') < 10) {
        w = w * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    return static_cast<size_t>(p - first);
}

// Reads the number that starts at p, up to the first byte that cannot continue it, when it is
// -?D*(.D*)?([eE][+-]?D{1,3})? with 1 to 19 digits before the exponent and its value can be
// formed with one correctly rounded operation. Returns its end, or nullptr when the text needs
// the general conversion (other shapes, malformed texts, larger or smaller magnitudes). A
// number that runs to `end` is read as if the input ended there.
[[gnu::always_inline]] inline const char* parseFast(const char* p, const char* end,
                                                    Number& out) noexcept {
    const bool neg = *p == '-';
    p += neg;
    uint64_t w = 0;
    size_t count = readDigits(p, end, w);
    int e10 = 0;
    bool integer = true;
    if (p != end && *p == '.') {
        integer = false;
        ++p;
        const size_t fraction = readDigits(p, end, w);
        e10 = -static_cast<int>(fraction);
        count += fraction;
    }
    // 19 digits stay below 2^64; the count must be checked before w is used.
    if (count == 0 || count > 19) return nullptr;
    if (p != end && (*p == 'e' || *p == 'E')) {
        integer = false;
        ++p;
        bool negExp = false;
        if (p != end && (*p == '-' || *p == '+')) {
            negExp = *p == '-';
            ++p;
        }
        const char* const x = p;
        int e = 0;
        while (p != end && p - x < 3 && static_cast<unsigned>(*p - '0') < 10) {
            e = e * 10 + (*p - '0');
            ++p;
        }
        if (p == x) return nullptr;
        e10 += negExp ? -e : e;
    }
    if (p != end && continuesNumber(*p)) return nullptr;
    if (integer && !(neg && w == 0)) {
        const uint64_t limit = uint64_t{std::numeric_limits<int64_t>::max()} + (neg ? 1 : 0);
        if (w <= limit) {
            out.isInt = true;
            // Modular conversion: -2^63 comes out right as well.
            out.i = static_cast<int64_t>(neg ? uint64_t{0} - w : w);
            return p;
        }
    }
    // Extended-precision evaluation (x87) would round twice; such targets take from_chars.
    if constexpr (FLT_EVAL_METHOD != 0) return nullptr;
    out.isInt = false;
    if (w == 0) {
        out.d = neg ? -0.0 : 0.0;
        return p;
    }
    if (w > kExactMantissa) {
        // Trailing zeros of "%16.16f" texts carry no digits of the value.
        while (w % 10 == 0) {
            w /= 10;
            ++e10;
        }
        if (w > kExactMantissa) return nullptr;
    }
    // w and 10^|e10| are exact doubles, so one IEEE multiplication or division rounds the
    // exact decimal value correctly (in the default rounding mode, as strtod assumes too).
    double v = static_cast<double>(w);
    if (e10 < 0) {
        if (e10 < -22) return nullptr;
        v /= kExactPow10[-e10];
    } else if (e10 > 0) {
        if (e10 > 22) {
            // A short mantissa leaves room to move some of the power into it exactly.
            const int move = e10 - 22;
            if (move > 15 || w > kExactMantissa / kPow10Int[move]) return nullptr;
            v = static_cast<double>(w * kPow10Int[move]) * kExactPow10[22];
        } else {
            v *= kExactPow10[e10];
        }
    }
    out.d = neg ? -v : v;
    return p;
}

enum class Status : uint8_t { Ok, Malformed, OutOfRange };

// The whole token [b, e): an integer when the text is one that fits in 64 bits (except "-0",
// which keeps its sign as a double), else a double.
inline Status parse(const char* b, const char* e, Number& out) noexcept {
    if (b == e) return Status::Malformed;
    if (parseFast(b, e, out) == e) return Status::Ok;
    int64_t iv = 0;
    const auto ri = std::from_chars(b, e, iv);
    if (ri.ec == std::errc() && ri.ptr == e && !(iv == 0 && *b == '-')) {
        out.isInt = true;
        out.i = iv;
        return Status::Ok;
    }
    double dv = 0;
    const auto rd = std::from_chars(b, e, dv);
    if (rd.ec == std::errc::result_out_of_range && rd.ptr == e) return Status::OutOfRange;
    if (rd.ec != std::errc() || rd.ptr != e) return Status::Malformed;
    out.isInt = false;
    out.d = dv;
    return Status::Ok;
}

}  // namespace vex::numtext
