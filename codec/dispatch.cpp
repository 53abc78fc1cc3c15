// Picks the scramble's kernels for the running CPU, among the paths built for this target
// (KIV_KERNEL_<SET>, from cmake/Kernels.cmake).
#include "codec/kernels.h"

#if defined(KIV_KERNEL_NEON) && defined(__arm__) && !defined(__ARM_NEON) && defined(__linux__)
#include <sys/auxv.h>
#define KIV_KERNEL_NEON_BY_HWCAP 1
#endif

namespace kiv::codec {
namespace {

constexpr Kernels kScalar{Path::scalar, &detail::scramble_scalar, &detail::unscramble_pairs_scalar};
#if defined(KIV_KERNEL_SSE2)
constexpr Kernels kSse2{Path::sse2, &detail::scramble_sse2, &detail::unscramble_pairs_sse2};
#endif
#if defined(KIV_KERNEL_AVX2)
constexpr Kernels kAvx2{Path::avx2, &detail::scramble_avx2, &detail::unscramble_pairs_avx2};
#endif
#if defined(KIV_KERNEL_NEON)
constexpr Kernels kNeon{Path::neon, &detail::scramble_neon, &detail::unscramble_pairs_neon};
#endif

bool cpu_runs(Path path) noexcept {
    switch (path) {
        case Path::scalar: return true;
        case Path::sse2:
#if defined(KIV_KERNEL_SSE2) && (defined(__SSE2__) || defined(__x86_64__))
            return true;
#elif defined(KIV_KERNEL_SSE2)
            return __builtin_cpu_supports("sse2");
#else
            return false;
#endif
        case Path::avx2:
#if defined(KIV_KERNEL_AVX2)
            // Also false when the OS does not save the YMM registers.
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
        case Path::neon:
#if defined(KIV_KERNEL_NEON_BY_HWCAP)
            return (getauxval(AT_HWCAP) & (1UL << 12)) != 0;  // HWCAP_NEON on 32-bit ARM
#elif defined(KIV_KERNEL_NEON)
            return true;  // arm64, or a 32-bit build where NEON is baseline
#else
            return false;
#endif
    }
    return false;
}

const Kernels* compiled_kernels(Path path) noexcept {
    switch (path) {
        case Path::scalar: return &kScalar;
        case Path::sse2:
#if defined(KIV_KERNEL_SSE2)
            return &kSse2;
#else
            return nullptr;
#endif
        case Path::avx2:
#if defined(KIV_KERNEL_AVX2)
            return &kAvx2;
#else
            return nullptr;
#endif
        case Path::neon:
#if defined(KIV_KERNEL_NEON)
            return &kNeon;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

const Kernels* pick_best() noexcept {
    const Path preferred[] = {Path::avx2, Path::neon, Path::sse2};
    for (Path path : preferred) {
        if (const Kernels* k = kernels_for(path)) return k;
    }
    return &kScalar;
}

}  // namespace

bool path_supported(Path path) noexcept {
    return compiled_kernels(path) != nullptr && cpu_runs(path);
}

const Kernels* kernels_for(Path path) noexcept {
    return path_supported(path) ? compiled_kernels(path) : nullptr;
}

// Asked anew on every call: the CPU checks are a few loads, and no state is kept between calls
// (which also spares the library the C++ runtime's guarded statics).
const Kernels& best_kernels() noexcept { return *pick_best(); }

}  // namespace kiv::codec
