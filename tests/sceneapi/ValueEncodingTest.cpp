// Exact text and binary forms of every value type code, arrays and lists.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <tuple>

#include "support/WriterHarness.hpp"

namespace {

using vex::test::bytes;
using vex::test::writerOutput;
using W = vexScene_api_file;

// The value as written in parameter form at level 0 (between `"v" ` and `,\n`).
std::string value(int32_t code, const void* v, bool binary = false) {
    const std::string out = writerOutput([&](W& w) { w.set_value("v", code, v); }, binary ? 3 : 1);
    EXPECT_EQ(out.substr(0, 4), "\"v\" ");
    EXPECT_EQ(out.substr(out.size() - 2), ",\n");
    return out.substr(4, out.size() - 6);
}

// The array descriptor counts elements: triples for 0x8001 and 0x8005, quadruples for 0x8002.
template <class T>
std::string array(int32_t code, const std::vector<T>& v, bool binary = false) {
    const size_t per = (code == kFloat3Array || code == kDouble3Array) ? 3
                       : code == kFloat4Array                          ? 4
                                                                       : 1;
    const SceneArray a{v.data(), static_cast<uint32_t>(v.size() / per)};
    return value(code, &a, binary);
}

TEST(ValueEncoding, Scalars) {
    const float f2[2] = {0.5f, -2};
    const float f3[3] = {1, 2.5f, 1e-7f};
    const float f4[4] = {1, 2, 3, 4};
    const double d3[3] = {0.1, 1e300, -0.0};
    const int32_t i4[4] = {-1, 0, 2147483647, -2147483647 - 1};
    double m[16];
    for (int i = 0; i < 16; ++i) m[i] = i + 0.1;
    EXPECT_EQ(value(kFloat3, f3), "1 2.5 1e-07");
    EXPECT_EQ(value(kFloat4, f4), "1 2 3 4");
    EXPECT_EQ(value(kColor4, f4), "1 2 3 4");
    EXPECT_EQ(value(kFloat2, f2), "0.5 -2");
    EXPECT_EQ(value(kDouble3, d3), "0.1 1e+300 -0");
    EXPECT_EQ(value(kInt, i4), "-1");
    EXPECT_EQ(value(kInt23, i4 + 2), "2147483647");
    EXPECT_EQ(value(kInt2, i4), "-1 0");
    EXPECT_EQ(value(kInt3, i4), "-1 0 2147483647");
    EXPECT_EQ(value(kInt4, i4), "-1 0 2147483647 -2147483648");
    EXPECT_EQ(value(kMatrix, m),
              "0.1 1.1 2.1 3.1 4.1 5.1 6.1 7.1 8.1 9.1 10.1 11.1 12.1 13.1 14.1 15.1");
    const double half = 0.5, big = 1e20, inf = INFINITY;
    EXPECT_EQ(value(kDouble, &half), "0.5000000000000000");
    EXPECT_EQ(value(kDouble, &big), "100000000000000000000.0000000000000000");
    EXPECT_EQ(value(kDouble, &inf), "             inf");  // code 4 is not filtered
    const char* text = "tex ture";
    EXPECT_EQ(value(kString, text), "\"tex ture\"");
    EXPECT_EQ(value(kStringRef, &text), "\"tex ture\"");
    EXPECT_EQ(value(kString, "\xc3\xa9"), "xXc3a9");
}

TEST(ValueEncoding, BooleansAndTheNonFiniteRule) {
    for (int32_t v : {1, 2, -1}) EXPECT_EQ(value(kBool, &v), "on");
    const int32_t zero = 0;
    EXPECT_EQ(value(kBool, &zero), "off");
    for (float f : {INFINITY, -INFINITY, NAN, FLT_MAX, -FLT_MAX})
        EXPECT_EQ(value(kFloat, &f), "-1") << f;
    for (float f : {std::nextafter(FLT_MAX, 0.f), 1.5f, -0.f})
        EXPECT_EQ(value(kFloat, &f), f == 1.5f ? "1.5" : (f == 0 ? "-0" : "3.40282e+38"));
}

TEST(ValueEncoding, CodesWithoutTextFormWriteOnlyTheFrame) {
    const int32_t one = 1;
    const SceneArray a{&one, 1};
    for (int32_t code : {0, 8, 11, 12, 19, 20, 21, 22, 24, 0x2000})
        EXPECT_EQ(value(code, &one), "") << code;
    for (int32_t code : {0x8000, 0x8008, 0x800B, 0x800E, 0x8010, 0x8011, 0x8012})
        EXPECT_EQ(value(code, &a), "") << code;
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_group("g", true);
                  w.set_value("s", 8, &one);
                  w.end_group();
              }),
              "\ngroup \"g\" {\n s \n}\n");
}

