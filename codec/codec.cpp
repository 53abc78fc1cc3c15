// Public entry points: length-based scramble/unscramble for the library, and the
// exported zero-terminated encode/decode. None of it touches the heap.
#include "codec/codec.h"

#include <kiv/codec.h>

#include <cstdint>
#include <cstring>

#include "codec/kernels.h"

namespace kiv::codec {
namespace {

// Stack scratch size for the in-place forms: the base case of the recursion
// and the chunk size of the block-swapping rotation.
constexpr std::size_t kScratchSize = 4096;

void scramble_with(const Kernels& k, const unsigned char* in, std::size_t n,
                   unsigned char* out) noexcept {
    k.scramble(in, n, out, out + (n + 1) / 2);
}

void unscramble_with(const Kernels& k, const unsigned char* in, std::size_t n,
                     unsigned char* out) noexcept {
    const std::size_t front = (n + 1) / 2;
    k.unscramble_pairs(in, in + front, n / 2, out);
    if (n & 1u) out[n - 1] = static_cast<unsigned char>(in[front - 1] - 1u);
}

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

// True when reading in[0, n) cannot see any of the writes to out[0, n].
bool disjoint(const void* in, const void* out, std::size_t n) noexcept {
    const auto i = reinterpret_cast<std::uintptr_t>(in);
    const auto o = reinterpret_cast<std::uintptr_t>(out);
    return o + n + 1 <= i || i + n <= o;
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

void scramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept {
    scramble_with(best_kernels(), in, n, out);
}

void scramble_halves(const unsigned char* in, std::size_t n, unsigned char* front,
                     unsigned char* back) noexcept {
    best_kernels().scramble(in, n, front, back);
}

void unscramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept {
    unscramble_with(best_kernels(), in, n, out);
}

void unscramble_pairs(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                      unsigned char* out) noexcept {
    best_kernels().unscramble_pairs(front, back, pairs, out);
}

}  // namespace kiv::codec

namespace {

// What encode and decode share: measure the zero-terminated input, convert it straight into
// the output where the two are apart, or move it there and convert it in place where they
// overlap, then terminate the output.
void convert_terminated(const char* input, char* output,
                        void (*apart)(const kiv::codec::Kernels&, const unsigned char*, std::size_t,
                                      unsigned char*) noexcept,
                        void (*in_place)(unsigned char*, std::size_t,
                                         const kiv::codec::Kernels&) noexcept) noexcept {
    if (input == nullptr || output == nullptr) return;
    const std::size_t n = std::strlen(input);
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    auto* out = reinterpret_cast<unsigned char*>(output);
    const kiv::codec::Kernels& k = kiv::codec::best_kernels();
    if (kiv::codec::disjoint(in, out, n)) {
        apart(k, in, n, out);
    } else {
        if (out != in) std::memmove(out, in, n);
        in_place(out, n, k);
    }
    out[n] = 0;
}

}  // namespace

extern "C" {

void encode(const char* plain, char* out) {
    convert_terminated(plain, out, kiv::codec::scramble_with, kiv::codec::scramble_in_place);
}

void decode(const char* scrambled, char* out) {
    convert_terminated(scrambled, out, kiv::codec::unscramble_with,
                       kiv::codec::unscramble_in_place);
}

}  // extern "C"
