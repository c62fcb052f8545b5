#include "sceneapi/NumberFormat.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vex::numfmt {
namespace {

__extension__ typedef unsigned __int128 u128;

static_assert(std::endian::native == std::endian::little, "digits are assembled in words");

using detail::putPair;

using detail::pairWord;

inline void store8(char* out, uint64_t word) noexcept {
    std::memcpy(out, &word, 8);
}

// 10^k ~ (hi:lo) * 2^exp2, the 128-bit mantissa rounded up, for every k a float needs.
struct Pow10 {
    uint64_t hi;
    uint64_t lo;
    int32_t exp2;
};
constexpr int kMinPow10 = -33;
constexpr Pow10 kPow10Table[] = {
    {0xa6274bbdd0fadd61u, 0xecb1ad8aeacdd58fu, -237},  // 1e-33
    {0xcfb11ead453994bau, 0x67de18eda5814af3u, -234},  // 1e-32
    {0x81ceb32c4b43fcf4u, 0x80eacf948770ced8u, -230},  // 1e-31
    {0xa2425ff75e14fc31u, 0xa1258379a94d028eu, -227},  // 1e-30
    {0xcad2f7f5359a3b3eu, 0x096ee45813a04331u, -224},  // 1e-29
    {0xfd87b5f28300ca0du, 0x8bca9d6e188853fdu, -221},  // 1e-28
    {0x9e74d1b791e07e48u, 0x775ea264cf55347eu, -217},  // 1e-27
    {0xc612062576589ddau, 0x95364afe032a819eu, -214},  // 1e-26
    {0xf79687aed3eec551u, 0x3a83ddbd83f52205u, -211},  // 1e-25
    {0x9abe14cd44753b52u, 0xc4926a9672793543u, -207},  // 1e-24
    {0xc16d9a0095928a27u, 0x75b7053c0f178294u, -204},  // 1e-23
    {0xf1c90080baf72cb1u, 0x5324c68b12dd6339u, -201},  // 1e-22
    {0x971da05074da7beeu, 0xd3f6fc16ebca5e04u, -197},  // 1e-21
    {0xbce5086492111aeau, 0x88f4bb1ca6bcf585u, -194},  // 1e-20
    {0xec1e4a7db69561a5u, 0x2b31e9e3d06c32e6u, -191},  // 1e-19
    {0x9392ee8e921d5d07u, 0x3aff322e62439fd0u, -187},  // 1e-18
    {0xb877aa3236a4b449u, 0x09befeb9fad487c3u, -184},  // 1e-17
    {0xe69594bec44de15bu, 0x4c2ebe687989a9b4u, -181},  // 1e-16
    {0x901d7cf73ab0acd9u, 0x0f9d37014bf60a11u, -177},  // 1e-15
    {0xb424dc35095cd80fu, 0x538484c19ef38c95u, -174},  // 1e-14
    {0xe12e13424bb40e13u, 0x2865a5f206b06fbau, -171},  // 1e-13
    {0x8cbccc096f5088cbu, 0xf93f87b7442e45d4u, -167},  // 1e-12
    {0xafebff0bcb24aafeu, 0xf78f69a51539d749u, -164},  // 1e-11
    {0xdbe6fecebdedd5beu, 0xb573440e5a884d1cu, -161},  // 1e-10
    {0x89705f4136b4a597u, 0x31680a88f8953031u, -157},  // 1e-9
    {0xabcc77118461cefcu, 0xfdc20d2b36ba7c3eu, -154},  // 1e-8
    {0xd6bf94d5e57a42bcu, 0x3d32907604691b4du, -151},  // 1e-7
    {0x8637bd05af6c69b5u, 0xa63f9a49c2c1b110u, -147},  // 1e-6
    {0xa7c5ac471b478423u, 0x0fcf80dc33721d54u, -144},  // 1e-5
    {0xd1b71758e219652bu, 0xd3c36113404ea4a9u, -141},  // 1e-4
    {0x83126e978d4fdf3bu, 0x645a1cac083126eau, -137},  // 1e-3
    {0xa3d70a3d70a3d70au, 0x3d70a3d70a3d70a4u, -134},  // 1e-2
    {0xccccccccccccccccu, 0xcccccccccccccccdu, -131},  // 1e-1
    {0x8000000000000000u, 0x0000000000000000u, -127},  // 1e0
    {0xa000000000000000u, 0x0000000000000000u, -124},  // 1e1
    {0xc800000000000000u, 0x0000000000000000u, -121},  // 1e2
    {0xfa00000000000000u, 0x0000000000000000u, -118},  // 1e3
    {0x9c40000000000000u, 0x0000000000000000u, -114},  // 1e4
    {0xc350000000000000u, 0x0000000000000000u, -111},  // 1e5
    {0xf424000000000000u, 0x0000000000000000u, -108},  // 1e6
    {0x9896800000000000u, 0x0000000000000000u, -104},  // 1e7
    {0xbebc200000000000u, 0x0000000000000000u, -101},  // 1e8
    {0xee6b280000000000u, 0x0000000000000000u, -98},   // 1e9
    {0x9502f90000000000u, 0x0000000000000000u, -94},   // 1e10
    {0xba43b74000000000u, 0x0000000000000000u, -91},   // 1e11
    {0xe8d4a51000000000u, 0x0000000000000000u, -88},   // 1e12
    {0x9184e72a00000000u, 0x0000000000000000u, -84},   // 1e13
    {0xb5e620f480000000u, 0x0000000000000000u, -81},   // 1e14
    {0xe35fa931a0000000u, 0x0000000000000000u, -78},   // 1e15
    {0x8e1bc9bf04000000u, 0x0000000000000000u, -74},   // 1e16
    {0xb1a2bc2ec5000000u, 0x0000000000000000u, -71},   // 1e17
    {0xde0b6b3a76400000u, 0x0000000000000000u, -68},   // 1e18
    {0x8ac7230489e80000u, 0x0000000000000000u, -64},   // 1e19
    {0xad78ebc5ac620000u, 0x0000000000000000u, -61},   // 1e20
    {0xd8d726b7177a8000u, 0x0000000000000000u, -58},   // 1e21
    {0x878678326eac9000u, 0x0000000000000000u, -54},   // 1e22
    {0xa968163f0a57b400u, 0x0000000000000000u, -51},   // 1e23
    {0xd3c21bcecceda100u, 0x0000000000000000u, -48},   // 1e24
    {0x84595161401484a0u, 0x0000000000000000u, -44},   // 1e25
    {0xa56fa5b99019a5c8u, 0x0000000000000000u, -41},   // 1e26
    {0xcecb8f27f4200f3au, 0x0000000000000000u, -38},   // 1e27
    {0x813f3978f8940984u, 0x4000000000000000u, -34},   // 1e28
    {0xa18f07d736b90be5u, 0x5000000000000000u, -31},   // 1e29
    {0xc9f2c9cd04674edeu, 0xa400000000000000u, -28},   // 1e30
    {0xfc6f7c4045812296u, 0x4d00000000000000u, -25},   // 1e31
    {0x9dc5ada82b70b59du, 0xf020000000000000u, -21},   // 1e32
    {0xc5371912364ce305u, 0x6c28000000000000u, -18},   // 1e33
    {0xf684df56c3e01bc6u, 0xc732000000000000u, -15},   // 1e34
    {0x9a130b963a6c115cu, 0x3c7f400000000000u, -11},   // 1e35
    {0xc097ce7bc90715b3u, 0x4b9f100000000000u, -8},    // 1e36
    {0xf0bdc21abb48db20u, 0x1e86d40000000000u, -5},    // 1e37
    {0x96769950b50d88f4u, 0x1314448000000000u, -1},    // 1e38
    {0xbc143fa4e250eb31u, 0x17d955a000000000u, 2},     // 1e39
    {0xeb194f8e1ae525fdu, 0x5dcfab0800000000u, 5},     // 1e40
    {0x92efd1b8d0cf37beu, 0x5aa1cae500000000u, 9},     // 1e41
    {0xb7abc627050305adu, 0xf14a3d9e40000000u, 12},    // 1e42
    {0xe596b7b0c643c719u, 0x6d9ccd05d0000000u, 15},    // 1e43
    {0x8f7e32ce7bea5c6fu, 0xe4820023a2000000u, 19},    // 1e44
    {0xb35dbf821ae4f38bu, 0xdda2802c8a800000u, 22},    // 1e45
    {0xe0352f62a19e306eu, 0xd50b2037ad200000u, 25},    // 1e46
    {0x8c213d9da502de45u, 0x4526f422cc340000u, 29},    // 1e47
    {0xaf298d050e4395d6u, 0x9670b12b7f410000u, 32},    // 1e48
    {0xdaf3f04651d47b4cu, 0x3c0cdd765f114000u, 35},    // 1e49
    {0x88d8762bf324cd0fu, 0xa5880a69fb6ac800u, 39},    // 1e50
};

// The bits of the smallest float not below 10^j, for j = -44..39 (infinity beyond the range).
constexpr int kMinThreshold = -44;
constexpr uint32_t kPow10Threshold[] = {
    0x00000008, 0x00000048, 0x000002ca, 0x00001be1, 0x000116c3, 0x000ae398, 0x006ce3ef, 0x02081ceb,
    0x03aa2425, 0x0554ad2e, 0x0704ec3d, 0x08a6274c, 0x0a4fb11f, 0x0c01ceb4, 0x0da24260, 0x0f4ad2f8,
    0x10fd87b6, 0x129e74d2, 0x14461207, 0x15f79688, 0x179abe15, 0x19416d9b, 0x1af1c901, 0x1c971da1,
    0x1e3ce509, 0x1fec1e4b, 0x219392ef, 0x233877ab, 0x24e69595, 0x26901d7d, 0x283424dd, 0x29e12e14,
    0x2b8cbccd, 0x2d2fec00, 0x2edbe6ff, 0x30897060, 0x322bcc78, 0x33d6bf95, 0x358637be, 0x3727c5ad,
    0x38d1b718, 0x3a83126f, 0x3c23d70b, 0x3dcccccd, 0x3f800000, 0x41200000, 0x42c80000, 0x447a0000,
    0x461c4000, 0x47c35000, 0x49742400, 0x4b189680, 0x4cbebc20, 0x4e6e6b28, 0x501502f9, 0x51ba43b8,
    0x5368d4a6, 0x551184e8, 0x56b5e621, 0x58635faa, 0x5a0e1bca, 0x5bb1a2bd, 0x5d5e0b6c, 0x5f0ac724,
    0x60ad78ec, 0x6258d727, 0x64078679, 0x65a96817, 0x6753c21c, 0x69045952, 0x6aa56fa6, 0x6c4ecb90,
    0x6e013f3a, 0x6fa18f08, 0x7149f2ca, 0x72fc6f7d, 0x749dc5ae, 0x7645371a, 0x77f684e0, 0x799a130c,
    0x7b4097cf, 0x7cf0bdc3, 0x7e96769a, 0x7f800000};

// floor(log10(v)) of a float v in [2^(b-1), 2^b), from its bits.
constexpr int decimalExponent(uint32_t magnitude, int b) {
    const int estimate = ((b - 1) * 78913) >> 18;  // floor(log10(2^(b-1))): log10 or one less
    return estimate + (magnitude >= kPow10Threshold[estimate + 1 - kMinThreshold] ? 1 : 0);
}

// The same for normal floats, one entry per biased exponent: the estimate, and the bits from
// which the value is at least ten times as large.
struct Decade {
    uint32_t threshold;
    int32_t estimate;
};
constexpr auto kDecades = [] {
    std::array<Decade, 256> decades{};
    // Zero and subnormals, infinities and NaNs: exponents that no fast path takes.
    decades[0] = {UINT32_MAX, -100};
    decades[255] = {UINT32_MAX, 100};
    for (int biased = 1; biased < 255; ++biased) {
        const int estimate = ((biased - 127) * 78913) >> 18;  // b - 1 = biased - 127
        decades[static_cast<size_t>(biased)] = {kPow10Threshold[estimate + 1 - kMinThreshold],
                                                estimate};
    }
    return decades;
}();

// Fixed notation, 10^-4 <= |v| < 10^6, takes the biased exponents 113..146 (2^-14 to 2^20).
constexpr int kFixedFirst = 113;
constexpr int kFixedLast = 146;
static_assert(kDecades[kFixedFirst - 1].estimate < -4 &&
              kDecades[kFixedFirst - 1].threshold >= uint32_t{kFixedFirst} << 23 &&
              kDecades[kFixedLast + 1].estimate > 5);

// With k = 5 - e10 in 0..9, v * 10^k = m * 5^k * 2^(e + k), e = biased - 150, and e + k lies
// in -28..-4. Per biased exponent and per decimal exponent (the estimate, or one more):
// 5^k * 2^(40 + e + k), so that m times it is v * 10^k with its units at bit 40, exactly:
// m * 5^k < 2^45 and the product stays below 10^6 * 2^40 < 2^60.
constexpr auto kFixedScales = [] {
    std::array<std::array<uint64_t, 2>, kFixedLast - kFixedFirst + 1> scales{};
    for (int biased = kFixedFirst; biased <= kFixedLast; ++biased) {
        for (int bump = 0; bump < 2; ++bump) {
            const int e10 = kDecades[static_cast<size_t>(biased)].estimate + bump;
            const int k = 5 - e10;
            const int shift = 40 + (biased - 150) + k;
            if (k < 0 || k > 9) continue;  // exponent notation: never looked up
            if (shift < 12 || shift > 36) throw "a scale out of range";  // fails the build
            uint64_t scale = 1;
            for (int i = 0; i < k; ++i) scale *= 5;
            scales[static_cast<size_t>(biased - kFixedFirst)][static_cast<size_t>(bump)] = scale
                                                                                           << shift;
        }
    }
    return scales;
}();

// Exact powers of ten representable in a double.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// glibc spells non-finite values in lower case with a sign for negative NaN.
char* nonFinite(char* out, bool isNan, bool negative) noexcept {
    const char* text = isNan ? (negative ? "-nan" : "nan") : (negative ? "-inf" : "inf");
    const size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

char* nonFinite(char* out, double v) noexcept {
    return nonFinite(out, std::isnan(v), std::signbit(v));
}

char* exactG(char* out, double v) noexcept {
    return std::to_chars(out, out + kMaxG, v, std::chars_format::general, 6).ptr;
}

// a * 10^k with a single rounding; |k| <= 22.
inline double scaleBy(double a, int k) noexcept {
    return k >= 0 ? a * kPow10[k] : a / kPow10[-k];
}

// The six digits of 100000..999999 as ASCII, the first in the lowest byte, two at a time
// from the front without division: t / 2^48 is digits / 10^4, rounded up by so little (below
// 2^-28 of a unit) that each floor is exact, and each multiplication of the fraction by 100
// brings the next pair above bit 48. The pairs need not wait for one another's remainders.
[[gnu::always_inline]] inline uint64_t asciiDigits6(uint32_t digits) noexcept {
    constexpr uint64_t kFraction = (uint64_t{1} << 48) - 1;
    uint64_t t = uint64_t{digits} * 28147497672u;  // ceil(2^48 / 10^4)
    uint64_t d = pairWord(static_cast<uint32_t>(t >> 48));
    t = (t & kFraction) * 100;
    d |= pairWord(static_cast<uint32_t>(t >> 48)) << 16;
    t = (t & kFraction) * 100;
    return d | pairWord(static_cast<uint32_t>(t >> 48)) << 32;
}

// The index of the last digit of `d` that is not 0. The first one never is: or-ing 1 into
// its byte tells the compiler so, and saves the test for a zero word.
[[gnu::always_inline]] inline int lastNonZero(uint64_t d) noexcept {
    const uint64_t values = d - 0x303030303030u;  // digit values, no borrows
    return (63 - std::countl_zero(values | 1)) >> 3;
}

// The "%g" text of the six significant digits `digits` (100000..999999) times 10^(e10 - 5),
// sign already written: fixed notation for exponents -4..5, otherwise exponent notation,
// trailing zeros removed either way. Writes whole words; the bytes past the end are scratch.
char* spellG(char* out, uint32_t digits, int e10) noexcept {
    const uint64_t d = asciiDigits6(digits);
    const int last = lastNonZero(d);
    if (e10 >= 0 && e10 < 6) {
        const int whole = 8 * (e10 + 1);
        const uint64_t mask = (uint64_t{1} << whole) - 1;
        store8(out, (d & mask) | (uint64_t{'.'} << whole) | ((d & ~mask) << 8));
        return out + (last > e10 ? last + 2 : e10 + 1);
    }
    if (e10 < 0 && e10 >= -4) {
        std::memcpy(out, "0.000000", 8);
        store8(out + 1 - e10, d);
        return out + 2 - e10 + last;
    }
    store8(out, (d & 0xFF) | (uint64_t{'.'} << 8) | ((d & ~uint64_t{0xFF}) << 8));
    out += last > 0 ? last + 2 : 1;
    out[0] = 'e';
    out[1] = e10 < 0 ? '-' : '+';
    auto x = static_cast<uint32_t>(e10 < 0 ? -e10 : e10);
    out += 2;
    if (x >= 100) {
        *out++ = static_cast<char>('0' + x / 100);
        x %= 100;
    }
    putPair(out, x);
    return out + 2;
}

// For 0 <= e10 <= 5: the digits up to the point, then the point, then the rest, as masks.
struct PointMask {
    uint64_t whole;  // the bytes before the point
    uint64_t point;  // '.' in the byte after them
};
constexpr auto kPointMasks = [] {
    std::array<PointMask, 6> masks{};
    for (int e10 = 0; e10 < 6; ++e10) {
        const int bits = 8 * (e10 + 1);
        masks[static_cast<size_t>(e10)] = {(uint64_t{1} << bits) - 1, uint64_t{'.'} << bits};
    }
    return masks;
}();

// spellG for -4 <= e10 <= 5 (fixed notation), with the point placed by table.
[[gnu::always_inline]] inline char* spellFixed(char* out, uint32_t digits, int e10) noexcept {
    const uint64_t d = asciiDigits6(digits);
    const int last = lastNonZero(d);
    if (e10 >= 0) {
        const PointMask& m = kPointMasks[static_cast<size_t>(e10)];
        store8(out, (d & m.whole) | m.point | (d & ~m.whole) << 8);
        return out + (last > e10 ? last + 2 : e10 + 1);
    }
    std::memcpy(out, "0.000000", 8);
    store8(out + 1 - e10, d);
    return out + 2 - e10 + last;
}

// "%g" of a float, from its bits alone. The value is m * 2^e with m below 2^24; scaled by
// 10^k it has six integer digits. With T the table's 128-bit mantissa of 10^k and m shifted
// left to m' so that the units of the scaled value sit at bit 137, the product m' * T holds
// the digits and the fraction. T is rounded up by less than one unit, so the product exceeds
// the exact one by less than m' units, while an exact fraction that is not 0 or one half lies
// more than 4 m' units from both (checked for every exponent when the table was made, and by
// the exhaustive comparison tool). So the digits are exact, and a fraction within m' units
// above one half is an exact tie, which printf rounds to even.
[[gnu::noinline]] char* formatFloatAny(char* out, uint32_t bits) noexcept {
    const uint32_t magnitude = bits & 0x7FFFFFFF;
    uint32_t m = bits & 0x7FFFFF;
    if (magnitude >= 0x7F800000) return nonFinite(out, m != 0, bits != magnitude);
    *out = '-';  // kept only for negative values; a branch would be mispredicted on mixed signs
    out += bits >> 31;
    if (magnitude == 0) {
        *out++ = '0';
        return out;
    }
    const auto biased = static_cast<int>(magnitude >> 23);
    int e = -149;
    int e10 = 0;
    if (biased != 0) {
        m |= 0x800000;
        e = biased - 150;
        e10 = kDecades[biased].estimate + (magnitude >= kDecades[biased].threshold ? 1 : 0);
    } else {
        e10 = decimalExponent(magnitude, std::bit_width(m) + e);
    }
    const Pow10& t = kPow10Table[5 - e10 - kMinPow10];
    const uint64_t scaled = uint64_t{m} << (137 + e + t.exp2);  // 0..27 bits, by the table
    const u128 low = static_cast<u128>(scaled) * t.lo;
    const u128 high = static_cast<u128>(scaled) * t.hi + (low >> 64);
    const auto top = static_cast<uint64_t>(high >> 64);
    auto digits = static_cast<uint32_t>(top >> 9);
    // The fraction is (top & 511) : high's low word : low's low word; one half is 256 : 0 : 0.
    const uint64_t rest = top & 511;
    const bool tie =
        rest == 256 && static_cast<uint64_t>(high) == 0 && static_cast<uint64_t>(low) < scaled;
    const bool up = tie ? (digits & 1) != 0 : rest >= 256;
    digits += up ? 1 : 0;
    if (digits == 1000000) {
        digits = 100000;
        ++e10;
    }
    return spellG(out, digits, e10);
}

// The six digits and the decimal exponent of a float in fixed notation, 10^-4 <= |v| < 10^6:
// nearly every coordinate. There m times a scale from the table is v * 10^(5 - e10) exactly,
// with the six digits above bit 40 and the fraction below, so one multiplication decides the
// digits and every tie exactly. `fixed` is false for every other value (zero, subnormals and
// non-finite values by their table entries) and when rounding carries into a seventh digit;
// the digits are then meaningless. No stores and no branches, so that the values of a row can
// be worked on side by side.
struct FixedDigits {
    uint32_t digits;
    int e10;
    bool fixed;
};
[[gnu::always_inline]] inline FixedDigits fixedDigits(uint32_t bits) noexcept {
    const uint32_t magnitude = bits & 0x7FFFFFFF;
    const uint32_t biased = magnitude >> 23;
    const Decade& decade = kDecades[biased];
    const uint32_t bump = magnitude >= decade.threshold ? 1 : 0;
    const int e10 = decade.estimate + static_cast<int>(bump);
    const bool inRange = static_cast<unsigned>(e10 + 4) <= 9;
    // Values out of range multiply by row 0 instead, and their digits are discarded.
    const uint64_t scale = kFixedScales[inRange ? biased - kFixedFirst : 0][bump];
    const uint64_t p = uint64_t{(bits & 0x7FFFFF) | 0x800000} * scale;
    auto digits = static_cast<uint32_t>(p >> 40);
    // The fraction moved to the top, where one half is bit 63. Its bit 0 is always clear, so
    // with the last digit's parity there it exceeds one half exactly when printf rounds up:
    // above one half, or one half and odd (ties to even).
    const uint64_t fraction = p << 24;
    digits += (fraction | (digits & 1)) > uint64_t{1} << 63 ? 1 : 0;
    return {digits, e10, inRange && digits != 1000000};
}

// The sign (written unconditionally, kept only for negative values: a branch would be
// mispredicted on mixed signs) and the fixed-notation text.
[[gnu::always_inline]] inline char* spellFixedSigned(char* out, uint32_t bits,
                                                     const FixedDigits& f) noexcept {
    *out = '-';
    return spellFixed(out + (bits >> 31), f.digits, f.e10);
}

[[gnu::always_inline]] inline char* formatFloatBits(char* out, uint32_t bits) noexcept {
    const FixedDigits f = fixedDigits(bits);
    if (!f.fixed) [[unlikely]]
        return formatFloatAny(out, bits);
    return spellFixedSigned(out, bits, f);
}

// Rows of W floats, each followed by a space, the last by a comma. The digits of the whole
// row are worked out before any is written, which lets the processor overlap the values'
// chains of multiplications and table lookups. The loops are unrolled by request: GCC leaves
// them rolled at -O2, and the row's values then go through memory.
template <int W>
char* formatFloatRows(char* out, const float* v, uint32_t rows) noexcept {
    for (uint32_t r = 0; r < rows; ++r, v += W) {
        uint32_t bits[W];
        FixedDigits f[W];
        bool fixed = true;
#pragma GCC unroll 4
        for (int i = 0; i < W; ++i) {
            bits[i] = std::bit_cast<uint32_t>(v[i]);
            f[i] = fixedDigits(bits[i]);
            fixed &= f[i].fixed;
        }
        if (fixed) [[likely]] {
#pragma GCC unroll 4
            for (int i = 0; i < W; ++i) {
                out = spellFixedSigned(out, bits[i], f[i]);
                *out++ = ' ';
            }
        } else {
            for (int i = 0; i < W; ++i) {
                out = f[i].fixed ? spellFixedSigned(out, bits[i], f[i])
                                 : formatFloatAny(out, bits[i]);
                *out++ = ' ';
            }
        }
        out[-1] = ',';
    }
    return out;
}

}  // namespace

char* formatFloatG(char* out, float v) noexcept {
    return formatFloatBits(out, std::bit_cast<uint32_t>(v));
}

char* formatFloatGGroups(char* out, const float* v, uint32_t groups, int width) noexcept {
    switch (width) {
        case 3:
            return formatFloatRows<3>(out, v, groups);
        case 4:
            return formatFloatRows<4>(out, v, groups);
        default:
            break;
    }
    for (uint32_t g = 0; g < groups; ++g) {
        for (int i = 0; i < width; ++i) {
            out = formatFloatBits(out, std::bit_cast<uint32_t>(*v++));
            *out++ = ' ';
        }
        out[-1] = ',';
    }
    return out;
}

char* formatG(char* out, double v) noexcept {
    // Almost every double written came from a float: those take the integer path.
    const auto f = static_cast<float>(v);
    if (static_cast<double>(f) == v) return formatFloatBits(out, std::bit_cast<uint32_t>(f));
    if (!std::isfinite(v)) return nonFinite(out, v);
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
    if (v < 0) *out++ = '-';
    return spellG(out, digits, e10);
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

}  // namespace vex::numfmt
