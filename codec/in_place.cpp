// The in-place scramble and unscramble: the buffer split in two at an even point, each part
// done in place, and the halves put where the whole's go by a rotation through a stack buffer.
#include <cstring>

#include "codec/kernels.h"

namespace kiv::codec {
namespace {

// Stack scratch size for the in-place forms: the base case of the recursion
// and the chunk size of the block-swapping rotation.
constexpr std::size_t kScratchSize = 4096;

// Exchanges two equally long, non-overlapping ranges through the scratch buffer.
void swap_ranges(unsigned char* x, unsigned char* y, std::size_t len,
                 unsigned char* scratch) noexcept {
    while (len != 0) {
        const std::size_t chunk = len < kScratchSize ? len : kScratchSize;
        std::memcpy(scratch, x, chunk);
        std::memcpy(x, y, chunk);
        std::memcpy(y, scratch, chunk);
        x += chunk;
        y += chunk;
        len -= chunk;
    }
}

// Turns [first, middle) [middle, last) into [middle, last) [first, middle).
// Swaps blocks until one side fits the scratch buffer, so every byte is moved
// with memcpy/memmove and O(1) times on average.
void rotate(unsigned char* first, unsigned char* middle, unsigned char* last,
            unsigned char* scratch) noexcept {
    std::size_t a = static_cast<std::size_t>(middle - first);
    std::size_t b = static_cast<std::size_t>(last - middle);
    while (a != 0 && b != 0) {
        if (a <= kScratchSize) {
            std::memcpy(scratch, first, a);
            std::memmove(first, middle, b);
            std::memcpy(first + b, scratch, a);
            return;
        }
        if (b <= kScratchSize) {
            std::memcpy(scratch, middle, b);
            std::memmove(first + b, first, a);
            std::memcpy(first, scratch, b);
            return;
        }
        if (a <= b) {
            // [A | B1 B2] -> [B1 | A B2]; what is left is rotating [A | B2].
            swap_ranges(first, middle, a, scratch);
            first += a;
            middle += a;
            b -= a;
        } else {
            // [A1 A2 | B] -> [B | A2 A1]; what is left is rotating [A2 | A1].
            swap_ranges(first, middle, b, scratch);
            first += b;
            a -= b;
        }
    }
}

// Split point for the recursion: even, so the right part starts on an even
// position and its own front/back halves are parts of the whole's.
std::size_t split_of(std::size_t n) noexcept { return (n / 2) & ~std::size_t{1}; }

void scramble_rec(unsigned char* buf, std::size_t n, const Kernels& k,
                  unsigned char* scratch) noexcept {
    if (n <= kScratchSize) {
        std::memcpy(scratch, buf, n);
        k.scramble(scratch, n, buf, buf + (n + 1) / 2);
        return;
    }
    const std::size_t m = split_of(n);
    scramble_rec(buf, m, k, scratch);
    scramble_rec(buf + m, n - m, k, scratch);
    // [Le Lo | Re Ro] -> [Le Re | Lo Ro]
    const std::size_t right_front = (n - m + 1) / 2;
    rotate(buf + m / 2, buf + m, buf + m + right_front, scratch);
}

void unscramble_rec(unsigned char* buf, std::size_t n, const Kernels& k,
                    unsigned char* scratch) noexcept {
    if (n <= kScratchSize) {
        std::memcpy(scratch, buf, n);
        unscramble_with(k, scratch, n, buf);
        return;
    }
    const std::size_t m = split_of(n);
    // [Le Re | Lo Ro] -> [Le Lo | Re Ro]
    const std::size_t right_front = (n - m + 1) / 2;
    rotate(buf + m / 2, buf + m / 2 + right_front, buf + m + right_front, scratch);
    unscramble_rec(buf, m, k, scratch);
    unscramble_rec(buf + m, n - m, k, scratch);
}

}  // namespace

void scramble_in_place(unsigned char* buf, std::size_t n, const Kernels& k) noexcept {
    if (n == 0) return;  // buf may be null then
    unsigned char scratch[kScratchSize];
    scramble_rec(buf, n, k, scratch);
}

void unscramble_in_place(unsigned char* buf, std::size_t n, const Kernels& k) noexcept {
    if (n == 0) return;
    unsigned char scratch[kScratchSize];
    unscramble_rec(buf, n, k, scratch);
}

}  // namespace kiv::codec
