// Picks the UTF-8 decoder and encoder for the running CPU, among the paths built for this target
// (KIV_KERNEL_<SET>, from cmake/Kernels.cmake).
#include "text/kernels.h"

#if defined(KIV_KERNEL_NEON) && defined(__arm__) && !defined(__ARM_NEON) && defined(__linux__)
#include <sys/auxv.h>
#define KIV_KERNEL_NEON_BY_HWCAP 1
#endif

namespace kiv::text {
namespace {

constexpr Kernels kScalar{Path::scalar, &detail::decode_scalar, &detail::encode_scalar};
#if defined(KIV_KERNEL_SSSE3)
constexpr Kernels kSsse3{Path::ssse3, &detail::decode_ssse3, &detail::encode_ssse3};
#endif
#if defined(KIV_KERNEL_NEON)
constexpr Kernels kNeon{Path::neon, &detail::decode_neon, &detail::encode_neon};
#endif

bool cpu_runs(Path path) noexcept {
    switch (path) {
        case Path::scalar: return true;
        case Path::ssse3:
#if defined(KIV_KERNEL_SSSE3) && defined(__SSSE3__)
            return true;  // a 32-bit x86 build at Android's x86 level, where SSSE3 is baseline
#elif defined(KIV_KERNEL_SSSE3)
            return __builtin_cpu_supports("ssse3");
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
        case Path::ssse3:
#if defined(KIV_KERNEL_SSSE3)
            return &kSsse3;
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
    const Path preferred[] = {Path::ssse3, Path::neon};
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

}  // namespace kiv::text
