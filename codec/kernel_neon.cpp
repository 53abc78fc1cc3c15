// NEON kernels (arm64, and armv7 built with -mfpu=neon): 32 input bytes per
// step. vld2q/vst2q split and merge the even and odd bytes directly.
#include <arm_neon.h>

#include "codec/kernels.h"

namespace kiv::codec {
namespace detail {

void scramble_neon(const unsigned char* in, std::size_t n, unsigned char* front,
                   unsigned char* back) noexcept {
    const uint8x16_t one = vdupq_n_u8(1);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const uint8x16x2_t p0 = vld2q_u8(in + i);
        const uint8x16x2_t p1 = vld2q_u8(in + i + 32);
        vst1q_u8(front + i / 2, vaddq_u8(p0.val[0], one));
        vst1q_u8(front + i / 2 + 16, vaddq_u8(p1.val[0], one));
        vst1q_u8(back + i / 2, vsubq_u8(p0.val[1], one));
        vst1q_u8(back + i / 2 + 16, vsubq_u8(p1.val[1], one));
    }
    scramble_scalar(in + i, n - i, front + i / 2, back + i / 2);
}

void unscramble_pairs_neon(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                           unsigned char* out) noexcept {
    const uint8x16_t one = vdupq_n_u8(1);
    std::size_t k = 0;
    for (; k + 32 <= pairs; k += 32) {
        uint8x16x2_t p0;
        uint8x16x2_t p1;
        p0.val[0] = vsubq_u8(vld1q_u8(front + k), one);
        p0.val[1] = vaddq_u8(vld1q_u8(back + k), one);
        p1.val[0] = vsubq_u8(vld1q_u8(front + k + 16), one);
        p1.val[1] = vaddq_u8(vld1q_u8(back + k + 16), one);
        vst2q_u8(out + 2 * k, p0);
        vst2q_u8(out + 2 * k + 32, p1);
    }
    unscramble_pairs_scalar(front + k, back + k, pairs - k, out + 2 * k);
}

}  // namespace detail
}  // namespace kiv::codec
