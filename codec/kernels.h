#pragma once
// Internal: the per-instruction-set kernels behind codec::scramble and friends, chosen as
// cmake/Kernels.cmake describes (the same way as text/'s).
//
// Two kernel sets: the portable one (kernel_scalar.cpp), plain loops that the compiler
// vectorises itself (the file is built at -O3 everywhere: SSE2 on x86, NEON on ARM, as fast as
// the hand-written kernels for those were), and AVX2 on x86-64, which still beats it.
//
// Every kernel set has the same two entry points:
//   scramble(in, n, front, back): front[k] = in[2k] + 1 for k < ceil(n/2),
//                                 back[k]  = in[2k+1] - 1 for k < floor(n/2).
//   unscramble_pairs(front, back, pairs, out): out[2k] = front[k] - 1,
//                                              out[2k+1] = back[k] + 1 for k < pairs.
// Inputs and outputs must not overlap. Full vector blocks are done with the
// instruction set, the rest by the portable kernel.
//
// Kernel files built with extra instruction-set flags must not define or
// instantiate any inline function or template shared with other files (the
// linker could keep their copy for everyone), so they only use intrinsics and
// call the portable kernel for tails.
#include <cstddef>

namespace kiv::codec {

enum class Path { scalar, avx2 };
// Every path, built in or not: what tests and benchmarks go through.
constexpr Path kPaths[] = {Path::scalar, Path::avx2};

struct Kernels {
    Path path;
    void (*scramble)(const unsigned char* in, std::size_t n, unsigned char* front,
                     unsigned char* back) noexcept;
    void (*unscramble_pairs)(const unsigned char* front, const unsigned char* back,
                             std::size_t pairs, unsigned char* out) noexcept;
};

// True when the path is built into this library and the running CPU can execute it.
bool path_supported(Path path) noexcept;

// True when the path is built into this library, whatever the CPU.
bool path_built(Path path) noexcept;

// The kernels of one path, or nullptr when path_supported(path) is false.
// Tests and benchmarks use this to run a given path directly.
const Kernels* kernels_for(Path path) noexcept;

// The fastest supported path; what scramble/unscramble/encode/decode use.
const Kernels& best_kernels() noexcept;

// In-place forms with a given kernel set, used by encode/decode when input and
// output overlap. No heap: a 4 KiB stack buffer, O(n log n) byte moves.
void scramble_in_place(unsigned char* buf, std::size_t n, const Kernels& k) noexcept;
void unscramble_in_place(unsigned char* buf, std::size_t n, const Kernels& k) noexcept;

namespace detail {
void scramble_scalar(const unsigned char* in, std::size_t n, unsigned char* front,
                     unsigned char* back) noexcept;
void unscramble_pairs_scalar(const unsigned char* front, const unsigned char* back,
                             std::size_t pairs, unsigned char* out) noexcept;
void scramble_avx2(const unsigned char* in, std::size_t n, unsigned char* front,
                   unsigned char* back) noexcept;
void unscramble_pairs_avx2(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                           unsigned char* out) noexcept;
}  // namespace detail

}  // namespace kiv::codec
