// Staging of the numbers of a text array while it is read (part of the reader, not an interface).
#pragma once

#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "reader/NumberText.hpp"
#include "reader/SceneTree.hpp"

namespace vex::reading {

// Filling tens of megabytes of fresh memory costs a page fault per 4 KiB, which can exceed the
// parsing itself. On Linux the reader asks for transparent huge pages (one fault per 2 MiB) on
// the large ranges it is about to fill. Only advice: without it nothing changes but the speed.
inline constexpr size_t kHugePage = size_t{2} << 20;

inline void adviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const auto first = reinterpret_cast<uintptr_t>(p);
    const uintptr_t b = (first + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    const uintptr_t e = (first + n) & ~uintptr_t{kHugePage - 1};
    if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#endif
}

// The numbers of the text array being read, as they arrive: in pieces that are reused from
// array to array, moved into vectors of the exact size when the array ends. Growing the vectors
// by doubling would write (and fault in) about twice the memory of the result and copy most of
// it on the way. Small arrays stay in small pieces; past kSmallPieces the pieces are huge-page
// blocks.
class NumberStage {
  public:
    size_t size() const {
        const size_t bytes = filled_ + static_cast<size_t>(pos_ - start_);
        return doubles_ ? bytes / sizeof(double) : bytes / sizeof(int32_t);
    }

    // Int32 while every number is an integer in range, then Float64 for all of them.
    void push(const numtext::Number& n) {
        if (!doubles_) {
            if (n.isInt && n.i >= std::numeric_limits<int32_t>::min() &&
                n.i <= std::numeric_limits<int32_t>::max()) {
                put(static_cast<int32_t>(n.i));
                return;
            }
            toDoubles();
        }
        put(n.isInt ? static_cast<double>(n.i) : n.d);
    }

    // Appends the numbers to `a` and leaves the stage empty, its pieces kept for the next array.
    void moveInto(NumberArray& a) {
        const size_t n = size();
        if (doubles_) {
            if (a.type == NumberArray::Type::Int32) {
                a.doubles.assign(a.ints.begin(), a.ints.end());
                a.ints = {};
                a.type = NumberArray::Type::Float64;
            }
            appendTo(a.doubles, n);
        } else if (a.type == NumberArray::Type::Int32) {
            appendTo(a.ints, n);
        } else {
            std::vector<int32_t> ints;
            appendTo(ints, n);
            a.doubles.insert(a.doubles.end(), ints.begin(), ints.end());
        }
        clear();
    }

  private:
    // Both sizes are multiples of 8, so a piece holds whole int32 and double values.
    static constexpr size_t kSmall = size_t{1} << 16;
    static constexpr size_t kLarge = kHugePage;
    static constexpr size_t kSmallPieces = 16;

    class Piece {
      public:
        explicit Piece(size_t bytes)
            : bytes_(bytes),
              data_(static_cast<unsigned char*>(::operator new(bytes, align(bytes)))) {
            if (bytes == kLarge) adviseHugePages(data_, bytes);
        }
        Piece(Piece&& o) noexcept : bytes_(o.bytes_), data_(std::exchange(o.data_, nullptr)) {}
        Piece& operator=(Piece&& o) noexcept {
            std::swap(bytes_, o.bytes_);
            std::swap(data_, o.data_);
            return *this;
        }
        Piece(const Piece&) = delete;
        Piece& operator=(const Piece&) = delete;
        ~Piece() {
            if (data_ != nullptr) ::operator delete(data_, align(bytes_));
        }
        unsigned char* data() const { return data_; }
        size_t bytes() const { return bytes_; }

      private:
        static std::align_val_t align(size_t bytes) {
            return std::align_val_t{bytes == kLarge ? kLarge : alignof(double)};
        }
        size_t bytes_;
        unsigned char* data_;
    };

    template <class E>
    void put(E v) {
        if (pos_ == end_) nextPiece();
        std::memcpy(pos_, &v, sizeof v);  // the bytes become an E in the piece's storage
        pos_ += sizeof v;
    }

    void nextPiece() {
        if (start_ != nullptr) filled_ += used_.back().bytes();
        const bool large = used_.size() >= kSmallPieces;
        std::vector<Piece>& spare = large ? spareLarge_ : spareSmall_;
        if (spare.empty()) {
            used_.emplace_back(large ? kLarge : kSmall);
        } else {
            used_.push_back(std::move(spare.back()));
            spare.pop_back();
        }
        start_ = pos_ = used_.back().data();
        end_ = start_ + used_.back().bytes();
    }

    template <class E>
    void appendTo(std::vector<E>& v, size_t n) {
        const size_t old = v.size();
        v.reserve(old + n);
        if (n * sizeof(E) >= 2 * kHugePage) adviseHugePages(v.data() + old, n * sizeof(E));
        for (const Piece& piece : used_) {
            const size_t k = std::min(n, piece.bytes() / sizeof(E));
            const E* first = reinterpret_cast<const E*>(piece.data());
            v.insert(v.end(), first, first + k);
            n -= k;
        }
    }

    void toDoubles() {
        std::vector<int32_t> ints;
        appendTo(ints, size());
        clear();
        doubles_ = true;
        for (const int32_t i : ints) put(static_cast<double>(i));
    }

    void clear() {
        for (Piece& piece : used_)
            (piece.bytes() == kLarge ? spareLarge_ : spareSmall_).push_back(std::move(piece));
        used_.clear();
        start_ = pos_ = end_ = nullptr;
        filled_ = 0;
        doubles_ = false;
    }

    std::vector<Piece> used_;                     // in order; the last one is being filled
    std::vector<Piece> spareSmall_, spareLarge_;  // pieces of earlier arrays
    unsigned char* start_ = nullptr;
    unsigned char* pos_ = nullptr;
    unsigned char* end_ = nullptr;
    size_t filled_ = 0;  // bytes in the full pieces
    bool doubles_ = false;
};

}  // namespace vex::reading