TEST(ValueEncoding, CapturedTextValueIsAlwaysIndentedByTwo) {
    const int32_t one = 1;
    EXPECT_EQ(writerOutput([&](W& w) {
                  for (int i = 0; i < 5; ++i) w.begin_load("l");
                  w.begin_shader(nullptr, "env");
                  w.set_value("k", kInt, &one);
                  w.end_shader();
                  CaptureBuffer* text = w.captured_text();
                  w.set_value("reflection map", kCapturedText, &text);
              }),
              "load \"l\" {\n load \"l\" {\n  load \"l\" {\n   load \"l\" {\n    load \"l\" {\n"
              "     \"reflection map\"   \"env\" {\n   \"k\" 1,\n  },\n");
}

TEST(ValueEncoding, TextArraysBreakAfterNineThenEveryEight) {
    std::vector<int> ten(10), seventeen(17);
    std::iota(ten.begin(), ten.end(), 0);
    std::iota(seventeen.begin(), seventeen.end(), 0);
    EXPECT_EQ(array(kIntArray, ten), "[ 0,1,2,3,4,5,6,7,8,\n9 ] ");
    EXPECT_EQ(array(kIntArray, seventeen), "[ 0,1,2,3,4,5,6,7,8,\n9,10,11,12,13,14,15,16 \n] ");
    // Continuation lines carry the indentation of the enclosing level.
    const SceneArray a{ten.data(), 10};
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_geometry("m");
                  w.begin_geometry("n");
                  w.set_value("t", kInt23Array, &a);
              }),
              "geometry \"m\" {\n geometry \"n\" {\n  \"t\" [ 0,1,2,3,4,5,6,7,8,\n  9 ] ,\n");
    // Deeper than 64 levels, and with indentation off (mode flag 0x400000).
    const auto nested = [&](int mode) {
        return writerOutput(
            [&](W& w) {
                for (int i = 0; i < 70; ++i) w.begin_geometry("m");
                w.set_value("t", kInt23Array, &a);
            },
            mode);
    };
    EXPECT_TRUE(nested(1).ends_with("8,\n" + std::string(70, ' ') + "9 ] ,\n"));
    EXPECT_TRUE(
        nested(0x400001).ends_with("geometry \"m\" {\n\"t\" [ 0,1,2,3,4,5,6,7,8,\n9 ] ,\n"));
}

