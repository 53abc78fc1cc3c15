// The NEON decoder and encoder (arm64, and 32-bit ARM built with -mfpu=neon; little-endian: the
// units are stored as byte pairs, low byte first). The same steps as kernel_ssse3.cpp, which
// describes them: pure runs of 16 ASCII bytes, of 16 two-byte (vld2) or 16 three-byte (vld3)
// sequences, and otherwise a mixed step that takes any interleaving of one-, two- and three-byte
// characters a 16-byte block at a time, gathered with the shared table of pack_table.h (kPack).
// The shuffle is vqtbl1q_u8 on arm64 and a pair of vtbl2_u8 on 32-bit ARM; the masks that SSE
// reads with movemask are folded here from the lanes with pairwise adds. The encoder takes 16
// characters of one width a step, 16 of one and two bytes in two bytes each with the zeros packed
// out (kPack), and other mixes 8 at a time: each unit's bytes in a 4-byte lane, four units packed
// by their lengths with kQuads, as SSSE3's mixed step does. The scalar code takes what no step
// takes, one sequence at a time.
#include <arm_neon.h>

#include <cstdint>

#include "text/kernels.h"
#include "text/pack_table.h"

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

// Bit j set when lane j of m (all ones or zero) is set, for the 16 lanes.
unsigned mask_of(uint8x16_t m) noexcept {
    static constexpr std::uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                               1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t b = vandq_u8(m, vld1q_u8(kBits));
    uint8x8_t s = vpadd_u8(vget_low_u8(b), vget_high_u8(b));
    s = vpadd_u8(s, s);
    s = vpadd_u8(s, s);
    return vget_lane_u16(vreinterpret_u16_u8(s), 0);
}

// Bytes of table picked by index; an index of 16 or more gives 0.
uint8x16_t shuffle(uint8x16_t table, uint8x16_t index) noexcept {
#if defined(__aarch64__)
    return vqtbl1q_u8(table, index);
#else
    uint8x8x2_t t;
    t.val[0] = vget_low_u8(table);
    t.val[1] = vget_high_u8(table);
    return vcombine_u8(vtbl2_u8(t, vget_low_u8(index)), vtbl2_u8(t, vget_high_u8(index)));
#endif
}

// Packs the 16-bit lanes of units that an 8-bit mask selects to the front and stores all 8 at
// out; returns how many were selected.
std::size_t pack_units(char16_t* out, uint8x16_t units, unsigned mask) noexcept {
    const uint8x8_t at = vld1_u8(kPack.positions[mask]);
    const uint8x8_t twice = vadd_u8(at, at);
    const uint8x8x2_t pairs = vzip_u8(twice, vadd_u8(twice, vdup_n_u8(1)));
    vst1q_u8(reinterpret_cast<std::uint8_t*>(out),
             shuffle(units, vcombine_u8(pairs.val[0], pairs.val[1])));
    return kPack.counts[mask];
}

// Lanes of v moved up by k (1 or 2), zeros coming in at lane 0.
template <int k>
uint8x16_t lanes_up(uint8x16_t v) noexcept {
    return vextq_u8(vdupq_n_u8(0), v, 16 - k);
}

}  // namespace

