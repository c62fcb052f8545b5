// The fast number formatting must agree with printf byte for byte on every value. The tool
// check-float-format compares every float; these cases cover each exponent, the rounding ties,
// the extremes and the non-finite values of floats and doubles, and the integer lengths.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "sceneapi/NumberFormat.hpp"

namespace {

using namespace vex::numfmt;

// The C library's text. A NaN's sign is spelled as glibc spells it ("-nan"), which is what the
// writer writes everywhere; some Windows runtimes drop it.
std::string viaPrintf(const char* format, double v) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, format, v);
    std::string text(buf, static_cast<size_t>(n));
    if (std::isnan(v) && std::signbit(v) && text.find('-') == std::string::npos) {
        text.insert(text.find('n'), 1, '-');
        if (text[0] == ' ') text.erase(0, 1);  // the field keeps its width
    }
    return text;
}

template <class T>
std::string ours(char* (*f)(char*, T) noexcept, T v) {
    char buf[kMaxFixed + 8];
    return std::string(buf, f(buf, v));
}

float floatFromBits(uint32_t bits) {
    return std::bit_cast<float>(bits);
}

// Every printf form the writer uses for one value; the float path too when v is a float's value.
void expectSameAsPrintf(double v) {
    ASSERT_EQ(ours(formatG, v), viaPrintf("%g", v)) << std::hexfloat << v;
    const auto f = static_cast<float>(v);
    if (static_cast<double>(f) == v || std::isnan(v)) {
        ASSERT_EQ(ours(formatFloatG, f), viaPrintf("%g", f)) << std::hexfloat << f;
    }
    ASSERT_EQ(ours(formatFixed16, v), viaPrintf("%16.16f", v)) << std::hexfloat << v;
    ASSERT_EQ(ours(formatFixed3, v), viaPrintf("%.3f", v)) << std::hexfloat << v;
}

void expectSameAsPrintf(int64_t v) {
    char buf[kMaxInt], expected[32];
    if (v >= INT32_MIN && v <= INT32_MAX) {
        std::snprintf(expected, sizeof expected, "%d", static_cast<int32_t>(v));
        ASSERT_EQ(std::string(buf, formatInt(buf, static_cast<int32_t>(v))), expected);
    }
    if (v >= 0 && v <= UINT32_MAX) {
        std::snprintf(expected, sizeof expected, "%u", static_cast<uint32_t>(v));
        ASSERT_EQ(std::string(buf, formatUnsigned(buf, static_cast<uint32_t>(v))), expected);
    }
}

TEST(NumberFormat, MatchesPrintfOnEdgeValues) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {
        0.0, inf, std::nan(""), DBL_MAX, DBL_MIN, DBL_TRUE_MIN, FLT_MAX, FLT_MIN, FLT_TRUE_MIN,
        std::nextafter(FLT_MAX, 0.0), std::nextafter(FLT_MIN, 0.0), 2 * FLT_TRUE_MIN,
        floatFromBits(0x7fc12345),  // NaN with a payload
        // Exact ties of the sixth digit in floats, rounded to even both ways, and carries.
        0.1015625, 0.1171875, 123456.5, 123457.5, 999999.5, 1000005, 1000015, 9999995, 99999.95f,
        0.00009999995f, 1e-5f, 0.0001f,
        // Doubles near ties, which the double path decides exactly.
        1234565.0, 1234575.0, 0.1234565, 999999.4999999, 0.00009999995, 0.000099999949,
        // Fixed against exponent notation.
        100000.0, 999999.0, 1e6, 1e15, 1e16, 1e17, 1e22, 1e23, 0.0001, 0.00001, 5e-324};
    // Every float exponent with the smallest, middle and largest mantissas.
    for (uint32_t biased = 0; biased < 255; ++biased)
        for (uint32_t mantissa : {0u, 1u, 0x400000u, 0x4CCCCDu, 0x7FFFFFu})
            values.push_back(floatFromBits(biased << 23 | mantissa));
    // Every double exponent; powers of ten and their neighbours across the double range.
    for (int e = -1075; e <= 1024; ++e) values.push_back(std::ldexp(1.0, e));
    for (int e = -330; e <= 310; ++e)
        for (double m : {1.0, 9.999995, 9.9999949, 9.9999951, 5.0, 2.5, 1.0000005, 1.23456789}) {
            values.push_back(m * std::pow(10.0, e));
            values.push_back(static_cast<float>(m * std::pow(10.0, e)));
            values.push_back(std::nextafter(static_cast<float>(m * std::pow(10.0, e)), 0.0f));
        }
    for (int i = -2000; i <= 2000; ++i) {
        values.push_back(i);
        values.push_back(i + 0.5);
        values.push_back(i / 8.0);
    }
    for (double v : values) {
        expectSameAsPrintf(v);
        expectSameAsPrintf(-v);  // printf's "-nan" too
    }

    // Every length of integer, at both ends, and the extremes.
    std::vector<int64_t> ints = {0, INT32_MIN, INT32_MAX, UINT32_MAX};
    for (int64_t p = 1; p <= 10000000000; p *= 10)
        for (int64_t v : {p - 1, p, p + 1, 2 * p - 1, 5 * p}) ints.insert(ints.end(), {v, -v});
    for (int64_t v : ints) expectSameAsPrintf(v);
}

TEST(NumberFormat, MatchesPrintfOnRandomSample) {
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> coordinate(-5e3, 5e3);
    for (int i = 0; i < 40000; ++i) {
        const uint64_t bits = rng();
        expectSameAsPrintf(static_cast<double>(floatFromBits(static_cast<uint32_t>(bits))));
        expectSameAsPrintf(std::bit_cast<double>(bits));
        expectSameAsPrintf(static_cast<double>(static_cast<float>(coordinate(rng))));
        expectSameAsPrintf(static_cast<int64_t>(static_cast<int32_t>(bits >> 32)));
        expectSameAsPrintf(static_cast<int64_t>(bits >> (32 + bits % 32)));
    }
    // Six-digit ties of doubles and their neighbours, one ulp at a time.
    for (int i = 0; i < 5000; ++i) {
        const auto digits = static_cast<double>(100000 + rng() % 900000);
        const double tie = (digits + 0.5) * std::pow(10.0, static_cast<int>(rng() % 40) - 25);
        double v = tie;
        for (int k = 0; k < 3; ++k) v = std::nextafter(v, 0.0);
        for (int k = 0; k < 7; ++k, v = std::nextafter(v, INFINITY)) expectSameAsPrintf(v);
    }
}

}  // namespace
