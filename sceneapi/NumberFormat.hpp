// Number formatting byte-identical to printf under the "C" locale, without
// printf's per-call cost. Each function writes into `out` and returns the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vex::numfmt {

// Enough for any "%g" result (for example "-1.23457e-308").
inline constexpr size_t kMaxG = 16;
// Enough for any "%16.16f" or "%.3f" result: 309 integer digits, sign, point, 16 decimals.
inline constexpr size_t kMaxFixed = 330;
inline constexpr size_t kMaxInt = 12;

// printf("%g", v)
char* formatG(char* out, double v) noexcept;
// printf("%16.16f", v)
char* formatFixed16(char* out, double v) noexcept;
// printf("%.3f", v)
char* formatFixed3(char* out, double v) noexcept;
// printf("%d", v) and printf("%u", v)
char* formatInt(char* out, int32_t v) noexcept;
char* formatUnsigned(char* out, uint32_t v) noexcept;

}  // namespace vex::numfmt
