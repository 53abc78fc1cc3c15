// The SSSE3 decoder and encoder (this file alone is built with -mssse3 and only runs when the
// CPU reports SSSE3). Pure runs keep their own steps: 16 ASCII bytes, 8 two-byte or 8 three-byte
// sequences (or characters) at a time. Everything else goes through a mixed step that takes any
// interleaving of one-, two- and three-byte characters a vector at a time, gathered with the
// shared table of pack_table.h (kPack: for each 8-bit mask the positions of its set bits, and
// their count). The scalar code takes what no step takes, one sequence at a time.
//
// Decoding, the mixed step (16 bytes b[0..15] at a character boundary, and b[16]):
//  1. Classify: bit j of `cont` when b[j] is 80..BF, of `lead2` for C0..DF, of `lead3` for
//     E0..FF; `odd` for the leads the step leaves to the scalar code (C0, C1, F0..FF, and E0
//     before 80..9F: zero as C0 80, overlong and four-byte forms, invalid bytes). Bit j of
//     `ends` when b[j + 1] is no continuation byte: the character holding b[j] ends there.
//  2. Check: the continuation bytes the leads call for, (lead2 | lead3) << 1 | lead3 << 2, must be
//     exactly `cont`. A character ending at e is taken when no mismatch lies at or before e + 1
//     and no odd lead at or before e; so is every one before it. The step consumes up to the
//     last such end (at least 14 of the 16 bytes when the block is clean).
//  3. Candidates: for every position j, the unit of a character ending at b[j], whatever its
//     length: low byte (b[j] & 7F) | (b[j - 1] << 6 when b[j] continues), high byte
//     (b[j - 1] >> 2 & 0F) | (b[j - 2] << 4 when b[j] and b[j - 1] both continue), masked to the
//     bits each byte holds. Only the candidates at ends are units; the others are never kept.
//  4. Gather: for each half of the block (8 positions, 8-bit mask of its ends) the shuffle that
//     moves the candidates at the ends to the front is kPack.positions[mask] with every position
//     p spread to the byte pair 2p, 2p + 1; each half is stored and advances the output by
//     kPack.counts[mask] units.
//  Bit 16 of `cont` is b[16]'s, so that a clean block shows no mismatch at all and the branch
//  that cuts a block short is almost never taken. A block of 8 whole three-byte sequences, or
//  one whose ends are those of pure two-byte text, takes its pure step instead. The mixed steps
//  run in a loop of their own (decode_mixed) until a block is ASCII-led or starts a likely
//  three-byte run, so that the pure steps' loop keeps its constants in registers.
//
// Encoding, the mixed step (8 units; a surrogate is one more three-byte unit):
//  1. Every unit is written in a 4-byte lane of its own (two vectors of four): one-byte
//     characters as (c, 0, 0, 0), two-byte ones as (C0 | c >> 6, 80 | c & 3F, 0, 0), three-byte
//     ones in full, then a zero.
//  2. The lengths of each four units, 2 bits a unit from the masks of ASCII and of three-byte
//     lanes, pick the shuffle of pack_table.h's kQuads that packs their bytes to the front; each
//     vector is stored and advances the output by the count in the shuffle's last byte.
//  A block with no three-byte character is written as two bytes a unit instead (16 bytes, zero
//  where one will do; modified UTF-8 has no zero byte, so the nonzero bytes are the ones to keep),
//  each half packed by kPack; blocks of one width take their pure steps.
// NEON has the same shuffle (vqtbl1q_u8 / vtbl2_u8), so the table and both steps carry over.
#include <tmmintrin.h>

#include "text/kernels.h"
#include "text/pack_table.h"

namespace kiv::text {
namespace detail {
namespace {

inline void store_units(char16_t* out, __m128i units) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), units);
}

inline __m128i load(const void* p) noexcept {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

inline unsigned mask_of(__m128i v) noexcept { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

// How many of the eight 16-bit lanes, from the first, are all ones in ok.
inline std::size_t leading_lanes(__m128i ok) noexcept {
    const unsigned bad = ~mask_of(ok) & 0xFFFFu;
    return bad == 0 ? 8 : static_cast<std::size_t>(__builtin_ctz(bad)) / 2;
}

// The shuffle that packs the 16-bit lanes selected by an 8-bit mask to the front.
inline __m128i lane_packer(unsigned mask) noexcept {
    const __m128i at = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.positions[mask]));
    const __m128i twice = _mm_add_epi8(at, at);
    return _mm_unpacklo_epi8(twice, _mm_add_epi8(twice, _mm_set1_epi8(1)));
}

// Packs the bytes of the low 8 of v that mask selects to out[o], storing 8 bytes; returns the
// new o.
inline std::size_t pack_bytes(__m128i v, unsigned mask, unsigned char* out,
                              std::size_t o) noexcept {
    const __m128i at = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.positions[mask]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(v, at));
    return o + kPack.counts[mask];
}

