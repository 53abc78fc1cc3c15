#pragma once
// The one dispatcher of codec/ and text/: which instruction sets the running CPU executes, and
// the choice of a library's kernels by them.
//
// Each library keeps a table of the kernel sets built in (cmake/Kernels.cmake), best first, each
// row with the instruction sets it needs; the portable set needs none and comes last. Its
// dispatcher is then one line per question:
//   best(table)        the first row the CPU runs: what the library's entry points use
//   find(table, path)  the row of one path if the CPU runs it (tests and benchmarks force a
//                      kernel this way), or nullptr
//   listed(table, path) whether the path is built in at all
// Nothing is kept between calls: the CPU is asked anew each time (a few loads), so the library
// has no state to set up and no guarded function-local static.
//
// Only dispatchers include this header, never a kernel file: those are built with instruction-set
// flags, and an inline function compiled there could be the copy the linker keeps for everyone.
#include <cstddef>

#if (defined(__arm__) && !defined(__ARM_NEON)) && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace kiv::cpu {

// One bit per instruction set a kernel may need.
enum Feature : unsigned {
    ssse3 = 1u << 0,
    sse42 = 1u << 1,
    avx2 = 1u << 2,
    neon = 1u << 3,
    avx512 = 1u << 4,
};

// The instruction sets of the running CPU (and its OS: AVX2 only where the OS saves the YMM
// registers). A set the build's baseline has is known without asking.
inline unsigned features() noexcept {
    unsigned f = 0;
#if defined(__x86_64__) || defined(__i386__)
#if defined(__SSSE3__)
    f |= ssse3;  // a 32-bit x86 build at Android's x86 level, where SSSE3 is baseline
#else
    if (__builtin_cpu_supports("ssse3")) f |= ssse3;
#endif
    if (__builtin_cpu_supports("sse4.2")) f |= sse42;
    // The AVX2 kernels count bits with POPCNT, which every AVX2 CPU has.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) f |= avx2;
    // AVX-512 only where the OS saves the ZMM and mask registers too, as the AVX2 test does.
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2")) {
        f |= avx512;
    }
#elif defined(__aarch64__) || (defined(__arm__) && defined(__ARM_NEON))
    f |= neon;  // arm64, or a 32-bit build where NEON is baseline
#elif defined(__arm__) && defined(__linux__)
    if ((getauxval(AT_HWCAP) & (1UL << 12)) != 0) f |= neon;  // HWCAP_NEON on 32-bit ARM
#endif
    return f;
}

// A row of a library's table: a kernel set and the instruction sets it needs.
template <typename Kernels>
struct Option {
    unsigned needs;
    Kernels kernels;
};

template <typename Kernels, std::size_t N>
const Kernels* best(const Option<Kernels> (&table)[N]) noexcept {
    const unsigned has = features();
    for (const Option<Kernels>& row : table) {
        if ((row.needs & ~has) == 0) return &row.kernels;
    }
    return nullptr;  // not reached: the last row needs nothing
}

template <typename Kernels, std::size_t N, typename Path>
bool listed(const Option<Kernels> (&table)[N], Path path) noexcept {
    for (const Option<Kernels>& row : table) {
        if (row.kernels.path == path) return true;
    }
    return false;
}

template <typename Kernels, std::size_t N, typename Path>
const Kernels* find(const Option<Kernels> (&table)[N], Path path) noexcept {
    const unsigned has = features();
    for (const Option<Kernels>& row : table) {
        if (row.kernels.path == path) return (row.needs & ~has) == 0 ? &row.kernels : nullptr;
    }
    return nullptr;
}

}  // namespace kiv::cpu
