// Compares the writer's "%g" formatting of floats with snprintf on every float bit pattern
// (or a range of them), on several threads. Too slow for the test suite; run it after changing
// the number formatting.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sceneapi/NumberFormat.hpp"

namespace {

const char kUsage[] =
    "usage: check-float-format [--threads N] [--first BITS] [--last BITS] [--show N]\n"
    "\n"
    "Formats every float whose bit pattern lies in [first, last] with the scene file\n"
    "writer's \"%g\" (as a float and as the double holding the same value) and with\n"
    "snprintf(\"%g\") under the \"C\" locale, and prints each value where they differ.\n"
    "\n"
    "  --threads N   worker threads, 1 to 64 (default: 2)\n"
    "  --first BITS  first bit pattern, decimal or 0x-prefixed hex (default: 0)\n"
    "  --last BITS   last bit pattern, inclusive (default: 0xffffffff)\n"
    "  --show N      print at most N mismatches, then only count them (default: 50)\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 all equal, 1 mismatches found, 2 bad usage.\n";

// A whole number within [0, max], or false.
bool parseNumber(const char* text, uint64_t max, uint64_t& value) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return false;
    value = v;
    return true;
}

struct Shared {
    std::atomic<uint64_t> mismatches{0};
    std::atomic<uint64_t> shown{0};
    uint64_t showLimit = 50;
    std::mutex print;
};

void checkRange(uint64_t first, uint64_t last, Shared& shared) {
    char expected[64];
    char viaFloat[vex::numfmt::kMaxG];
    char viaDouble[vex::numfmt::kMaxG];
    for (uint64_t bits = first; bits <= last; ++bits) {
        const auto b = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &b, sizeof f);
        const int n = std::snprintf(expected, sizeof expected, "%g", static_cast<double>(f));
        const auto n1 = vex::numfmt::formatFloatG(viaFloat, f) - viaFloat;
        const auto n2 = vex::numfmt::formatG(viaDouble, static_cast<double>(f)) - viaDouble;
        const bool sameFloat = n1 == n && std::memcmp(viaFloat, expected, n1) == 0;
        const bool sameDouble = n2 == n && std::memcmp(viaDouble, expected, n2) == 0;
        if (sameFloat && sameDouble) continue;
        shared.mismatches.fetch_add(1);
        if (shared.shown.fetch_add(1) >= shared.showLimit) continue;
        std::lock_guard<std::mutex> lock(shared.print);
        std::printf("0x%08" PRIx32 ": printf \"%s\", float \"%.*s\", double \"%.*s\"\n", b,
                    expected, static_cast<int>(n1), viaFloat, static_cast<int>(n2), viaDouble);
    }
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t threads = 2, first = 0, last = UINT32_MAX;
    Shared shared;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = false;
        if (arg == "--threads")
            ok = parseNumber(value, 64, threads) && threads > 0;
        else if (arg == "--first")
            ok = parseNumber(value, UINT32_MAX, first);
        else if (arg == "--last")
            ok = parseNumber(value, UINT32_MAX, last);
        else if (arg == "--show")
            ok = parseNumber(value, UINT64_MAX, shared.showLimit);
        if (!ok) {
            std::fprintf(stderr, "check-float-format: bad argument '%s%s%s'\n\n%s", arg.c_str(),
                         value ? " " : "", value ? value : "", kUsage);
            return 2;
        }
        ++i;
    }
    if (first > last) {
        std::fprintf(stderr, "check-float-format: --first is above --last\n");
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    // Interleaved slices of 2^20 patterns spread the slow and fast exponents over the threads.
    constexpr uint64_t kSlice = uint64_t{1} << 20;
    std::atomic<uint64_t> next{first};
    std::vector<std::thread> workers;
    for (uint64_t t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (;;) {
                const uint64_t begin = next.fetch_add(kSlice);
                if (begin > last) return;
                checkRange(begin, std::min(last, begin + kSlice - 1), shared);
            }
        });
    for (auto& w : workers) w.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t total = last - first + 1;
    std::printf("checked %" PRIu64 " float bit patterns 0x%08" PRIx64 "..0x%08" PRIx64
                " on %" PRIu64 " threads in %.1f s: %" PRIu64 " mismatches\n",
                total, first, last, threads, seconds, shared.mismatches.load());
    return shared.mismatches.load() == 0 ? 0 : 1;
}