// Units a mixed step needs from where it starts: its second 16-byte store ends at most 28 bytes
// past 3i, so two units more than the block's 8 keep it within 3n.
constexpr std::size_t kMixedRoom = 10;

// Packs the bytes of four characters, each in a 4-byte lane of v, to out[o] by their lengths
// (kQuads), storing 16 bytes; returns the new o.
inline std::size_t pack_quad(__m128i v, unsigned lengths, unsigned char* out,
                             std::size_t o) noexcept {
    const unsigned char* shuffle = kQuads.shuffles[kQuads.of_lengths[lengths]];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(v, load(shuffle)));
    return o + shuffle[15];
}

// Whether decode_ssse3's own steps take the block at p[i] (n - i >= 17): ASCII first, or
// (likely) eight three-byte sequences.
inline bool pure_block(const unsigned char* p, std::size_t i, std::size_t n,
                       unsigned high) noexcept {
    return (high & 0xFF) == 0 ||
           (n - i >= 24 && (p[i] & 0xF0) == 0xE0 && (p[i + 21] & 0xF0) == 0xE0);
}

// Mixed steps (and pure two-byte ones) from at, a character boundary with 17 bytes or more
// left, one at least and then for as long as decode_ssse3's own steps would not take the block.
// Out of line, so that the caller's loop keeps its constants in registers.
__attribute__((noinline)) Progress decode_mixed(const unsigned char* p, std::size_t n,
                                                char16_t* out, Progress at) noexcept {
    const __m128i zero = _mm_setzero_si128();
    // Two-byte sequences: each pair's bytes swapped, lead high.
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m128i low6 = _mm_set1_epi16(0x003F);
    // The ends of a block of pure two-byte sequences.
    constexpr unsigned kTwoByteEnds = 0xAAAA;
    std::size_t i = at.in;
    std::size_t o = at.out;
    for (bool first = true; n - i >= 17; first = false) {
        const __m128i v = load(p + i);
        const unsigned high = mask_of(v);
        if (!first && pure_block(p, i, n, high)) break;
        const __m128i next = load(p + i + 1);
        // Bit j: b[j + 1] is no continuation byte (80..BF are the signed bytes below -64).
        const unsigned ends = mask_of(_mm_cmpgt_epi8(next, _mm_set1_epi8(-65)));
        if (ends == kTwoByteEnds) {
            const __m128i w = _mm_shuffle_epi8(v, swap);
            const __m128i units =
                _mm_or_si128(_mm_and_si128(w, low6),
                             _mm_and_si128(_mm_srli_epi16(w, 2), _mm_set1_epi16(0x07C0)));
            const __m128i ok =
                _mm_andnot_si128(_mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(-0x0080)),
                                                 zero),  // overlong, C0 80
                                 _mm_cmpeq_epi16(_mm_and_si128(w, _mm_set1_epi16(-0x1F40)),
                                                 _mm_set1_epi16(-0x3F80)));  // C0..DF, then 80..BF
            const std::size_t k = leading_lanes(ok);
            if (k > 0) {
                store_units(out + o, units);
                i += 2 * k;
                o += k;
                continue;
            }
        }

        // The mixed step. Byte classes from the top bits: bit 6 and bit 5 of each byte.
        const __m128i v2 = _mm_add_epi8(v, v);
        const unsigned bit6 = mask_of(v2);
        const unsigned bit5 = mask_of(_mm_add_epi8(v2, v2));
        const unsigned cont = high & ~bit6;
        const unsigned lead2 = high & bit6 & ~bit5;
        const unsigned lead3 = high & bit6 & bit5;
        const __m128i odd_leads = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(-0x10)), v),  // F0..FF
                         _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(-2)),
                                        _mm_set1_epi8(-0x40))),  // C0, C1
            _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(-0x20)),
                          _mm_cmpgt_epi8(_mm_set1_epi8(-0x60), next)));  // E0 80..9F
        const unsigned odd = mask_of(odd_leads);
        // b[16] included, so that a clean block shows no mismatch at all.
        const unsigned mismatch =
            (((lead2 | lead3) << 1) | (lead3 << 2)) ^ (cont | (~ends & 0x8000) << 1);
        // A problem at bit b of wrong allows ends up to b - 2.
        const unsigned wrong = ((odd << 1) | mismatch) & 0x1FFFF;
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

        const __m128i conts = _mm_cmpgt_epi8(_mm_set1_epi8(-64), v);
        const __m128i prev1 = _mm_slli_si128(v, 1);
        const __m128i prev2 = _mm_slli_si128(v, 2);
        const __m128i low = _mm_or_si128(
            _mm_and_si128(v, _mm_set1_epi8(0x7F)),
            _mm_and_si128(conts, _mm_and_si128(_mm_slli_epi16(prev1, 6), _mm_set1_epi8(-0x40))));
        const __m128i high_bytes = _mm_and_si128(
            conts, _mm_or_si128(_mm_and_si128(_mm_srli_epi16(prev1, 2), _mm_set1_epi8(0x0F)),
                                _mm_and_si128(_mm_slli_si128(conts, 1),
                                              _mm_and_si128(_mm_slli_epi16(prev2, 4),
                                                            _mm_set1_epi8(-0x10)))));
        const unsigned front = take & 0xFF;
        const unsigned back = take >> 8;
        store_units(out + o,
                    _mm_shuffle_epi8(_mm_unpacklo_epi8(low, high_bytes), lane_packer(front)));
        o += kPack.counts[front];
        store_units(out + o,
                    _mm_shuffle_epi8(_mm_unpackhi_epi8(low, high_bytes), lane_packer(back)));
        o += kPack.counts[back];
        i += 32 - static_cast<std::size_t>(__builtin_clz(take));
    }
    return {i, o};
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t decode_ssse3(const unsigned char* p, std::size_t n,
                                          char16_t* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    // Three-byte sequences: lanes 0-3 from bytes 0-11 of a, lanes 4-7 from bytes 4-15 of b (the
    // block's bytes 8-23). tails: second byte high, third low; leads: the first byte.
    const __m128i tails_a = _mm_setr_epi8(2, 1, 5, 4, 8, 7, 11, 10, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i tails_b =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 6, 5, 9, 8, 12, 11, 15, 14);
    const __m128i leads_a =
        _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i leads_b =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 4, -1, 7, -1, 10, -1, 13, -1);
    const __m128i low6 = _mm_set1_epi16(0x003F);

    std::size_t i = 0;
    // Bytes read less units written (o is i - behind): an ASCII run moves i alone, and the
    // compiler keeps both in registers.
    std::size_t behind = 0;
    while (n - i >= 16) {
        const std::size_t o = i - behind;
        const __m128i v = load(p + i);
        const unsigned high = mask_of(v);
        if ((high & 0xFF) == 0) {  // an ASCII run: all 16 bytes, or up to the first high one
            store_units(out + o, _mm_unpacklo_epi8(v, zero));
            store_units(out + o + 8, _mm_unpackhi_epi8(v, zero));
            const std::size_t k = high == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(high));
            i += k;
            continue;
        }
        if (n - i >= 24 &&
            (p[i] & 0xF0) ==
                0xE0) {  // a run of three-byte sequences?  // a run of three-byte sequences?
            const __m128i a = v;
            const __m128i b = load(p + i + 8);
            const __m128i tails =
                _mm_or_si128(_mm_shuffle_epi8(a, tails_a), _mm_shuffle_epi8(b, tails_b));
            const __m128i leads =
                _mm_or_si128(_mm_shuffle_epi8(a, leads_a), _mm_shuffle_epi8(b, leads_b));
            const __m128i units = _mm_or_si128(
                _mm_or_si128(_mm_and_si128(tails, low6),
                             _mm_and_si128(_mm_srli_epi16(tails, 2), _mm_set1_epi16(0x0FC0))),
                _mm_slli_epi16(leads, 12));
            const __m128i ok = _mm_andnot_si128(
                _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(-0x0800)), zero),  // overlong
                _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(tails, _mm_set1_epi16(-0x3F40)),
                                              _mm_set1_epi16(-0x7F80)),  // 80..BF twice
                              _mm_cmpeq_epi16(_mm_and_si128(leads, _mm_set1_epi16(0x00F0)),
                                              _mm_set1_epi16(0x00E0))));  // E0..EF
            if (mask_of(ok) == 0xFFFF) {
                store_units(out + o, units);
                i += 24;
                behind += 16;
                continue;
            }
        }
        if (n - i < 17) break;
        const Progress at = decode_mixed(p, n, out, {i, o});
        i = at.in;
        behind = at.in - at.out;
    }
    return decode_scalar_until(p, n, out, {i, i - behind}, n).out;
}

