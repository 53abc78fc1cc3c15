// Public entry points: length-based scramble/unscramble for the library, and the
// exported zero-terminated encode/decode (in place where they overlap: in_place.cpp). None of it
// touches the heap.
#include "codec/codec.h"

#include <kiv/codec.h>

#include <cstdint>
#include <cstring>

#include "codec/kernels.h"

namespace kiv::codec {
namespace {

// True when reading in[0, n) cannot see any of the writes to out[0, n].
bool disjoint(const void* in, const void* out, std::size_t n) noexcept {
    const auto i = reinterpret_cast<std::uintptr_t>(in);
    const auto o = reinterpret_cast<std::uintptr_t>(out);
    return o + n + 1 <= i || i + n <= o;
}

}  // namespace

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
