// Number texts: the one-pass conversion must give strtod's bits for every text the writer
// prints and agree with std::from_chars on every other text, and the reader must type and
// store the numbers of text arrays the same way however the input is cut into pieces.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ReaderTestSupport.hpp"
#include "reader/NumberText.hpp"
#include "sceneapi/NumberFormat.hpp"

namespace {

using readertest::dump;
using vex::NumberArray;
using vex::numtext::Number;
using vex::numtext::Status;

// The conversion as std::from_chars defines it: an integer when the text is a 64-bit
// integer (but not "-0"), else a double.
Status reference(const std::string& s, Number& out) {
    const char* b = s.data();
    const char* e = b + s.size();
    int64_t iv = 0;
    const auto ri = std::from_chars(b, e, iv);
    if (!s.empty() && ri.ec == std::errc() && ri.ptr == e && !(iv == 0 && s[0] == '-')) {
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

std::string bitsOf(const Number& n) {
    if (n.isInt) return "i" + std::to_string(n.i);
    return "d" + readertest::hexBytes(&n.d, sizeof n.d);
}

// The text in a heap block of exactly its size, so that a read past its end is an ASan error.
struct Exact {
    std::unique_ptr<char[]> bytes;
    size_t size;
    explicit Exact(const std::string& s) : bytes(new char[s.size()]), size(s.size()) {
        std::memcpy(bytes.get(), s.data(), s.size());
    }
    const char* begin() const { return bytes.get(); }
    const char* end() const { return bytes.get() + size; }
};

bool same(const Number& a, const Number& b) {
    return a.isInt == b.isInt &&
           (a.isInt ? a.i == b.i : std::bit_cast<uint64_t>(a.d) == std::bit_cast<uint64_t>(b.d));
}

// Converts the text both ways and compares; strtod gives the same bits for every number.
// Returns whether the one-pass path read the text itself.
bool agrees(const std::string& s) {
    const Exact text(s);
    Number fast, ref;
    const Status want = reference(s, ref);
    const Status got = vex::numtext::parse(text.begin(), text.end(), fast);
    if (got != want) {
        ADD_FAILURE() << "'" << s << "': status " << static_cast<int>(got) << ", from_chars "
                      << static_cast<int>(want);
        return false;
    }
    if (got == Status::Ok && !same(fast, ref))
        ADD_FAILURE() << "'" << s << "': " << bitsOf(fast) << ", from_chars " << bitsOf(ref);
    if (got == Status::Ok && !fast.isInt && !std::isnan(fast.d)) {
        const double viaStrtod = std::strtod(s.c_str(), nullptr);
        if (std::bit_cast<uint64_t>(fast.d) != std::bit_cast<uint64_t>(viaStrtod))
            ADD_FAILURE() << "'" << s << "': " << bitsOf(fast) << ", strtod "
                          << readertest::hexBytes(&viaStrtod, sizeof viaStrtod);
    }
    Number quick;
    const char* end = vex::numtext::parseFast(text.begin(), text.end(), quick);
    if (end == nullptr) return false;
    // The fast path only claims what it converts exactly, and only whole texts here.
    if (end != text.end() || want != Status::Ok || !same(quick, ref))
        ADD_FAILURE() << "'" << s << "': the fast path read " << (end - text.begin())
                      << " bytes as " << bitsOf(quick);
    return true;
}

std::string g(double v) {
    char buf[vex::numfmt::kMaxG];
    return std::string(buf, vex::numfmt::formatG(buf, v));
}
std::string fixed16(double v) {
    char buf[vex::numfmt::kMaxFixed];
    return std::string(buf, vex::numfmt::formatFixed16(buf, v));
}
std::string int32Text(int32_t v) {
    char buf[vex::numfmt::kMaxInt];
    return std::string(buf, vex::numfmt::formatInt(buf, v));
}

float randomFloat(std::mt19937& rng) {
    float x;
    do x = std::bit_cast<float>(static_cast<uint32_t>(rng()));
    while (!std::isfinite(x));
    return x;
}

// Every shape the writer prints: "%g" of random floats of every exponent and of doubles,
// "%16.16f" of doubles, int32. About three million texts.
TEST(NumberText, WriterOutputsConvertToStrtodBits) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> moderate(-2000.0, 2000.0);
    size_t fast = 0, total = 0;
    // Runs `count` texts of `make`, stopping at the first that disagrees.
    const auto run = [&](int count, const auto& make) {
        for (int k = 0; k < count && !::testing::Test::HasFailure(); ++k) {
            fast += agrees(make()) ? 1 : 0;
            ++total;
        }
    };
    const auto bits64 = [&] { return std::bit_cast<double>(uint64_t{rng()} << 32 | rng()); };
    run(1000000, [&] { return g(randomFloat(rng)); });
    run(500000, [&] { return g(static_cast<float>(moderate(rng))); });
    run(500000, [&] { return g(bits64()); });
    run(300000, [&] { return fixed16(moderate(rng)); });
    run(20000, [&] {
        double d;
        do d = bits64();
        while (!std::isfinite(d));
        return fixed16(d);
    });
    run(500000, [&] { return int32Text(static_cast<int32_t>(rng())); });
    ASSERT_FALSE(::testing::Test::HasFailure());
    // Most writer texts take the one-pass path (random float bits reach exponents far past
    // 10^22, which go to std::from_chars).
    EXPECT_GT(fast, total / 2);

    // The common case is always the one-pass path.
    for (int k = 0; k < 100000; ++k) {
        const std::string s = g(static_cast<float>(moderate(rng)));
        ASSERT_TRUE(agrees(s)) << s;
        const std::string i = int32Text(static_cast<int32_t>(rng()));
        ASSERT_TRUE(agrees(i)) << i;
    }
}

// Every text of up to five bytes from the bytes numbers are made of, and longer random ones:
// malformed, out of range and valid alike must match std::from_chars.
TEST(NumberText, EveryShortTextAgreesWithFromChars) {
    const std::string alphabet = "0123456789.-+eE";
    std::string s;
    const std::function<void(size_t)> all = [&](size_t left) {
        if (!s.empty()) agrees(s);
        if (left == 0) return;
        for (const char c : alphabet) {
            s.push_back(c);
            all(left - 1);
            s.pop_back();
            if (::testing::Test::HasFailure()) return;
        }
    };
    all(5);
    ASSERT_FALSE(::testing::Test::HasFailure());

    std::mt19937 rng(99);
    const std::string digits = "0123456789";
    for (int k = 0; k < 300000; ++k) {
        std::string t;
        if (rng() % 2) t += '-';
        const size_t a = rng() % 22, b = rng() % 22;
        for (size_t n = 0; n < a; ++n) t += digits[rng() % 10];
        if (rng() % 3) t += '.';
        for (size_t n = 0; n < b; ++n) t += rng() % 3 ? '0' : digits[rng() % 10];
        if (rng() % 3 == 0) {
            t += "eE"[rng() % 2];
            if (rng() % 2) t += "+-"[rng() % 2];
            for (size_t n = 0, m = rng() % 5; n < m; ++n) t += digits[rng() % 10];
        }
        agrees(t);
        ASSERT_FALSE(::testing::Test::HasFailure()) << t;
    }
}

TEST(NumberText, BoundariesOfTheExactPath) {
    const char* const texts[] = {
        // 2^53 and its neighbours: the largest mantissas that are exact
        "9007199254740992",
        "9007199254740993",
        "9007199254740991",
        "9007199254740993.0",
        "9007199254740992.0",
        "9007199254740993e3",
        "900719925474099.3",
        // the exact powers of ten and just past them
        "1e22",
        "1e23",
        "1e-22",
        "1e-23",
        "123e22",
        "9007199254740991e22",
        "4e37",
        "3e38",
        "1.23457e+38",
        "1.17549e-38",
        "1e308",
        "1.7976931348623157e308",
        "1e309",
        "1e-400",
        "4.9e-324",
        "2.4703282292062327e-324",
        "0e999",
        "-0e999",
        "0.0e-999",
        // integer limits
        "2147483647",
        "2147483648",
        "-2147483648",
        "-2147483649",
        "9223372036854775807",
        "9223372036854775808",
        "-9223372036854775808",
        "-9223372036854775809",
        "18446744073709551615",
        "18446744073709551616",
        "99999999999999999999",
        // digit counts around 19, leading and trailing zeros
        "1234567890123456789",
        "12345678901234567890",
        "0000000000000000001",
        "00000000000000000001",
        "1234.5000000000000000",
        "1234.5000000000000001",
        "0.1000000000000000",
        "-0.0000000000000000",
        "100000000000000000000000",
        "0.0000000000000000000000001",
        "1.0000000000000000000000",
        // signs, points and exponents in every position
        "-0",
        "0",
        "-00",
        "+0",
        "+1",
        "-",
        ".",
        "-.",
        ".5",
        "-.5",
        "5.",
        "-5.",
        "5.e3",
        ".e3",
        "1e",
        "1e+",
        "1e-",
        "1e+5",
        "1E-5",
        "1e005",
        "1e0005",
        "1e+0005",
        "1.5e-05",
        "1e5e5",
        "1.2.3",
        "--1",
        "1-",
        "1+1",
        "-nan",
        "nan",
        "-inf",
        "inf",
        "0x10",
        "1f",
        "1d",
        // halfway cases that a careless multiply would round the wrong way
        "0.3",
        "0.1",
        "0.7",
        "2.2250738585072011e-308",
        "8.98846567431158e307",
        "1.4e-45",
        "3.4028235e38",
        "16777217",
        "16777216.5",
        "0.500000000000000166533453693773481063544750213623046875",
    };
    for (const char* t : texts) {
        agrees(t);
        ASSERT_FALSE(::testing::Test::HasFailure()) << t;
    }
}

// Where the number ends: at the first byte that cannot continue it, or at the end of the piece.
TEST(NumberText, FastPathStopsExactlyAtTheEndOfTheNumber) {
    for (const std::string tail : {" ", ",", "\n", "]", "\"", "\t"}) {
        for (const std::string num : {"123456", "-0.082978", "1.5e+05", "12345678", "1234567890"}) {
            const Exact text(num + tail);
            Number n;
            EXPECT_EQ(vex::numtext::parseFast(text.begin(), text.end(), n),
                      text.begin() + num.size())
                << num << tail;
        }
    }
    // Bytes that continue a number make the text one the general path must judge.
    for (const std::string t : {"12x", "1.5.", "7e5e", "1e-5-", "3Z", "12345678a", "0x1p3"}) {
        const Exact text(t);
        Number n;
        EXPECT_EQ(vex::numtext::parseFast(text.begin(), text.end(), n), nullptr) << t;
    }
    // Every cut of a number reads its prefix, never a byte past the piece.
    const std::string whole = "-12345678901.25e+12";
    for (size_t cut = 1; cut <= whole.size(); ++cut) agrees(whole.substr(0, cut));
}

// ---- the reader ------------------------------------------------------------------------

const vex::Value& firstValue(const vex::Document& d) {
    return d.root.children.at(0).statement().values.at(0);
}
// The first value of the first statement of the text, as a copy that outlives the tree.
vex::Value firstOf(const std::string& text) {
    return firstValue(vex::parseString(text));
}

vex::Document parseCut(const std::string& text, const std::vector<size_t>& cuts) {
    vex::TreeBuilder tree;
    vex::SceneReader reader(tree, "cuts");
    size_t at = 0;
    for (const size_t c : cuts) {
        reader.feed(text.data() + at, c - at);
        at = c;
    }
    reader.feed(text.data() + at, text.size() - at);
    reader.finish();
    return tree.take();
}

std::string outcome(const std::string& text, const std::vector<size_t>& cuts) {
    try {
        return dump(parseCut(text, cuts));
    } catch (const vex::ParseError& e) {
        return std::string("error ") + e.what();
    }
}

// Numbers of every shape in arrays, lists and statements; every way of cutting the input in
// two, and many in three, gives the same tree or the same error.
TEST(ReaderNumbers, EveryCutInsideNumbersReadsTheSame) {
    const std::string texts[] = {
        "\"a\" [ 1 -2 3,4 5 -2147483648,2147483647 0 -0 ] ,\n",
        "\"f\" [ -0.082978 0.497185 8.81298,1.5e+05 -1.17549e-38 3.40282e+38 ] ,\n",
        "\"big\" [ 2147483648 9223372036854775807 -9223372036854775808 18446744073709551616 ] ,\n",
        "\"x\" [ 0.1000000000000000 1234.5000000000000000 -123.4560000000000031 ] ,\n",
        "\"n\" [ nan -nan inf -inf 1 ] ,\n",
        "\"l\" [\n 1 2 3,\n 4.5 6 7,\n 8 9 10 ],\n",
        "transform 1 0 0 0 0 1 0 0 0 0 1 0 -3 1e-07 1e+30 1\nflags 4294967295\n",
        "\"v\" 0.5 -7 1e5 9007199254740993,\n",
        "\"m\" [ 1 2, 3 ] ,\n",
        "\"e\" [ 1e999 ] ,\n",
        "\"e\" [ 1.2.3 ] ,\n",
        "\"e\" [ +1 ] ,\n",
        "\"e\" [ 1 2, 3 4,, ] ,\n",
        "version -0.5e-3\n",
    };
    std::mt19937 rng(5);
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::string whole = outcome(text, {});
        for (size_t cut = 1; cut < text.size(); ++cut)
            ASSERT_EQ(outcome(text, {cut}), whole) << "cut at " << cut;
        for (int k = 0; k < 300; ++k) {
            size_t a = 1 + rng() % (text.size() - 1), b = 1 + rng() % (text.size() - 1);
            if (a > b) std::swap(a, b);
            ASSERT_EQ(outcome(text, {a, b}), whole) << a << " " << b;
        }
    }
    // What the first two read to, exactly.
    const vex::Document ints = vex::parseString(texts[0]);
    const NumberArray& a = firstValue(ints).numbers;
    EXPECT_EQ(a.type, NumberArray::Type::Float64);  // "-0" is no integer
    EXPECT_EQ(a.width, 3u);
    ASSERT_EQ(a.doubles.size(), 9u);
    EXPECT_TRUE(std::signbit(a.doubles[8]));
    EXPECT_EQ(a.doubles[5], -2147483648.0);
    const NumberArray f = firstOf(texts[1]).numbers;
    ASSERT_EQ(f.doubles.size(), 6u);
    EXPECT_EQ(f.doubles[0], -0.082978);
    EXPECT_EQ(f.doubles[4], std::strtod("-1.17549e-38", nullptr));
    EXPECT_EQ(outcome(texts[9], {}), "error cuts:1: number out of range '1e999'");
    EXPECT_EQ(outcome(texts[10], {}), "error cuts:1: malformed number '1.2.3'");
    EXPECT_EQ(outcome(texts[11], {}), "error cuts:1: malformed number '+1'");
}

TEST(ReaderNumbers, TextArraysAreInt32UntilANumberIsNot) {
    const auto array = [](const std::string& body) {
        return firstOf("\"a\" [ " + body + " ] ,\n").numbers;
    };
    NumberArray a = array("2147483647 -2147483648 0 7");
    EXPECT_EQ(a.type, NumberArray::Type::Int32);
    EXPECT_EQ(a.ints, (std::vector<int32_t>{2147483647, -2147483648, 0, 7}));
    EXPECT_TRUE(a.doubles.empty());
    a = array("1 2147483648");
    EXPECT_EQ(a.type, NumberArray::Type::Float64);
    EXPECT_EQ(a.doubles, (std::vector<double>{1, 2147483648.0}));
    EXPECT_TRUE(a.ints.empty());
    a = array("0.5 3");
    EXPECT_EQ(a.doubles, (std::vector<double>{0.5, 3}));
    a = array("3 1e0");
    EXPECT_EQ(a.doubles, (std::vector<double>{3, 1}));
    // Past 2^53 the integer is rounded once, as strtod rounds it.
    a = array("1 9007199254740993");
    EXPECT_EQ(a.doubles.at(1), 9007199254740992.0);

    // A long run of integers, then a fraction: all of them become doubles, in order.
    std::string body;
    const int n = 500000;  // 2 MB of int32, then 4 MB of doubles: several large pieces
    for (int k = 0; k < n; ++k) body += std::to_string(k * 7 - 300000) + " ";
    a = array(body + "0.25");
    ASSERT_EQ(a.type, NumberArray::Type::Float64);
    ASSERT_EQ(a.doubles.size(), size_t{n} + 1);
    for (int k = 0; k < n; ++k) ASSERT_EQ(a.doubles[k], k * 7 - 300000) << k;
    EXPECT_EQ(a.doubles.back(), 0.25);
}

// Arrays larger than the reader's storage pieces, one after another and fed in odd pieces:
// each keeps exactly its own numbers, also when a later array is shorter than an earlier one.
TEST(ReaderNumbers, LargeArraysInRandomPiecesKeepEveryNumber) {
    std::mt19937 rng(17);
    std::vector<float> f(3 * 12001);       // more than one storage piece of doubles
    std::vector<int32_t> t(300007), u(9);  // past the small pieces, into large ones
    for (auto& x : f)
        x = static_cast<float>(std::uniform_real_distribution<double>(-200, 200)(rng));
    for (auto& x : t) x = static_cast<int32_t>(rng());
    for (auto& x : u) x = static_cast<int32_t>(rng() % 100);
    const std::string text = readertest::writeScene(false, [&](vexScene_api_file& api) {
        api.begin_geometry("g");
        const SceneArray fa{f.data(), static_cast<uint32_t>(f.size() / 3)};
        api.set_value("f", kFloat3Array, &fa);
        const SceneArray ta{t.data(), static_cast<uint32_t>(t.size())};
        api.set_value("t", kIntArray, &ta);
        const SceneArray ua{u.data(), static_cast<uint32_t>(u.size())};
        api.set_value("u", kIntArray, &ua);
        api.set_value("f2", kFloat3Array, &fa);
        api.end_geometry();
    });
    const std::string whole = dump(vex::parseString(text, "pieces"));
    for (const size_t piece : {size_t{7}, size_t{64}, size_t{4093}, size_t{1} << 20}) {
        const vex::Document d = readertest::parsePieces(text, static_cast<unsigned>(piece), piece);
        ASSERT_EQ(dump(d), whole) << piece;
    }
    const vex::Document d = vex::parseString(text);
    const vex::Block& geo = d.root.children.at(0).block();
    const auto numbers = [&](size_t k) {
        return geo.children.at(k).statement().values.at(0).numbers;
    };
    const NumberArray fa = numbers(0), ta = numbers(1), ua = numbers(2), f2 = numbers(3);
    ASSERT_EQ(fa.doubles.size(), f.size());
    EXPECT_EQ(fa.width, 3u);
    for (size_t k = 0; k < f.size(); ++k)
        ASSERT_EQ(fa.doubles[k], std::strtod(g(f[k]).c_str(), nullptr)) << k;
    EXPECT_EQ(ta.type, NumberArray::Type::Int32);
    EXPECT_EQ(ta.ints, t);
    EXPECT_EQ(ua.ints, u);
    EXPECT_EQ(f2.doubles, fa.doubles);
}

// A bracket whose numbers turn out to be part of something else: nested brackets, mixed
// element sizes, names and binary blocks after text numbers.
TEST(ReaderNumbers, NumbersThatBecomeListsKeepTheirOrder) {
    std::string many;
    for (int k = 0; k < 40000; ++k) many += std::to_string(k) + " ";
    const std::string nested = "\"a\" [ " + many + "[ 5 6.5 ] 7 ] ,\n";
    const vex::Document d = vex::parseString(nested);
    const vex::Value& v = firstValue(d);
    ASSERT_EQ(v.kind, vex::Value::Kind::List);
    ASSERT_EQ(v.list.size(), 1u);
    const auto& item = v.list[0];
    ASSERT_EQ(item.size(), 40002u);
    for (int k = 0; k < 40000; ++k) ASSERT_EQ(item[k].i, k) << k;
    ASSERT_EQ(item[40000].kind, vex::Value::Kind::Numbers);
    EXPECT_EQ(item[40000].numbers.doubles, (std::vector<double>{5, 6.5}));
    EXPECT_EQ(item[40001].i, 7);
    EXPECT_EQ(dump(readertest::parsePieces(nested, 3, 11)), dump(d));

    const vex::Value mixed = firstOf("\"m\" [ " + many + ", 1 2 ] ,\n");
    ASSERT_EQ(mixed.kind, vex::Value::Kind::List);
    ASSERT_EQ(mixed.list.size(), 2u);
    EXPECT_EQ(mixed.list[0].size(), 40000u);
    EXPECT_EQ(mixed.list[0][39999].i, 39999);
    EXPECT_EQ(mixed.list[1].size(), 2u);

    const vex::Value named = firstOf("\"n\" [ 1.5 2, \"x\" ] ,\n");
    ASSERT_EQ(named.kind, vex::Value::Kind::List);
    EXPECT_EQ(named.list[0][0].d, 1.5);
    EXPECT_EQ(named.list[1][0].bytes, "x");

    std::string bin("\x01\x02\x03i\x01\x00\x00\x00\x2a\x00\x00\x00", 12);
    const vex::Value list = firstOf("\"b\" [\n 1 2,\n 3 4,\n " + bin + " ],\n");
    ASSERT_EQ(list.kind, vex::Value::Kind::List);
    ASSERT_EQ(list.list.size(), 3u);
    EXPECT_EQ(list.list[1][1].i, 4);
    EXPECT_EQ(list.list[2][0].numbers.ints, (std::vector<int32_t>{42}));

    // An array after a nested one reuses the storage and holds only its own numbers.
    const vex::Document two = vex::parseString(nested + "\"z\" [ 9 8 ] ,\n");
    EXPECT_EQ(two.root.children.at(1).statement().values.at(0).numbers.ints,
              (std::vector<int32_t>{9, 8}));
}

// Numbers longer than the limit are refused inside brackets too, however they are cut.
TEST(ReaderNumbers, OverlongNumbersInArraysAreRefused) {
    const std::string text = "\"v\" [ 1 " + std::string(401, '0') + " ] ,\n";
    for (const size_t cut : {size_t{0}, size_t{8}, size_t{9}, size_t{200}, size_t{409}}) {
        const std::string got = cut == 0 ? outcome(text, {}) : outcome(text, {cut});
        EXPECT_EQ(got, "error cuts:1: number longer than 400 characters") << cut;
    }
    const std::string ok = "\"v\" [ 1 " + std::string(400, '0') + " ] ,\n";
    EXPECT_EQ(firstOf(ok).numbers.ints, (std::vector<int32_t>{1, 0}));
}

}  // namespace
