// Picks the kernel set for the running CPU. Only the paths built for this
// target (KIV_CODEC_WITH_* from codec/CMakeLists.txt) are referenced.
#include "codec/kernels.h"

#if defined(KIV_CODEC_WITH_NEON) && defined(__arm__) && !defined(__ARM_NEON) && defined(__linux__)
#include <sys/auxv.h>
#define KIV_CODEC_NEON_BY_HWCAP 1
#endif

namespace kiv {
namespace {

constexpr codec_kernels scalar_kernels{codec_path::scalar, "scalar", &detail::scramble_scalar,
                                       &detail::unscramble_pairs_scalar};
#if defined(KIV_CODEC_WITH_SSE2)
constexpr codec_kernels sse2_kernels{codec_path::sse2, "sse2", &detail::scramble_sse2,
                                     &detail::unscramble_pairs_sse2};
#endif
#if defined(KIV_CODEC_WITH_AVX2)
constexpr codec_kernels avx2_kernels{codec_path::avx2, "avx2", &detail::scramble_avx2,
                                     &detail::unscramble_pairs_avx2};
#endif
#if defined(KIV_CODEC_WITH_NEON)
constexpr codec_kernels neon_kernels{codec_path::neon, "neon", &detail::scramble_neon,
                                     &detail::unscramble_pairs_neon};
#endif

bool cpu_runs(codec_path path) noexcept {
    switch (path) {
        case codec_path::scalar: return true;
        case codec_path::sse2:
#if defined(KIV_CODEC_WITH_SSE2) && (defined(__SSE2__) || defined(__x86_64__))
            return true;
#elif defined(KIV_CODEC_WITH_SSE2)
            return __builtin_cpu_supports("sse2");
#else
            return false;
#endif
        case codec_path::avx2:
#if defined(KIV_CODEC_WITH_AVX2)
            // Also false when the OS does not save the YMM registers.
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
        case codec_path::neon:
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

const codec_kernels* compiled_kernels(codec_path path) noexcept {
    switch (path) {
        case codec_path::scalar: return &scalar_kernels;
        case codec_path::sse2:
#if defined(KIV_CODEC_WITH_SSE2)
            return &sse2_kernels;
#else
            return nullptr;
#endif
        case codec_path::avx2:
#if defined(KIV_CODEC_WITH_AVX2)
            return &avx2_kernels;
#else
            return nullptr;
#endif
        case codec_path::neon:
#if defined(KIV_CODEC_WITH_NEON)
            return &neon_kernels;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

const codec_kernels* pick_best() noexcept {
    const codec_path preferred[] = {codec_path::avx2, codec_path::neon, codec_path::sse2};
    for (codec_path path : preferred) {
        if (const codec_kernels* k = codec_kernels_for(path)) return k;
    }
    return &scalar_kernels;
}

}  // namespace

bool codec_path_supported(codec_path path) noexcept {
    return compiled_kernels(path) != nullptr && cpu_runs(path);
}

const codec_kernels* codec_kernels_for(codec_path path) noexcept {
    return codec_path_supported(path) ? compiled_kernels(path) : nullptr;
}

// Asked anew on every call: the CPU checks are a few loads, and no state is kept between calls
// (which also spares the library the C++ runtime's guarded statics).
const codec_kernels& codec_best_kernels() noexcept { return *pick_best(); }

}  // namespace kiv
