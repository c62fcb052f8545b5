// Number texts: the one-pass conversion must give strtod's bits for every text the writer
// prints and agree with std::from_chars on every other text. (How the reader stores the
// numbers of arrays is tested in reader_roundtrip_test.cpp, with the tree printer there.)
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

#include "ReaderTestSupport.hpp"
#include "reader/NumberText.hpp"
#include "sceneapi/NumberFormat.hpp"

namespace {

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
        out = Number{true, iv, 0};
        return Status::Ok;
    }
    double dv = 0;
    const auto rd = std::from_chars(b, e, dv);
    if (rd.ec == std::errc::result_out_of_range && rd.ptr == e) return Status::OutOfRange;
    if (rd.ec != std::errc() || rd.ptr != e) return Status::Malformed;
    out = Number{false, 0, dv};
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
    Number fast, ref, quick;
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
        const Number viaStrtod{false, 0, std::strtod(s.c_str(), nullptr)};
        if (!same(fast, viaStrtod))
            ADD_FAILURE() << "'" << s << "': " << bitsOf(fast) << ", strtod " << bitsOf(viaStrtod);
    }
    const char* end = vex::numtext::parseFast(text.begin(), text.end(), quick);
    if (end == nullptr) return false;
    // The fast path only claims what it converts exactly, and only whole texts here.
    if (end != text.end() || want != Status::Ok || !same(quick, ref))
        ADD_FAILURE() << "'" << s << "': the fast path read " << (end - text.begin())
                      << " bytes as " << bitsOf(quick);
    return true;
}

// The writer's texts: "%g", "%16.16f" and int32.
template <auto format, typename T>
std::string print(T v) {
    char buf[vex::numfmt::kMaxFixed];
    return std::string(buf, format(buf, v));
}
const auto g = print<vex::numfmt::formatG, double>;
const auto fixed16 = print<vex::numfmt::formatFixed16, double>;
const auto int32Text = print<vex::numfmt::formatInt, int32_t>;

// Draws until the value is finite.
template <typename Draw>
auto finite(const Draw& draw) {
    auto x = draw();
    while (!std::isfinite(x)) x = draw();
    return x;
}

// Every shape the writer prints: "%g" of random floats of every exponent and of doubles,
// "%16.16f" of doubles, int32. About three million texts.
TEST(NumberText, WriterOutputsConvertToStrtodBits) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> moderate(-2000.0, 2000.0);
    size_t fast = 0, total = 0;
    // Runs `count` texts of `make`, stopping at the first that disagrees. The common case
    // (`always`: moderate floats and int32) must always take the one-pass path.
    const auto run = [&](int count, bool always, const auto& make) {
        for (int k = 0; k < count && !::testing::Test::HasFailure(); ++k) {
            const std::string s = make();
            const bool onePass = agrees(s);
            if (always && !onePass) ADD_FAILURE() << "'" << s << "' missed the one-pass path";
            fast += onePass ? 1 : 0;
            ++total;
        }
    };
    const auto bits32 = [&] { return std::bit_cast<float>(static_cast<uint32_t>(rng())); };
    const auto bits64 = [&] { return std::bit_cast<double>(uint64_t{rng()} << 32 | rng()); };
    run(1000000, false, [&] { return g(finite(bits32)); });
    run(500000, true, [&] { return g(static_cast<float>(moderate(rng))); });
    run(500000, false, [&] { return g(bits64()); });
    run(300000, false, [&] { return fixed16(moderate(rng)); });
    run(20000, false, [&] { return fixed16(finite(bits64)); });
    run(500000, true, [&] { return int32Text(static_cast<int32_t>(rng())); });
    // Most writer texts take the one-pass path (random float bits reach exponents far past
    // 10^22, which go to std::from_chars).
    EXPECT_GT(fast, total / 2);
}

// The boundaries of the exact path, every text of up to five bytes from the bytes numbers are
// made of, and longer random ones: malformed, out of range and valid alike must match
// std::from_chars.
TEST(NumberText, EveryShortTextAgreesWithFromChars) {
    const char* const texts[] = {
        // 2^53 and its neighbours: the largest mantissas that are exact
        "9007199254740992", "9007199254740993", "9007199254740991", "9007199254740993.0",
        "9007199254740992.0", "9007199254740993e3", "900719925474099.3",
        // the exact powers of ten and just past them
        "1e22", "1e23", "1e-22", "1e-23", "123e22", "9007199254740991e22", "4e37", "3e38",
        "1.23457e+38", "1.17549e-38", "1e308", "1.7976931348623157e308", "1e309", "1e-400",
        "4.9e-324", "2.4703282292062327e-324", "0e999", "-0e999", "0.0e-999",
        // integer limits
        "2147483647", "2147483648", "-2147483648", "-2147483649", "9223372036854775807",
        "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
        "18446744073709551615", "18446744073709551616", "99999999999999999999",
        // digit counts around 19, leading and trailing zeros
        "1234567890123456789", "12345678901234567890", "0000000000000000001",
        "00000000000000000001", "1234.5000000000000000", "1234.5000000000000001",
        "0.1000000000000000", "-0.0000000000000000", "100000000000000000000000",
        "0.0000000000000000000000001", "1.0000000000000000000000",
        // signs, points and exponents in every position
        "-0", "0", "-00", "+0", "+1", "-", ".", "-.", ".5", "-.5", "5.", "-5.", "5.e3", ".e3", "1e",
        "1e+", "1e-", "1e+5", "1E-5", "1e005", "1e0005", "1e+0005", "1.5e-05", "1e5e5", "1.2.3",
        "--1", "1-", "1+1", "-nan", "nan", "-inf", "inf", "0x10", "1f", "1d",
        // halfway cases that a careless multiply would round the wrong way
        "0.3", "0.1", "0.7", "2.2250738585072011e-308", "8.98846567431158e307", "1.4e-45",
        "3.4028235e38", "16777217", "16777216.5",
        "0.500000000000000166533453693773481063544750213623046875"};
    for (const char* t : texts) {
        agrees(t);
        ASSERT_FALSE(::testing::Test::HasFailure()) << t;
    }
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

}  // namespace
