// Picks the UTF-8 decoder and encoder for the running CPU, anew on every call: the checks are a
// few loads, and no state is kept between calls.
#include <initializer_list>

#include "text/utf.h"
#include "text/utf_kernels.h"

namespace kiv::text {
namespace {

struct Kernels {
    std::size_t (*decode)(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
    std::size_t (*encode)(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
};

std::size_t encode_scalar(const char16_t* units, std::size_t n, unsigned char* out) noexcept {
    return detail::encode_scalar_range(units, 0, n, out, 0);
}

constexpr Kernels kScalar{&detail::decode_scalar, &encode_scalar};
#if defined(KIV_TEXT_WITH_SSSE3)
constexpr Kernels kSsse3{&detail::decode_ssse3, &detail::encode_ssse3};
#endif
#if defined(KIV_TEXT_WITH_NEON)
constexpr Kernels kNeon{&detail::decode_neon, &detail::encode_neon};
#endif

// The kernels of a path, or null when it is not built in or the CPU cannot run it.
const Kernels* kernels_for(Path path) noexcept {
    switch (path) {
        case Path::scalar: return &kScalar;
        case Path::ssse3:
#if defined(KIV_TEXT_WITH_SSSE3)
            return __builtin_cpu_supports("ssse3") ? &kSsse3 : nullptr;
#else
            return nullptr;
#endif
        case Path::neon:
#if defined(KIV_TEXT_WITH_NEON)
            return &kNeon;
#else
            return nullptr;
#endif
    }
    return nullptr;
}

const Kernels& best_kernels() noexcept {
    for (Path path : {Path::ssse3, Path::neon}) {
        if (const Kernels* k = kernels_for(path)) return *k;
    }
    return kScalar;
}

}  // namespace

bool path_supported(Path path) noexcept { return kernels_for(path) != nullptr; }

bool decode_utf8_on(Path path, const unsigned char* p, std::size_t n, char16_t* out,
                    std::size_t& units) noexcept {
    const Kernels* k = kernels_for(path);
    if (k == nullptr) return false;
    units = k->decode(p, n, out);
    return true;
}

bool encode_modified_utf8_on(Path path, const char16_t* units, std::size_t n, unsigned char* out,
                             std::size_t& bytes) noexcept {
    const Kernels* k = kernels_for(path);
    if (k == nullptr) return false;
    bytes = k->encode(units, n, out);
    return true;
}

std::size_t decode_utf8(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    return best_kernels().decode(p, n, out);
}

std::size_t encode_modified_utf8(const char16_t* units, std::size_t n,
                                 unsigned char* out) noexcept {
    return best_kernels().encode(units, n, out);
}

}  // namespace kiv::text