namespace {

// The three-byte forms of 8 characters: lane k of firsts holds the first byte (low) and the
// second (high), lane k of lasts the third; these pick the 24 output bytes, 16 and then 8.
inline __m128i front_bytes(__m128i firsts, __m128i lasts) noexcept {
    return _mm_or_si128(_mm_shuffle_epi8(firsts, _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7,
                                                               -1, 8, 9, -1, 10)),
                        _mm_shuffle_epi8(lasts, _mm_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1,
                                                              -1, 6, -1, -1, 8, -1)));
}

inline __m128i back_bytes(__m128i firsts, __m128i lasts) noexcept {
    return _mm_or_si128(_mm_shuffle_epi8(firsts, _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1,
                                                               -1, -1, -1, -1, -1, -1, -1)),
                        _mm_shuffle_epi8(lasts, _mm_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1,
                                                              -1, -1, -1, -1, -1, -1, -1)));
}

// The lanes of 8 units that are ASCII (1..7F), and those that take three bytes.
inline __m128i ascii_lanes_of(__m128i u) noexcept {
    const __m128i zero = _mm_setzero_si128();
    return _mm_andnot_si128(_mm_cmpeq_epi16(u, zero),
                            _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(-0x0080)), zero));
}

inline __m128i three_lanes_of(__m128i u) noexcept {
    const __m128i zero = _mm_setzero_si128();
    return _mm_cmpeq_epi16(_mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(-0x0800)), zero), zero);
}