// Arrays long enough to be written in several blocks of lines, against the rule itself: nine
// elements on the first line, then eight, each later line starting with the indentation.
TEST(ValueEncoding, LongTextArraysAtEveryIndentationAndWhileCapturing) {
    std::mt19937 rng(15);
    std::vector<int> ints(2001);
    std::vector<float> triples(3 * 701);
    for (int& v : ints) v = static_cast<int>(rng()) >> (rng() % 32);  // every length, both signs
    for (float& v : triples)
        v = std::ldexp(static_cast<float>(rng() % 2000000) - 1e6f,
                       static_cast<int>(rng() % 40) - 30);
    const auto expected = [](size_t n, const std::string& indent, auto element) {
        std::string s = "[ ";
        char text[64];
        for (size_t i = 0; i < n; ++i) {
            s.append(text, element(text, i)) += i + 1 < n ? "," : " ";
            if (i != 0 && i % 8 == 0) s += "\n" + indent;
        }
        return s + "] ";
    };
    const auto intText = [&](const std::string& indent) {
        return expected(ints.size(), indent, [&](char* t, size_t i) {
            return static_cast<size_t>(std::snprintf(t, 64, "%d", ints[i]));
        });
    };
    const auto tripleText = [&](const std::string& indent) {
        return expected(triples.size() / 3, indent, [&](char* t, size_t i) {
            const float* e = &triples[3 * i];
            return static_cast<size_t>(std::snprintf(t, 64, "%g %g %g", e[0], e[1], e[2]));
        });
    };
    const SceneArray intArray{ints.data(), static_cast<uint32_t>(ints.size())};
    const SceneArray tripleArray{triples.data(), static_cast<uint32_t>(triples.size() / 3)};
    // Written directly, 2 or 70 levels deep (70: beyond the inline indentation) or unindented.
    for (const auto& [levels, mode, indent] :
         {std::tuple{2, 1, std::string(2, ' ')}, std::tuple{70, 1, std::string(70, ' ')},
          std::tuple{2, 0x400001, std::string()}}) {
        const std::string out = writerOutput(
            [&](W& w) {
                for (int i = 0; i < levels; ++i) w.begin_geometry("m");
                w.set_value("i", kIntArray, &intArray);
                w.set_value("f", kFloat3Array, &tripleArray);
            },
            mode);
        EXPECT_TRUE(out.ends_with(indent + "\"i\" " + intText(indent) + ",\n" + indent + "\"f\" " +
                                  tripleText(indent) + ",\n"))
            << levels << " levels";
    }
    // Captured inside a shader: one level within the capture.
    std::string captured;
    writerOutput([&](W& w) {
        w.begin_shader(nullptr, "env");
        w.set_value("i", kIntArray, &intArray);
        w.set_value("f", kFloat3Array, &tripleArray);
        w.end_shader();
        captured = w.captured_text()->text();
    });
    EXPECT_EQ(captured,
              "\"env\" {\n \"i\" " + intText(" ") + ",\n \"f\" " + tripleText(" ") + ",\n}");
}

TEST(ValueEncoding, TextArraysOfEveryCode) {
    const std::vector<float> f = {1.5f, INFINITY, -FLT_MAX, 2};
    const std::vector<double> d = {1e39, 0.25, NAN};
    EXPECT_EQ(array(kFloat3Array, std::vector<float>{0, 0, 1, 1, 2, 3}), "[ 0 0 1,1 2 3 ] ");
    EXPECT_EQ(array(kFloat4Array, std::vector<float>{1, 2, 3, 4}, true), "[ 1 2 3 4 ] ");
    EXPECT_EQ(array(kFloatArray, f), "[ 1.5,-1,-1,2 ] ");
    EXPECT_EQ(array(kDoubleArray, d),
              "[ -1.0000000000000000,0.2500000000000000,-1.0000000000000000 ] ");
    EXPECT_EQ(array(kDouble3Array, std::vector<double>{0.1, 2, 3e-9}, true), "[ 0.1 2 3e-09 ] ");
    EXPECT_EQ(array(kBoolArray, std::vector<int32_t>{0, 2, -1}, true), "[ 0,1,1 ] ");
    EXPECT_EQ(array(kFloatArray, std::vector<float>{}), "[ ] ");
    const char* names[] = {"a", "b\"c"};
    const SceneArray texts{names, 2};
    EXPECT_EQ(value(kStringArray, &texts), "[ \"a\",\nxX622263 \n] ");
    EXPECT_EQ(value(kStringRefArray, &texts, true), "[ \"a\",\nxX622263 \n] ");
}

TEST(ValueEncoding, MatrixArraysKeepDoublePrecision) {
    std::vector<double> m(32, 0.0);
    for (int i = 0; i < 16; ++i) m[i] = m[16 + i] = (i % 5 == 0) ? 1 : 0;
    m[12] = 1.0000001;
    const SceneArray a{m.data(), 2};
    EXPECT_EQ(writerOutput([&](W& w) {
                  w.begin_geometry("g");
                  w.set_value("m", kMatrixArray, &a);
              }),
              "geometry \"g\" {\n \"m\" [  1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1 ,\n"
              " 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 \n] ,\n");
}

