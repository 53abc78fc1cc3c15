// Picks the UTF-8 decoder for the running CPU, anew on every call: the checks are a few loads,
// and no state is kept between calls.
#include "text/utf.h"
#include "text/utf_kernels.h"

namespace kiv::text {

bool path_supported(Path path) noexcept {
    switch (path) {
        case Path::scalar: return true;
        case Path::ssse3:
#if defined(KIV_TEXT_WITH_SSSE3)
            return __builtin_cpu_supports("ssse3");
#else
            return false;
#endif
        case Path::neon:
#if defined(KIV_TEXT_WITH_NEON)
            return true;
#else
            return false;
#endif
    }
    return false;
}

bool decode_utf8_on(Path path, const unsigned char* p, std::size_t n, char16_t* out,
                    std::size_t& units) noexcept {
    if (!path_supported(path)) return false;
    switch (path) {
        case Path::scalar: units = detail::decode_scalar(p, n, out); return true;
        case Path::ssse3:
#if defined(KIV_TEXT_WITH_SSSE3)
            units = detail::decode_ssse3(p, n, out);
            return true;
#else
            return false;
#endif
        case Path::neon:
#if defined(KIV_TEXT_WITH_NEON)
            units = detail::decode_neon(p, n, out);
            return true;
#else
            return false;
#endif
    }
    return false;
}

bool encode_modified_utf8_on(Path path, const char16_t* units, std::size_t n, unsigned char* out,
                             std::size_t& bytes) noexcept {
    if (!path_supported(path)) return false;
    switch (path) {
        case Path::scalar: bytes = detail::encode_scalar_range(units, 0, n, out, 0); return true;
        case Path::ssse3:
#if defined(KIV_TEXT_WITH_SSSE3)
            bytes = detail::encode_ssse3(units, n, out);
            return true;
#else
            return false;
#endif
        case Path::neon:
#if defined(KIV_TEXT_WITH_NEON)
            bytes = detail::encode_neon(units, n, out);
            return true;
#else
            return false;
#endif
    }
    return false;
}

std::size_t encode_modified_utf8(const char16_t* units, std::size_t n,
                                 unsigned char* out) noexcept {
    std::size_t bytes = 0;
    const Path preferred[] = {Path::ssse3, Path::neon};
    for (Path path : preferred) {
        if (encode_modified_utf8_on(path, units, n, out, bytes)) return bytes;
    }
    return detail::encode_scalar_range(units, 0, n, out, 0);
}

std::size_t decode_utf8(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    std::size_t units = 0;
    const Path preferred[] = {Path::ssse3, Path::neon};
    for (Path path : preferred) {
        if (decode_utf8_on(path, p, n, out, units)) return units;
    }
    return detail::decode_scalar(p, n, out);
}

}  // namespace kiv::text
