// The fast number formatting agrees with printf byte for byte: on each exponent, the rounding
// ties, the extremes and the non-finite values of floats and doubles, the integer lengths and
// a random sample. (The tool check-float-format compares every float.)
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "sceneapi/NumberFormat.hpp"

namespace {

using namespace vex::numfmt;

// printf's text, with a NaN's sign spelled as glibc and the writer spell it ("-nan"), which
// some Windows runtimes drop.
std::string viaPrintf(const char* format, double v) {
    char buf[400];
    std::string text(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, format, v)));
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

// Every form the writer uses: for v and -v, and for the integer i as int and as unsigned.
void expectSameAsPrintf(double v, int64_t i = 0) {
    for (const double d : {v, -v}) {
        ASSERT_EQ(ours(formatG, d), viaPrintf("%g", d)) << std::hexfloat << d;
        if (const auto f = static_cast<float>(d); static_cast<double>(f) == d || std::isnan(d)) {
            ASSERT_EQ(ours(formatFloatG, f), viaPrintf("%g", f)) << std::hexfloat << f;
        }
        ASSERT_EQ(ours(formatFixed16, d), viaPrintf("%16.16f", d)) << std::hexfloat << d;
        ASSERT_EQ(ours(formatFixed3, d), viaPrintf("%.3f", d)) << std::hexfloat << d;
    }
    char buf[kMaxInt];
    const auto n = static_cast<int32_t>(i);
    ASSERT_EQ(std::string(buf, formatInt(buf, n)), std::to_string(n));
    ASSERT_EQ(std::string(buf, formatUnsigned(buf, uint32_t(n))), std::to_string(uint32_t(n)));
}

TEST(NumberFormat, MatchesPrintf) {
    std::vector<double> values = {
        0.0, INFINITY, std::nan(""), DBL_MAX, DBL_MIN, DBL_TRUE_MIN, FLT_MAX, FLT_MIN, FLT_TRUE_MIN,
        std::nextafter(FLT_MAX, 0.0), std::nextafter(FLT_MIN, 0.0), 2 * FLT_TRUE_MIN,
        std::bit_cast<float>(0x7fc12345u),  // NaN with a payload
        // Exact ties of the sixth digit in floats, rounded to even both ways, and carries.
        0.1015625, 0.1171875, 123456.5, 123457.5, 999999.5, 1000005, 1000015, 9999995, 99999.95f,
        0.00009999995f, 1e-5f, 0.0001f,
        // Doubles near ties, which the double path decides exactly.
        1234565.0, 1234575.0, 0.1234565, 999999.4999999, 0.00009999995, 0.000099999949,
        999999.0};  // the largest in fixed notation; powers of ten follow
    // Every float exponent with the smallest, middle and largest mantissas.
    for (uint32_t biased = 0; biased < 255; ++biased)
        for (uint32_t mantissa : {0u, 1u, 0x400000u, 0x4CCCCDu, 0x7FFFFFu})
            values.push_back(std::bit_cast<float>(biased << 23 | mantissa));
    // Every double exponent; powers of ten and their neighbours across the double range.
    for (int e = -1075; e <= 1024; ++e) values.push_back(std::ldexp(1.0, e));
    for (int e = -330; e <= 310; ++e)
        for (double m : {1.0, 9.999995, 9.9999949, 9.9999951, 5.0, 2.5, 1.0000005, 1.23456789}) {
            const auto f = static_cast<float>(m * std::pow(10.0, e));
            values.insert(values.end(), {m * std::pow(10.0, e), f, std::nextafter(f, 0.0f)});
        }
    for (int i = -2000; i <= 2000; ++i) values.insert(values.end(), {i + 0.0, i + 0.5, i / 8.0});
    for (double v : values) expectSameAsPrintf(v);
    // Every length of integer, at both ends, and the extremes.
    for (int64_t p = 1; p <= 10000000000; p *= 10)
        for (int64_t v : {p - 1, p, p + 1, 2 * p - 1, 5 * p, -p, -p - 1, int64_t{INT32_MIN},
                          int64_t{INT32_MAX}})
            expectSameAsPrintf(0, v);
    std::mt19937_64 rng(20261207);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = rng();
        expectSameAsPrintf(std::bit_cast<float>(static_cast<uint32_t>(bits)), int64_t(bits >> 32));
        expectSameAsPrintf(std::bit_cast<double>(bits), int64_t(bits >> (32 + bits % 32)));
    }
    // Six-digit ties of doubles and their neighbours, one ulp at a time.
    for (int i = 0; i < 5000; ++i) {
        double v = (100000 + rng() % 900000 + 0.5) * std::pow(10.0, int(rng() % 40) - 25);
        for (int k = 0; k < 3; ++k) v = std::nextafter(v, 0.0);
        for (int k = 0; k < 7; ++k, v = std::nextafter(v, INFINITY)) expectSameAsPrintf(v);
    }
}

}  // namespace