std::size_t decode_neon(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    const uint8x16_t top2 = vdupq_n_u8(0xC0);
    const uint8x16_t tail = vdupq_n_u8(0x80);
    const uint8x16_t low6 = vdupq_n_u8(0x3F);
    // The ends of a block of pure two-byte, and of pure three-byte, sequences.
    constexpr unsigned kTwoByteEnds = 0xAAAA;
    constexpr unsigned kThreeByteEnds = 0x4924;
    std::size_t i = 0;
    std::size_t o = 0;
    while (n - i >= 16) {
        const uint8x16_t v = vld1q_u8(p + i);
        if (!any_set(vandq_u8(v, tail))) {
            vst1q_u16(reinterpret_cast<std::uint16_t*>(out + o), vmovl_u8(vget_low_u8(v)));
            vst1q_u16(reinterpret_cast<std::uint16_t*>(out + o + 8), vmovl_u8(vget_high_u8(v)));
            i += 16;
            o += 16;
            continue;
        }
        if (n - i < 17) break;
        const uint8x16_t next = vld1q_u8(p + i + 1);
        const int8x16_t next_signed = vreinterpretq_s8_u8(next);
        // Bit j: b[j + 1] is no continuation byte (80..BF are the signed bytes below -64).
        const unsigned ends = mask_of(vcgtq_s8(next_signed, vdupq_n_s8(-65)));
        if (ends == kThreeByteEnds && n - i >= 48) {
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
        } else if (ends == kTwoByteEnds && n - i >= 32) {
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

        // The mixed step. Classes: continuation bytes, leads of any multi-byte sequence (C0..FF),
        // leads of three or more (E0..FF), and the leads left to the scalar code (C0, C1, F0..FF,
        // E0 before 80..9F).
        const uint8x16_t conts = vceqq_u8(vandq_u8(v, top2), tail);
        const uint8x16_t leads = vcgeq_u8(v, top2);
        const uint8x16_t leads3 = vcgeq_u8(v, vdupq_n_u8(0xE0));
        const uint8x16_t odd = vorrq_u8(
            vorrq_u8(vcgeq_u8(v, vdupq_n_u8(0xF0)), vceqq_u8(vandq_u8(v, vdupq_n_u8(0xFE)), top2)),
            vandq_u8(vceqq_u8(v, vdupq_n_u8(0xE0)), vcltq_s8(next_signed, vdupq_n_s8(-0x60))));
        // Bit j of wrong: b[j] is a continuation byte where none is called for or the other way
        // round, or b[j - 1] is an odd lead. Bit 16: the character at b[15] or b[14] runs past
        // the block, or b[15] is odd.
        const uint8x16_t called = vorrq_u8(lanes_up<1>(leads), lanes_up<2>(leads3));
        const unsigned wrong =
            mask_of(vorrq_u8(veorq_u8(called, conts), lanes_up<1>(odd))) |
            ((vgetq_lane_u8(vorrq_u8(leads, odd), 15) | vgetq_lane_u8(leads3, 14)) & 1u) << 16;
        // A problem at bit b of wrong allows ends up to b - 2.
        unsigned take = ends;
        if (wrong != 0) {
            const unsigned first = static_cast<unsigned>(__builtin_ctz(wrong));
            take = first >= 2 ? take & ((1u << (first - 1)) - 1) : 0;
        }
        if (take == 0) {
            const Progress one = decode_scalar_until(p, n, out, {i, o}, i + 1);
            i = one.in;
            o = one.out;
            continue;
        }
        // The candidate unit at every position, as if a character ended there.
        const uint8x16_t prev1 = lanes_up<1>(v);
        const uint8x16_t prev2 = lanes_up<2>(v);
        const uint8x16_t low =
            vorrq_u8(vandq_u8(v, vdupq_n_u8(0x7F)), vandq_u8(conts, vshlq_n_u8(prev1, 6)));
        const uint8x16_t high =
            vandq_u8(conts, vorrq_u8(vandq_u8(vshrq_n_u8(prev1, 2), vdupq_n_u8(0x0F)),
                                     vandq_u8(lanes_up<1>(conts), vshlq_n_u8(prev2, 4))));
        const uint8x16x2_t units = vzipq_u8(low, high);
        o += pack_units(out + o, units.val[0], take & 0xFF);
        o += pack_units(out + o, units.val[1], take >> 8);
        i += 32 - static_cast<std::size_t>(__builtin_clz(take));
    }
    return decode_scalar_until(p, n, out, {i, o}, n).out;
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

// Packs the bytes of v that an 8-bit mask selects to out[o], storing all 8; returns the new o.
std::size_t pack_bytes(uint8x8_t v, unsigned mask, unsigned char* out, std::size_t o) noexcept {
    vst1_u8(out + o, vtbl1_u8(v, vld1_u8(kPack.positions[mask])));
    return o + kPack.counts[mask];
}

// The two-byte forms of the units of u: C0 | bits 6-10, then 80 | bits 0-5.
uint16x8_t pairs_of(uint16x8_t u) noexcept {
    const uint16x8_t last = vorrq_u16(vandq_u16(u, vdupq_n_u16(0x3F)), vdupq_n_u16(0x80));
    return vorrq_u16(vorrq_u16(vshrq_n_u16(u, 6), vdupq_n_u16(0xC0)), vshlq_n_u16(last, 8));
}

// Packs the bytes of four characters, each in a 4-byte lane of v, to out[o] by their lengths
// (pack_table.h's kQuads), storing 16 bytes; returns the new o.
std::size_t pack_quad(uint16x8_t v, unsigned lengths, unsigned char* out, std::size_t o) noexcept {
    const unsigned char* at = kQuads.shuffles[kQuads.of_lengths[lengths]];
    vst1q_u8(out + o, shuffle(vreinterpretq_u8_u16(v), vld1q_u8(at)));
    return o + at[15];
}

// The mixed step: 8 units of any widths to out[o]; returns the new o. Needs kMixedRoom units
// from where it starts: its second 16-byte store ends up to 28 bytes past 3i.
constexpr std::size_t kMixedRoom = 10;

std::size_t encode_mixed(uint16x8_t u, unsigned char* out, std::size_t o) noexcept {
    const uint16x8_t ascii = vcltq_u16(vsubq_u16(u, vdupq_n_u16(1)), vdupq_n_u16(0x7F));  // 1..7F
    const uint16x8_t three = vcgeq_u16(u, vdupq_n_u16(0x800));
    const uint16x8_t tail = vdupq_n_u16(0x80);
    const uint16x8_t low6 = vdupq_n_u16(0x3F);
    const uint16x8_t last = vorrq_u16(vandq_u16(u, low6), tail);
    const uint16x8_t mid = vorrq_u16(vandq_u16(vshrq_n_u16(u, 6), low6), tail);
    // Each unit's first two bytes (the second zero for ASCII), and its third (zero but for three
    // bytes); zipped, every unit's bytes in a 4-byte lane.
    const uint16x8_t leads = vbslq_u16(
        three, vorrq_u16(vorrq_u16(vshrq_n_u16(u, 12), vdupq_n_u16(0xE0)), vshlq_n_u16(mid, 8)),
        vbslq_u16(ascii, u, pairs_of(u)));
    const uint16x8x2_t quads = vzipq_u16(leads, vandq_u16(three, last));
    // 2 bits a unit: bit 2j when unit j takes two bytes or more, bit 2j + 1 when three.
    const uint8x8x2_t bits = vzip_u8(vmovn_u16(vmvnq_u16(ascii)), vmovn_u16(three));
    const unsigned lengths = mask_of(vcombine_u8(bits.val[0], bits.val[1]));
    o = pack_quad(quads.val[0], lengths & 0xFF, out, o);
    return pack_quad(quads.val[1], lengths >> 8, out, o);
}

// Eight units of one and two bytes, and ascii their ASCII lanes, to out[o]: every unit in two
// bytes, the second zero where one will do, and the zeros packed out eight bytes at a time
// (kPack); returns the new o. Stores up to 16 bytes past o, within the units' 2 bytes each.
std::size_t encode_short(uint16x8_t u, uint16x8_t ascii, unsigned char* out,
                         std::size_t o) noexcept {
    const uint8x16_t both = vreinterpretq_u8_u16(vbslq_u16(ascii, u, pairs_of(u)));
    const unsigned kept = mask_of(vtstq_u8(both, both));
    o = pack_bytes(vget_low_u8(both), kept & 0xFF, out, o);
    return pack_bytes(vget_high_u8(both), kept >> 8, out, o);
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
    // A step's last store (the second mixed step's) ends at most 52 bytes past 3i: 8 units more
    // than its 16 keep it within 3n.
    while (i + 24 <= n) {
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
        if (!any_set(vreinterpretq_u8_u16(vorrq_u16(wide_a, wide_b)))) {  // one and two bytes
            o = encode_short(a, ascii_a, out, o);
            o = encode_short(b, ascii_b, out, o);
            i += 16;
            continue;
        }
        o = encode_mixed(a, out, o);
        o = encode_mixed(b, out, o);
        i += 16;
    }
    for (; i + kMixedRoom <= n; i += 8) {
        o = encode_mixed(vld1q_u16(reinterpret_cast<const std::uint16_t*>(units + i)), out, o);
    }
    return encode_scalar_range(units, i, n, out, o);
}

}  // namespace detail
}  // namespace kiv::text
