// The portable kernels: plain loops, built at -O3 on every target (codec/CMakeLists.txt), where
// the compiler vectorises them with the target's baseline vector instructions (SSE2 on x86,
// NEON on arm64 and Android's armeabi-v7a). Also the tails of the AVX2 kernels.
#include "codec/kernels.h"

namespace kiv::codec {
namespace detail {

void scramble_scalar(const unsigned char* in, std::size_t n, unsigned char* front,
                     unsigned char* back) noexcept {
    const std::size_t pairs = n / 2;
    for (std::size_t k = 0; k < pairs; ++k) {
        front[k] = static_cast<unsigned char>(in[2 * k] + 1u);
        back[k] = static_cast<unsigned char>(in[2 * k + 1] - 1u);
    }
    if (n & 1u) front[pairs] = static_cast<unsigned char>(in[n - 1] + 1u);
}

void unscramble_pairs_scalar(const unsigned char* front, const unsigned char* back,
                             std::size_t pairs, unsigned char* out) noexcept {
    for (std::size_t k = 0; k < pairs; ++k) {
        out[2 * k] = static_cast<unsigned char>(front[k] - 1u);
        out[2 * k + 1] = static_cast<unsigned char>(back[k] + 1u);
    }
}

}  // namespace detail
}  // namespace kiv::codec
