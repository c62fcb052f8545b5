// The fast number formatting must agree with printf byte for byte on every value.
#include <gtest/gtest.h>

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

std::string viaPrintf(const char* format, double v) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, format, v);
    return std::string(buf, static_cast<size_t>(n));
}

std::string ours(char* (*f)(char*, double) noexcept, double v) {
    char buf[kMaxFixed + 8];
    char* end = f(buf, v);
    return std::string(buf, static_cast<size_t>(end - buf));
}

// Values that stress the rounding and notation boundaries of "%g".
std::vector<double> edgeValues() {
    std::vector<double> v = {0.0,
                             -0.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             DBL_MAX,
                             -DBL_MAX,
                             DBL_MIN,
                             DBL_TRUE_MIN,
                             -DBL_TRUE_MIN,
                             FLT_MAX,
                             FLT_MIN,
                             FLT_TRUE_MIN,
                             3.4028235e38,
                             1234565.0,  // exact ties round to even
                             1234575.0,
                             0.1234565,
                             999999.5,
                             999999.4999999,
                             9999995.0,
                             99999.95,
                             0.0001,
                             0.00009999995,
                             0.000099999949,
                             1e-5,
                             123456.5,
                             100000.0,
                             1e6,
                             1e15,
                             1e16,
                             1e17,
                             1e22,
                             1e23,
                             5e-324};
    for (int i = -2000; i <= 2000; ++i) {
        v.push_back(i);
        v.push_back(i + 0.5);
        v.push_back(i / 8.0);
    }
    for (int e = -330; e <= 310; ++e) {
        const double p = std::pow(10.0, e);
        for (double m : {1.0, 9.999995, 9.9999949, 9.9999951, 5.0, 2.5, 1.0000005, 1.23456789})
            v.push_back(m * p);
    }
    for (int e = -1075; e <= 1024; ++e) v.push_back(std::ldexp(1.0, e));
    return v;
}

TEST(NumberFormat, GeneralMatchesPrintfOnEdgeValues) {
    for (double v : edgeValues()) {
        ASSERT_EQ(ours(formatG, v), viaPrintf("%g", v)) << std::hexfloat << v;
        ASSERT_EQ(ours(formatG, -v), viaPrintf("%g", -v)) << std::hexfloat << -v;
    }
}

TEST(NumberFormat, GeneralMatchesPrintfOnRandomFloatsAndDoubles) {
    std::mt19937_64 rng(20261207);
    for (int i = 0; i < 400000; ++i) {
        // Every bit pattern of a float, promoted exactly as printf receives it.
        const auto bits = static_cast<uint32_t>(rng());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        ASSERT_EQ(ours(formatG, f), viaPrintf("%g", f)) << std::hexfloat << f;
        // Mesh-like coordinates.
        const float c = static_cast<float>(std::uniform_real_distribution<double>(-5e3, 5e3)(rng));
        ASSERT_EQ(ours(formatG, c), viaPrintf("%g", c)) << std::hexfloat << c;
        const uint64_t dbits = rng();
        double d;
        std::memcpy(&d, &dbits, sizeof d);
        ASSERT_EQ(ours(formatG, d), viaPrintf("%g", d)) << std::hexfloat << d;
    }
}

TEST(NumberFormat, GeneralMatchesPrintfNearRoundingTies) {
    // Six-digit ties and their neighbours, one ulp at a time.
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const int digits = 100000 + static_cast<int>(rng() % 900000);
        const int e = static_cast<int>(rng() % 40) - 20;
        const double tie = (digits + 0.5) * std::pow(10.0, e - 5);
        double v = tie;
        for (int k = 0; k < 3; ++k) v = std::nextafter(v, 0.0);
        for (int k = 0; k < 7; ++k, v = std::nextafter(v, INFINITY))
            ASSERT_EQ(ours(formatG, v), viaPrintf("%g", v)) << std::hexfloat << v;
        const float f = static_cast<float>(tie);
        ASSERT_EQ(ours(formatG, f), viaPrintf("%g", f)) << std::hexfloat << f;
    }
}

TEST(NumberFormat, FixedFormsMatchPrintf) {
    std::mt19937_64 rng(42);
    std::vector<double> values = edgeValues();
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        values.push_back(d);
        values.push_back(std::uniform_real_distribution<double>(-10, 10)(rng));
    }
    for (double v : values) {
        ASSERT_EQ(ours(formatFixed16, v), viaPrintf("%16.16f", v)) << std::hexfloat << v;
        ASSERT_EQ(ours(formatFixed3, v), viaPrintf("%.3f", v)) << std::hexfloat << v;
    }
}

TEST(NumberFormat, Integers) {
    char buf[kMaxInt];
    for (int32_t v : {0, 1, -1, 42, INT32_MAX, INT32_MIN})
        EXPECT_EQ(std::string(buf, formatInt(buf, v)), std::to_string(v));
    for (uint32_t v : {0u, 7u, UINT32_MAX})
        EXPECT_EQ(std::string(buf, formatUnsigned(buf, v)), std::to_string(v));
}

}  // namespace
