#include "sceneapi/NumberFormat.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vex::numfmt {
namespace {

// Exact powers of ten representable in a double.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// glibc spells non-finite values in lower case with a sign for negative NaN.
char* nonFinite(char* out, double v) noexcept {
    const char* text =
        std::isnan(v) ? (std::signbit(v) ? "-nan" : "nan") : (v < 0 ? "-inf" : "inf");
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

char* exactG(char* out, double v) noexcept {
    return std::to_chars(out, out + kMaxG, v, std::chars_format::general, 6).ptr;
}

// a * 10^k with a single rounding; |k| <= 22.
inline double scaleBy(double a, int k) noexcept {
    return k >= 0 ? a * kPow10[k] : a / kPow10[-k];
}

}  // namespace

char* formatG(char* out, double v) noexcept {
    if (!std::isfinite(v)) return nonFinite(out, v);
    if (v == 0) {
        if (std::signbit(v)) *out++ = '-';
        *out++ = '0';
        return out;
    }
    const double a = std::fabs(v);
    int e2 = 0;
    std::frexp(a, &e2);  // a in [2^(e2-1), 2^e2)
    // floor(log10(2^(e2-1))): equal to floor(log10(a)) or one less.
    int e10 = ((e2 - 1) * 78913) >> 18;
    int k = 5 - e10;
    if (k < -21 || k > 22) return exactG(out, v);  // keeps k - 1 within the table
    double scaled = scaleBy(a, k);
    if (scaled >= 1e6) {
        ++e10;
        --k;
        scaled = scaleBy(a, k);
    }
    // scaled carries a relative error of at most 2^-53 (below 1.2e-9 absolute), so
    // rounding it agrees with rounding the exact value unless that lies this close to a tie.
    double whole = std::floor(scaled);
    const double frac = scaled - whole;
    if (std::fabs(frac - 0.5) < 1e-6) return exactG(out, v);
    auto digits = static_cast<uint32_t>(whole) + (frac > 0.5 ? 1u : 0u);
    if (digits >= 1000000u) {
        digits /= 10;
        ++e10;
    }
    if (digits < 100000u) return exactG(out, v);  // not reachable; keeps exactness

    char d[6];
    for (int i = 5; i >= 0; --i) {
        d[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int last = 5;  // index of the last significant digit after removing trailing zeros
    while (last > 0 && d[last] == '0') --last;

    if (v < 0) *out++ = '-';
    if (e10 >= -4 && e10 < 6) {
        if (e10 >= 0) {
            for (int i = 0; i <= e10; ++i) *out++ = d[i];
            if (last > e10) {
                *out++ = '.';
                for (int i = e10 + 1; i <= last; ++i) *out++ = d[i];
            }
        } else {
            *out++ = '0';
            *out++ = '.';
            for (int i = -1; i > e10; --i) *out++ = '0';
            for (int i = 0; i <= last; ++i) *out++ = d[i];
        }
        return out;
    }
    *out++ = d[0];
    if (last > 0) {
        *out++ = '.';
        for (int i = 1; i <= last; ++i) *out++ = d[i];
    }
    *out++ = 'e';
    int x = e10;
    if (x < 0) {
        *out++ = '-';
        x = -x;
    } else {
        *out++ = '+';
    }
    if (x >= 100) {
        *out++ = static_cast<char>('0' + x / 100);
        x %= 100;
    }
    *out++ = static_cast<char>('0' + x / 10);
    *out++ = static_cast<char>('0' + x % 10);
    return out;
}

char* formatFixed16(char* out, double v) noexcept {
    if (!std::isfinite(v)) {
        char text[8];
        const size_t n = static_cast<size_t>(nonFinite(text, v) - text);
        std::memset(out, ' ', 16 - n);  // field width 16, right-aligned
        std::memcpy(out + 16 - n, text, n);
        return out + 16;
    }
    // Finite values always exceed the field width ("0." and 16 decimals).
    return std::to_chars(out, out + kMaxFixed, v, std::chars_format::fixed, 16).ptr;
}

char* formatFixed3(char* out, double v) noexcept {
    if (!std::isfinite(v)) return nonFinite(out, v);
    return std::to_chars(out, out + kMaxFixed, v, std::chars_format::fixed, 3).ptr;
}

char* formatInt(char* out, int32_t v) noexcept {
    return std::to_chars(out, out + kMaxInt, v).ptr;
}

char* formatUnsigned(char* out, uint32_t v) noexcept {
    return std::to_chars(out, out + kMaxInt, v).ptr;
}

}  // namespace vex::numfmt
