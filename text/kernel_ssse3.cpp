// The SSSE3 decoder: 16 ASCII bytes, 8 two-byte or 8 three-byte sequences per step. A block that
// holds other bytes keeps its leading run of the expected kind; a block with none of it leaves
// one sequence to the scalar decoder. The encoder likewise takes 8 characters a step and keeps
// the leading ones of one width (one, two or three bytes). This file alone is built with -mssse3
// and only runs when the CPU reports SSSE3.
#include <tmmintrin.h>

#include "text/kernels.h"

namespace kiv::text {
namespace detail {
namespace {

inline void store_units(char16_t* out, __m128i units) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), units);
}

// How many of the eight 16-bit lanes, from the first, are all ones in ok.
inline std::size_t leading_lanes(__m128i ok) noexcept {
    const unsigned bad = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu;
    return bad == 0 ? 8 : static_cast<std::size_t>(__builtin_ctz(bad)) / 2;
}

}  // namespace

std::size_t decode_ssse3(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
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
    // Two-byte sequences: each pair's bytes swapped, lead high.
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m128i low6 = _mm_set1_epi16(0x003F);

    std::size_t i = 0;
    std::size_t o = 0;
    while (i < n) {
        const std::size_t left = n - i;
        if (left >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
            if ((high & 1) == 0) {  // an ASCII run: all 16 bytes, or up to the first high one
                store_units(out + o, _mm_unpacklo_epi8(v, zero));
                store_units(out + o + 8, _mm_unpackhi_epi8(v, zero));
                const std::size_t k =
                    high == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(high));
                i += k;
                o += k;
                continue;
            }
        }
        if (left >= 24) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
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
            const std::size_t k = leading_lanes(ok);
            if (k > 0) {
                store_units(out + o, units);
                i += 3 * k;
                o += k;
                continue;
            }
        }
        if (left >= 16) {
            const __m128i w =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), swap);
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
        const Progress next = decode_scalar_until(p, n, out, {i, o}, i + 1);
        i = next.in;
        o = next.out;
    }
    return o;
}

std::size_t encode_ssse3(const char16_t* units, std::size_t n, unsigned char* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i tail = _mm_set1_epi16(0x0080);
    const __m128i low6 = _mm_set1_epi16(0x003F);
    // Three-byte characters: lane k of firsts holds the first byte (low) and the second (high),
    // lane k of thirds the third; these pick the 24 output bytes, 16 and then 8.
    const __m128i front_firsts =
        _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
    const __m128i front_thirds =
        _mm_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1);
    const __m128i back_firsts =
        _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i back_thirds =
        _mm_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 8 <= n) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const __m128i below_800 = _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(-0x0800)), zero);
        const __m128i ascii =
            _mm_andnot_si128(_mm_cmpeq_epi16(u, zero),
                             _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(-0x0080)), zero));
        std::size_t k = leading_lanes(ascii);
        if (k > 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(u, u));
            i += k;
            o += k;
            continue;
        }
        k = leading_lanes(_mm_cmpeq_epi16(below_800, zero));
        if (k > 0) {
            const __m128i firsts = _mm_or_si128(
                _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0x00E0)),
                _mm_slli_epi16(_mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), low6), tail), 8));
            const __m128i thirds = _mm_or_si128(_mm_and_si128(u, low6), tail);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                             _mm_or_si128(_mm_shuffle_epi8(firsts, front_firsts),
                                          _mm_shuffle_epi8(thirds, front_thirds)));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o + 16),
                             _mm_or_si128(_mm_shuffle_epi8(firsts, back_firsts),
                                          _mm_shuffle_epi8(thirds, back_thirds)));
            i += k;
            o += 3 * k;
            continue;
        }
        // Two-byte characters, U+0000 among them (C0 80).
        k = leading_lanes(_mm_andnot_si128(ascii, below_800));
        const __m128i pairs =
            _mm_or_si128(_mm_or_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x00C0)),
                         _mm_slli_epi16(_mm_or_si128(_mm_and_si128(u, low6), tail), 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), pairs);
        i += k;
        o += 2 * k;
    }
    return encode_scalar_range(units, i, n, out, o);
}

}  // namespace detail
}  // namespace kiv::text
