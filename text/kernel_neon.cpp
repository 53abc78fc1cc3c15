// The NEON decoder: 16 ASCII bytes, 16 two-byte (vld2) or 16 three-byte (vld3) sequences per
// step, taken only when the whole block is of that kind; otherwise the scalar decoder takes the
// next 16 bytes' worth of sequences before the vectors are tried again. The encoder takes 16
// characters of one width (one, two or three bytes) a step, and mixed blocks one by one.
// (arm64, and 32-bit ARM built with -mfpu=neon; little-endian: the units are stored as byte
// pairs, low byte first.)
#include <arm_neon.h>

#include <cstdint>

#include "text/kernels.h"

namespace kiv::text {
namespace detail {
namespace {

bool any_set(uint8x16_t v) noexcept {
#if defined(__aarch64__)
    return vmaxvq_u8(v) != 0;
#else
    const uint64x2_t w = vreinterpretq_u64_u8(v);
    return (vgetq_lane_u64(w, 0) | vgetq_lane_u64(w, 1)) != 0;
#endif
}

void store_units(char16_t* out, uint8x16_t low, uint8x16_t high) noexcept {
    uint8x16x2_t pairs;
    pairs.val[0] = low;
    pairs.val[1] = high;
    vst2q_u8(reinterpret_cast<std::uint8_t*>(out), pairs);
}

}  // namespace

std::size_t decode_neon(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    const uint8x16_t top2 = vdupq_n_u8(0xC0);
    const uint8x16_t tail = vdupq_n_u8(0x80);
    const uint8x16_t low6 = vdupq_n_u8(0x3F);
    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        const std::size_t left = n - i;
        if (left >= 16) {
            const uint8x16_t v = vld1q_u8(p + i);
            if (!any_set(vandq_u8(v, tail))) {
                vst1q_u16(reinterpret_cast<std::uint16_t*>(out + o), vmovl_u8(vget_low_u8(v)));
                vst1q_u16(reinterpret_cast<std::uint16_t*>(out + o + 8), vmovl_u8(vget_high_u8(v)));
                i += 16;
                o += 16;
                continue;
            }
        }
        if (left >= 48) {
            const uint8x16x3_t s = vld3q_u8(p + i);
            // Leads E0..EF, two continuation bytes, and no overlong form (E0 needs A0..BF).
            const uint8x16_t bad = vorrq_u8(
                vorrq_u8(vmvnq_u8(vceqq_u8(vandq_u8(s.val[0], vdupq_n_u8(0xF0)), vdupq_n_u8(0xE0))),
                         vmvnq_u8(vceqq_u8(vandq_u8(s.val[1], top2), tail))),
                vorrq_u8(vmvnq_u8(vceqq_u8(vandq_u8(s.val[2], top2), tail)),
                         vandq_u8(vceqq_u8(s.val[0], vdupq_n_u8(0xE0)),
                                  vcltq_u8(s.val[1], vdupq_n_u8(0xA0)))));
            if (!any_set(bad)) {
                const uint8x16_t high = vorrq_u8(
                    vshlq_n_u8(s.val[0], 4), vandq_u8(vshrq_n_u8(s.val[1], 2), vdupq_n_u8(0x0F)));
                const uint8x16_t low = vorrq_u8(vshlq_n_u8(s.val[1], 6), vandq_u8(s.val[2], low6));
                store_units(out + o, low, high);
                i += 48;
                o += 16;
                continue;
            }
        }
        if (left >= 32) {
            const uint8x16x2_t s = vld2q_u8(p + i);
            // Leads C2..DF (C0 80 is left to the scalar decoder), then a continuation byte.
            const uint8x16_t lead_ok =
                vandq_u8(vceqq_u8(vandq_u8(s.val[0], vdupq_n_u8(0xE0)), top2),
                         vcgeq_u8(s.val[0], vdupq_n_u8(0xC2)));
            const uint8x16_t bad =
                vorrq_u8(vmvnq_u8(lead_ok), vmvnq_u8(vceqq_u8(vandq_u8(s.val[1], top2), tail)));
            if (!any_set(bad)) {
                const uint8x16_t high = vandq_u8(vshrq_n_u8(s.val[0], 2), vdupq_n_u8(0x07));
                const uint8x16_t low = vorrq_u8(vshlq_n_u8(s.val[0], 6), vandq_u8(s.val[1], low6));
                store_units(out + o, low, high);
                i += 32;
                o += 16;
                continue;
            }
        }
        const Progress next = decode_scalar_until(p, n, out, {i, o}, left > 16 ? i + 16 : n);
        i = next.in;
        o = next.out;
    }
    return o;
}

namespace {

bool all_set(uint16x8_t m) noexcept {
#if defined(__aarch64__)
    return vminvq_u16(m) == 0xFFFF;
#else
    const uint64x2_t w = vreinterpretq_u64_u16(m);
    return (vgetq_lane_u64(w, 0) & vgetq_lane_u64(w, 1)) == ~std::uint64_t{0};
#endif
}

}  // namespace

std::size_t encode_neon(const char16_t* units, std::size_t n, unsigned char* out) noexcept {
    const uint16x8_t one = vdupq_n_u16(1);
    const uint16x8_t ascii_span = vdupq_n_u16(0x7F);
    const uint16x8_t three_from = vdupq_n_u16(0x800);
    const uint8x16_t tail = vdupq_n_u8(0x80);
    const uint8x16_t low6 = vdupq_n_u8(0x3F);
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 16 <= n) {
        const uint16x8_t a = vld1q_u16(reinterpret_cast<const std::uint16_t*>(units + i));
        const uint16x8_t b = vld1q_u16(reinterpret_cast<const std::uint16_t*>(units + i + 8));
        const uint16x8_t ascii_a = vcltq_u16(vsubq_u16(a, one), ascii_span);  // 1..7F
        const uint16x8_t ascii_b = vcltq_u16(vsubq_u16(b, one), ascii_span);
        if (all_set(vandq_u16(ascii_a, ascii_b))) {
            vst1q_u8(out + o, vcombine_u8(vmovn_u16(a), vmovn_u16(b)));
            i += 16;
            o += 16;
            continue;
        }
        const uint16x8_t wide_a = vcgeq_u16(a, three_from);
        const uint16x8_t wide_b = vcgeq_u16(b, three_from);
        const uint8x16_t low = vcombine_u8(vmovn_u16(a), vmovn_u16(b));
        const uint8x16_t mid =
            vcombine_u8(vmovn_u16(vshrq_n_u16(a, 6)), vmovn_u16(vshrq_n_u16(b, 6)));
        if (all_set(vandq_u16(wide_a, wide_b))) {
            uint8x16x3_t s;
            s.val[0] =
                vorrq_u8(vcombine_u8(vmovn_u16(vshrq_n_u16(a, 12)), vmovn_u16(vshrq_n_u16(b, 12))),
                         vdupq_n_u8(0xE0));
            s.val[1] = vorrq_u8(vandq_u8(mid, low6), tail);
            s.val[2] = vorrq_u8(vandq_u8(low, low6), tail);
            vst3q_u8(out + o, s);
            i += 16;
            o += 48;
            continue;
        }
        if (all_set(vandq_u16(vbicq_u16(vmvnq_u16(wide_a), ascii_a),
                              vbicq_u16(vmvnq_u16(wide_b), ascii_b)))) {  // U+0000 too, as C0 80
            uint8x16x2_t s;
            s.val[0] = vorrq_u8(mid, vdupq_n_u8(0xC0));
            s.val[1] = vorrq_u8(vandq_u8(low, low6), tail);
            vst2q_u8(out + o, s);
            i += 16;
            o += 32;
            continue;
        }
        o = encode_scalar_range(units, i, i + 16, out, o);
        i += 16;
    }
    return encode_scalar_range(units, i, n, out, o);
}

}  // namespace detail
}  // namespace kiv::text
