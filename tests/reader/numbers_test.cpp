// Numbers: the one-pass text conversion must give strtod's bits for every text the writer prints
// and agree with std::from_chars on every other text; arrays larger than the reader's storage
// pieces keep every number, however they are cut and whatever they turn out to be.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <memory>
#include <sstream>

#include "ReaderTestSupport.hpp"
#include "reader/NumberText.hpp"
#include "sceneapi/NumberFormat.hpp"
#include "support/WriterHarness.hpp"

namespace vex::test {
namespace {

using numtext::Number;
using numtext::Status;

std::string bitsOf(const Number& n) {
    return n.isInt ? "i" + std::to_string(n.i) : "d" + readertest::hexBytes(&n.d, sizeof n.d);
}

// Converts s (in a heap block of exactly its size, so that a read past its end is an ASan
// error) and compares with std::from_chars: an integer when s is a 64-bit integer but not
// "-0", else a double; a double also with strtod. Returns whether the one-pass path took it.
bool agrees(const std::string& s) {
    const std::unique_ptr<char[]> bytes(new char[s.size()]);
    std::memcpy(bytes.get(), s.data(), s.size());
    const char *b = bytes.get(), *e = b + s.size();
    Number want{}, got{}, quick{};
    int64_t iv = 0;
    double dv = 0;
    Status status = Status::Ok;
    if (const auto ri = std::from_chars(b, e, iv);
        !s.empty() && ri.ec == std::errc() && ri.ptr == e && !(iv == 0 && s[0] == '-')) {
        want = Number{true, iv, 0};
    } else if (const auto rd = std::from_chars(b, e, dv);
               rd.ptr != e || (rd.ec != std::errc() && rd.ec != std::errc::result_out_of_range)) {
        status = Status::Malformed;
    } else {
        status = rd.ec == std::errc() ? Status::Ok : Status::OutOfRange;
        want = Number{false, 0, dv};
        if (status == Status::Ok && !std::isnan(dv) && std::strtod(s.c_str(), nullptr) != dv)
            ADD_FAILURE() << "'" << s << "': strtod differs";
    }
    const Status parsed = numtext::parse(b, e, got);
    if (parsed != status || (status == Status::Ok && bitsOf(got) != bitsOf(want)))
        ADD_FAILURE() << "'" << s << "': " << static_cast<int>(parsed) << " " << bitsOf(got)
                      << ", from_chars " << static_cast<int>(status) << " " << bitsOf(want);
    const char* end = numtext::parseFast(b, e, quick);
    // The fast path only claims what it converts exactly: the whole text, or a number that ends
    // at a byte that cannot continue one.
    if (end != nullptr && (end != e ? std::strchr("0123456789.eE+-", *end) != nullptr
                                    : status != Status::Ok || bitsOf(quick) != bitsOf(want)))
        ADD_FAILURE() << "'" << s << "': the fast path read " << (end - b) << " bytes as "
                      << bitsOf(quick);
    return end != nullptr;
}

// Every shape the writer prints: "%g" of random floats of every exponent and of doubles,
// "%16.16f" of doubles, int32. Moderate floats and int32 (makers 1 and 5) take the one-pass path.
TEST(NumberText, WriterOutputsConvertToStrtodBits) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> moderate(-2000.0, 2000.0);
    char b[numfmt::kMaxFixed];
    const auto bits32 = [&] { return std::bit_cast<float>(static_cast<uint32_t>(rng())); };
    const auto bits64 = [&] { return std::bit_cast<double>(uint64_t{rng()} << 32 | rng()); };
    const std::function<char*()> makers[] = {
        [&] { return numfmt::formatG(b, bits32()); },
        [&] { return numfmt::formatG(b, static_cast<float>(moderate(rng))); },
        [&] { return numfmt::formatG(b, bits64()); },
        [&] { return numfmt::formatFixed16(b, moderate(rng)); },
        [&] { return numfmt::formatFixed16(b, bits64()); },
        [&] { return numfmt::formatInt(b, static_cast<int32_t>(rng())); }};
    for (int k = 0; k < 1500000; ++k) {
        const std::string s(b, makers[k % 6]() - b);
        if (s.find_first_of("ni") == std::string::npos && !agrees(s) && k % 6 % 4 == 1)
            ADD_FAILURE() << "'" << s << "' missed the one-pass path";
        ASSERT_FALSE(HasFailure()) << s;
    }
}

// The boundaries of the exact path, every text of up to five bytes from the bytes numbers are
// made of, and longer random ones: malformed, out of range and valid alike.
TEST(NumberText, EveryShortTextAgreesWithFromChars) {
    // 2^53 and its neighbours, powers of ten past the exact ones, the limits of the types, digit
    // counts around 19, leading and trailing zeros, and bytes that cannot end a number.
    std::istringstream list(
        "9007199254740992 9007199254740993 9007199254740993.0 9007199254740993e3 900719925474099.3 "
        "1e22 1e23 1e-22 1e-23 123e22 9007199254740991e22 4e37 3e38 1.17549e-38 "
        "1.7976931348623157e308 1e309 1e-400 4.9e-324 2.4703282292062327e-324 0e999 -0e999 "
        "2147483648 -2147483649 9223372036854775807 9223372036854775808 -9223372036854775808 "
        "-9223372036854775809 18446744073709551616 99999999999999999999 1234567890123456789 "
        "12345678901234567890 0000000000000000001 00000000000000000001 1234.5000000000000001 "
        "-0.0000000000000000 100000000000000000000000 0.0000000000000000000000001 "
        "1.0000000000000000000000 -0 +1 1e005 1e+0005 1e5e5 -nan -inf 0x10 1f "
        "2.2250738585072011e-308 8.98846567431158e307 16777217 16777216.5 "
        "0.500000000000000166533453693773481063544750213623046875 12345678a 1: 9:9 1.5: 1e1: "
        "-12345678901.25e+1");
    for (std::string t; list >> t;) {
        for (size_t cut = 1; cut <= t.size(); ++cut) agrees(t.substr(0, cut));  // every prefix
        ASSERT_FALSE(HasFailure()) << t;
    }
    std::string s;
    const std::function<void(size_t)> all = [&](size_t left) {
        if (!s.empty()) agrees(s);
        for (const char c : std::string(left == 0 || HasFailure() ? "" : "0123456789.-+eE")) {
            s.push_back(c);
            all(left - 1);
            s.pop_back();
        }
    };
    all(5);
    std::mt19937 rng(99);
    for (int k = 0; k < 300000 && !HasFailure(); ++k) {
        std::string t = rng() % 2 ? "-" : "";
        for (size_t n = rng() % 22; n > 0; --n) t += static_cast<char>('0' + rng() % 10);
        if (rng() % 3) t += '.';
        for (size_t n = rng() % 22; n > 0; --n)
            t += rng() % 3 ? '0' : static_cast<char>('0' + rng() % 10);
        if (rng() % 3 == 0)
            t += std::string(1, "eE"[rng() % 2]) + (rng() % 2 ? "+" : "") +
                 std::to_string(rng() % 400);
        agrees(t);
    }
}

// Arrays written by the real writer, larger than the reader's storage pieces, one after another
// and fed in odd pieces: each keeps exactly its own numbers, also when a later array is shorter
// than an earlier one. Binary blocks keep every bit, NaN payloads too.
TEST(ReaderNumbers, LargeArraysInRandomPiecesKeepEveryNumber) {
    std::mt19937 rng(17);
    std::vector<float> f(3 * 12001);       // more than one storage piece of doubles
    std::vector<int32_t> t(300007), u(9);  // past the small pieces, into large ones
    std::vector<double> d(3000);
    // Values that "%g" and "%16.16f" print exactly, so text and binary keep the same numbers.
    for (auto& x : f) x = float(int(rng() % 200000) - 100000) / 2;
    for (auto& x : t) x = static_cast<int32_t>(rng());
    for (auto& x : u) x = static_cast<int32_t>(rng() % 100);
    for (auto& x : d) x = (double(rng()) - 2e9) / 1024;
    for (const bool binary : {false, true}) {
        if (binary) {  // NaN payloads and signalling NaNs, which text cannot hold
            f[0] = std::bit_cast<float>(0x7FC00001u);
            f[1] = std::bit_cast<float>(0xFF800001u);
            d[0] = std::bit_cast<double>(0x7FF0000000000001ull);
        }
        const std::string text = writerOutput(
            [&](vexScene_api_file& api) {
                api.begin_geometry("g");
                const SceneArray fa{f.data(), uint32_t(f.size() / 3)},
                    ta{t.data(), uint32_t(t.size())}, ua{u.data(), 9}, da{d.data(), 3000},
                    f1{f.data(), uint32_t(f.size())};
                api.set_value("f", kFloat3Array, &fa);
                api.set_value("t", kIntArray, &ta);
                api.set_value("u", kIntArray, &ua);
                api.set_value("d", kDoubleArray, &da);
                api.set_value("f1", kFloatArray, &f1);
                api.begin_list("list");
                for (size_t k = 0; k < 99; ++k) api.add_list_item(kFloat3, &f[3 * k]);
                api.end_list();
                api.end_geometry();
            },
            binary ? 3 : 1, binary);
        const std::string whole = readertest::outcome(text);
        for (const size_t piece : {size_t{7}, size_t{4093}, size_t{1} << 20})
            ASSERT_EQ(readertest::outcome(
                          text, readertest::randomCuts(text.size(), unsigned(piece), piece)),
                      whole)
                << piece;
        const Document doc = parseString(text);
        const auto array = [&](size_t k) {
            return doc.root.children.at(0).block().children.at(k).statement().values.at(0).numbers;
        };
        EXPECT_EQ(array(1).ints, t);
        EXPECT_EQ(array(2).ints, u);
        const std::vector<double> fd(f.begin(), f.end());
        const auto bits = [](const auto& v, size_t n) {
            return readertest::hexBytes(v.data(), n * sizeof v[0]);
        };
        for (const size_t k : {size_t{0}, size_t{4}, size_t{5}}) {
            const NumberArray a = array(k);
            const size_t n = k == 5 ? 297 : f.size();
            EXPECT_EQ(binary ? bits(a.floats, a.floats.size()) : bits(a.doubles, a.doubles.size()),
                      binary ? bits(f, n) : bits(fd, n))
                << k;
        }
        EXPECT_EQ(bits(array(3).doubles, 3000), bits(d, 3000));
    }
}

// Long runs of integers with a fraction at either end become doubles, in order; numbers that
// fill storage pieces before the bracket turns out to be a list, or to hold a nested bracket,
// keep their order too, and the next array holds only its own numbers.
TEST(ReaderNumbers, LongRunsKeepTheirOrderWhenTheyChangeTypeOrShape) {
    using readertest::outcome;
    std::string ints, doubles, many;
    for (int k = 0; k < 500000; ++k) {
        ints += std::to_string(k * 7 - 300000) + " ";
        doubles += " " + readertest::num(static_cast<double>(k * 7 - 300000));
    }
    EXPECT_EQ(outcome("\"a\" [ " + ints + "0.25 ] ,\n"),
              "1:\"a\" [500001d:" + doubles + " 0.25 ]\n");
    EXPECT_EQ(outcome("\"a\" [ 0.25 " + ints + "] ,\n"),
              "1:\"a\" [500001d: 0.25" + doubles + " ]\n");
    for (int k = 0; k < 40000; ++k) many += std::to_string(k) + " ";
    EXPECT_EQ(outcome("\"a\" [ " + many + "[ 5 6.5 ] 7 ] ,\n\"z\" [ 9 8 ] ,\n"),
              "1:\"a\" [ (" + many + "[2d: 5 6.5 ] 7) ]\n2:\"z\" [2i: 9 8 ]\n");
    many.pop_back();
    EXPECT_EQ(outcome("\"m\" [ " + many + ", 1 2 ] ,\n"), "1:\"m\" [ (" + many + ") (1 2) ]\n");
}

}  // namespace
}  // namespace vex::test