// The first two bytes of each unit's three-byte form, and the third.
inline __m128i three_firsts(__m128i u) noexcept {
    const __m128i second = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x003F)),
                                        _mm_set1_epi16(0x0080));
    return _mm_or_si128(_mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0x00E0)),
                        _mm_slli_epi16(second, 8));
}

inline __m128i three_lasts(__m128i u) noexcept {
    return _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x003F)), _mm_set1_epi16(0x0080));
}

// Blocks of 8 units from i that are neither all ASCII nor all three-byte characters (one at
// least, then for as long as that holds), encoded from out[o] on; i + kMixedRoom <= n. Out of line,
// as decode_mixed. Returns the units and bytes done.
__attribute__((noinline)) Progress encode_mixed(const char16_t* units, std::size_t n,
                                                unsigned char* out, Progress at) noexcept {
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = at.in;
    std::size_t o = at.out;
    for (bool first = true; i + kMixedRoom <= n; first = false) {
        const __m128i u = load(units + i);
        const __m128i ascii = ascii_lanes_of(u);
        const __m128i three = three_lanes_of(u);
        const unsigned ascii_lanes = mask_of(ascii);
        const unsigned three_lanes = mask_of(three);
        if (!first && (ascii_lanes == 0xFFFF || three_lanes == 0xFFFF)) break;
        // Two-byte forms, U+0000 among them (C0 80).
        const __m128i tails = three_lasts(u);
        const __m128i pairs = _mm_or_si128(
            _mm_or_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x00C0)), _mm_slli_epi16(tails, 8));
        if ((ascii_lanes | three_lanes) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), pairs);
            i += 8;
            o += 16;
            continue;
        }
        const __m128i short_forms =
            _mm_or_si128(_mm_and_si128(ascii, u), _mm_andnot_si128(ascii, pairs));
        if (three_lanes == 0) {  // one and two bytes: every unit in two, zero where one will do
            const unsigned kept = ~mask_of(_mm_cmpeq_epi8(short_forms, zero)) & 0xFFFF;
            o = pack_bytes(short_forms, kept & 0xFF, out, o);
            o = pack_bytes(_mm_srli_si128(short_forms, 8), kept >> 8, out, o);
            i += 8;
            continue;
        }
        // The mixed step: every unit's bytes in a 4-byte lane, zeros after them, packed four
        // units at a time by their lengths.
        const __m128i leads = _mm_or_si128(_mm_and_si128(three, three_firsts(u)),
                                           _mm_andnot_si128(three, short_forms));
        const __m128i thirds = _mm_and_si128(three, tails);
        const unsigned lengths = (~ascii_lanes & 0x5555u) | (three_lanes & 0xAAAAu);
        o = pack_quad(_mm_unpacklo_epi16(leads, thirds), lengths & 0xFF, out, o);
        o = pack_quad(_mm_unpackhi_epi16(leads, thirds), lengths >> 8, out, o);
        i += 8;
    }
    return {i, o};
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t encode_ssse3(const char16_t* units, std::size_t n,
                                          unsigned char* out) noexcept {
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 8 <= n) {
        const __m128i u = load(units + i);
        const std::size_t k = leading_lanes(ascii_lanes_of(u));
        if (k > 0) {  // an ASCII run: all 8, or up to the first other unit
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(u, u));
            i += k;
            o += k;
            continue;
        }
        const std::size_t wide = leading_lanes(three_lanes_of(u));
        if (wide == 8) {
            const __m128i firsts = three_firsts(u);
            const __m128i lasts = three_lasts(u);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), front_bytes(firsts, lasts));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o + 16), back_bytes(firsts, lasts));
            i += 8;
            o += 24;
            continue;
        }
        if (n - i < kMixedRoom) break;
        const Progress at = encode_mixed(units, n, out, {i, o});
        i = at.in;
        o = at.out;
    }
    return encode_scalar_range(units, i, n, out, o);
}

}  // namespace detail
}  // namespace kiv::text