TEST(ValueEncoding, BinaryArrayBlocks) {
    const std::vector<float> triples = {1, 2, 3, 4, 5, 6};
    std::string data(reinterpret_cast<const char*>(triples.data()), 24);
    EXPECT_EQ(array(kFloat3Array, triples, true),
              "[ " + bytes({1, 2, 3, 'c', 6, 0, 0, 0}) + data + "] ");
    EXPECT_EQ(array(kFloatArray, std::vector<float>{}, true),
              "[ " + bytes({1, 2, 3, 'f', 0, 0, 0, 0}) + "] ");
    // Binary blocks are not filtered.
    const std::vector<double> d = {1e39, NAN};
    EXPECT_EQ(array(kDoubleArray, d, true),
              "[ " + bytes({1, 2, 3, 'r', 2, 0, 0, 0}) +
                  std::string(reinterpret_cast<const char*>(d.data()), 16) + "] ");
    std::vector<int32_t> ints(300);
    for (int i = 0; i < 300; ++i) ints[i] = i * 7919;
    const std::string raw(reinterpret_cast<const char*>(ints.data()), 1200);
    EXPECT_EQ(array(kIntArray, ints, true), "[ " + bytes({1, 2, 3, 'i', 44, 1, 0, 0}) + raw + "] ");
    EXPECT_EQ(array(kInt23Array, ints, true),
              "[ " + bytes({1, 2, 3, 'i', 44, 1, 0, 0}) + raw + "] ");
}

TEST(ValueEncoding, LargeBinaryBlockIsWrittenWhole) {
    std::vector<float> big(3 * 500000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<float>(i);
    const std::string out = array(kFloat3Array, big, true);
    ASSERT_EQ(out.size(), 2 + 8 + big.size() * 4 + 2);
    EXPECT_EQ(std::memcmp(out.data() + 10, big.data(), big.size() * 4), 0);
}

TEST(ValueEncoding, TextListsSixItemsOrTwoTriplesToALine) {
    const std::string ints = writerOutput([](W& w) {
        w.begin_group("g", true);
        w.begin_list("w");
        for (int32_t i = 1; i <= 7; ++i) w.add_list_item(kInt, &i);
        w.end_list();
        w.end_group();
    });
    EXPECT_EQ(ints, "\ngroup \"g\" {\n \"w\" [\n  1, 2, 3, 4, 5, 6,\n  7 ],\n}\n");
    const std::string triples = writerOutput([](W& w) {
        w.begin_list("p");
        for (int i = 0; i < 5; ++i) {
            const float t[3] = {float(i), 0.5f, -1};
            w.add_list_item(kFloat3, t);
        }
        w.end_list();
    });
    EXPECT_EQ(triples, "\"p\" [\n 0 0.5 -1, 1 0.5 -1,\n 2 0.5 -1, 3 0.5 -1,\n 4 0.5 -1 ],\n");
}

TEST(ValueEncoding, BinaryListsCollectIntoOneBlock) {
    const std::string out = writerOutput(
        [](W& w) {
            w.begin_list("w");
            for (int32_t i = 1; i <= 3; ++i) w.add_list_item(kInt, &i);
            w.end_list();
            w.begin_list("d");  // doubles have no binary form
            const double half = 0.5;
            w.add_list_item(kDouble, &half);
            w.add_list_item(kDouble, &half);
            w.end_list();
            w.begin_list("e");
            w.end_list();
        },
        3, true);
    EXPECT_EQ(out, "\"w\" [\n " +
                       bytes({1, 2, 3, 'i', 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}) +
                       " ],\n\"d\" [\n 0.5000000000000000, 0.5000000000000000 ],\n\"e\" [\n  ],\n");
}

TEST(ValueEncoding, ManyBinaryListItemsGrowThePendingBuffer) {
    const int n = 200000;
    const std::string out = writerOutput(
        [&](W& w) {
            w.begin_list("f");
            for (int i = 0; i < n; ++i) {
                const float v = static_cast<float>(i);
                w.add_list_item(kFloat, &v);
            }
            w.end_list();
        },
        0x400003, true);
    ASSERT_EQ(out.size(), 6 + 8 + size_t{n} * 4 + 4);
    float last;
    std::memcpy(&last, out.data() + 14 + (n - 1) * 4, 4);
    EXPECT_EQ(last, n - 1);
}

}  // namespace
