// Picks the kernel set for the running CPU. Only the paths built for this
// target (KIV_CODEC_WITH_* from codec/CMakeLists.txt) are referenced.
#include "codec/kernels.h"

#if defined(KIV_CODEC_WITH_NEON) && defined(__arm__) && !defined(__ARM_NEON) && defined(__linux__)
#include <sys/auxv.h>
#define KIV_CODEC_NEON_BY_HWCAP 1
#endif

namespace kiv::codec {
namespace {

constexpr Kernels scalar_kernels{Path::scalar, &detail::scramble_scalar,
                                 &detail::unscramble_pairs_scalar};
#if defined(KIV_CODEC_WITH_SSE2)
constexpr Kernels sse2_kernels{Path::sse2, &detail::scramble_sse2, &detail::unscramble_pairs_sse2};
#endif
#if defined(KIV_CODEC_WITH_AVX2)
constexpr Kernels avx2_kernels{Path::avx2, &detail::scramble_avx2, &detail::unscramble_pairs_avx2};
#endif
#if defined(KIV_CODEC_WITH_NEON)
constexpr Kernels neon_kernels{Path::neon, &detail::scramble_neon, &detail::unscramble_pairs_neon};
#endif

bool cpu_runs(Path path) noexcept {
    switch (path) {
        case Path::scalar: return true;
        case Path::sse2:
#if defined(KIV_CODEC_WITH_SSE2) && (defined(__SSE2__) || defined(__x86_64__))
            return true;
#elif defined(KIV_CODEC_WITH_SSE2)
            return __builtin_cpu_supports("sse2");
#else
            return false;
#endif
        case Path::avx2:
#if defined(KIV_CODEC_WITH_AVX2)
            // Also false when the OS does not save the YMM registers.
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
        case Path::neon:
#if defined(KIV_CODEC_NEON_BY_HWCAP)
            return (getauxval(AT_HWCAP) & (1UL << 12)) != 0;  // HWCAP_NEON on 32-bit ARM
#elif defined(KIV_CODEC_WITH_NEON)
            return true;  // arm64, or a 32-bit build where NEON is baseline
#else
            return false;
#endif
    }
    return false;
}

const Kernels* compiled_kernels(Path path) noexcept {
    switch (path) {
        case Path::scalar: return &scalar_kernels;
        case Path::sse2:
#if defined(KIV_CODEC_WITH_SSE2)
            return &sse2_kernels;
#else
            return nullptr;
#endif
        case Path::avx2:
#if defined(KIV_CODEC_WITH_AVX2)
            return &avx2_kernels;
#else
            return nullptr;
#endif
        case Path::neon:
#if defined(KIV_CODEC_WITH_NEON)
            return &neon_kernels;
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
    return &scalar_kernels;
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
