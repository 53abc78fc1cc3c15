// The AVX2 decoder and encoder: kernel_ssse3.cpp's steps on 32 bytes (decoding) and 16 units
// (encoding) at a time, with the same table (pack_table.h) and the same checks; see the
// description of the algorithms there. Where AVX2 shifts a byte across the two 128-bit halves of
// a vector it takes the neighbour from the other half (alignr over a half-swapped copy). The
// last 32 bytes (16 units) go to the SSSE3 kernel, which every AVX2 CPU runs. The encoder also
// has a way of its own through runs of blocks of mixed widths (encode_dense). This file alone is
// built with -mavx2 and only runs when the CPU (and the OS) report AVX2.
#include <immintrin.h>

#include <cstdint>

#include "text/kernels.h"
#include "text/pack_table.h"

namespace kiv::text {
namespace detail {
namespace {

inline __m256i load32(const void* p) noexcept {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

inline std::uint32_t mask_of(__m256i v) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// v with every byte moved up by `by` positions (1 or 2) across the whole 32 bytes, zeros first.
template <int by>
inline __m256i shift_up(__m256i v) noexcept {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 16 - by);
}

// Packs the 16-bit lanes of v that the 8-bit mask selects to out + o; returns the new o.
inline std::size_t pack_units(__m128i v, unsigned mask, char16_t* out, std::size_t o) noexcept {
    const __m128i at = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.positions[mask]));
    const __m128i twice = _mm_add_epi8(at, at);
    const __m128i lanes = _mm_unpacklo_epi8(twice, _mm_add_epi8(twice, _mm_set1_epi8(1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(v, lanes));
    return o + kPack.counts[mask];
}

// Packs the bytes of the low 8 of v that mask selects to out + o; returns the new o.
inline std::size_t pack_bytes(__m128i v, unsigned mask, unsigned char* out,
                              std::size_t o) noexcept {
    const __m128i at = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPack.positions[mask]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(v, at));
    return o + kPack.counts[mask];
}

// Stores the bytes of four characters, each in a 4-byte lane of v, packed by their lengths
// (pack_table.h's kQuads), to the 16 bytes at `at`.
inline void store_quad(__m128i v, unsigned lengths, unsigned char* at) noexcept {
    const unsigned char* shuffle = kQuads.shuffles[kQuads.of_lengths[lengths]];
    const __m128i packed =
        _mm_shuffle_epi8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), packed);
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t decode_avx2(const unsigned char* p, std::size_t n,
                                         char16_t* out) noexcept {
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1,
                                          0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const __m256i low6 = _mm256_set1_epi16(0x003F);
    // Three-byte sequences, in each half as kernel_ssse3.cpp's: a holds the bytes of the first
    // four, b those of the next four (from its byte 4 on).
    const __m256i tails_a =
        _mm256_setr_epi8(2, 1, 5, 4, 8, 7, 11, 10, -1, -1, -1, -1, -1, -1, -1, -1, 2, 1, 5, 4, 8, 7,
                         11, 10, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i tails_b =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 6, 5, 9, 8, 12, 11, 15, 14, -1, -1, -1, -1,
                         -1, -1, -1, -1, 6, 5, 9, 8, 12, 11, 15, 14);
    const __m256i leads_a =
        _mm256_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1, 3, -1,
                         6, -1, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i leads_b =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 4, -1, 7, -1, 10, -1, 13, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, 4, -1, 7, -1, 10, -1, 13, -1);
    constexpr std::uint32_t kTwoByteEnds = 0xAAAAAAAAu;
    std::size_t i = 0;
    std::size_t o = 0;
    while (n - i >= 33) {
        const __m256i v = load32(p + i);
        const std::uint32_t high = mask_of(v);
        if ((high & 0xFFFF) == 0) {  // an ASCII run: all 32 bytes, or up to the first high one
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o),
                                _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o + 16),
                                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
            const std::size_t k = high == 0 ? 32 : static_cast<std::size_t>(__builtin_ctz(high));
            i += k;
            o += k;
            continue;
        }
        if (n - i >= 48 && (p[i] & 0xF0) == 0xE0 &&
            (p[i + 45] & 0xF0) == 0xE0) {  // a run of 16 three-byte sequences?
            const __m256i a = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 24)), 1);
            const __m256i b = _mm256_inserti128_si256(
                _mm256_castsi128_si256(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32)), 1);
            const __m256i tails =
                _mm256_or_si256(_mm256_shuffle_epi8(a, tails_a), _mm256_shuffle_epi8(b, tails_b));
            const __m256i leads =
                _mm256_or_si256(_mm256_shuffle_epi8(a, leads_a), _mm256_shuffle_epi8(b, leads_b));
            const __m256i units = _mm256_or_si256(
                _mm256_or_si256(
                    _mm256_and_si256(tails, low6),
                    _mm256_and_si256(_mm256_srli_epi16(tails, 2), _mm256_set1_epi16(0x0FC0))),
                _mm256_slli_epi16(leads, 12));
            const __m256i ok = _mm256_andnot_si256(
                _mm256_cmpeq_epi16(_mm256_and_si256(units, _mm256_set1_epi16(-0x0800)),
                                   _mm256_setzero_si256()),  // overlong
                _mm256_and_si256(
                    _mm256_cmpeq_epi16(_mm256_and_si256(tails, _mm256_set1_epi16(-0x3F40)),
                                       _mm256_set1_epi16(-0x7F80)),  // 80..BF twice
                    _mm256_cmpeq_epi16(_mm256_and_si256(leads, _mm256_set1_epi16(0x00F0)),
                                       _mm256_set1_epi16(0x00E0))));  // E0..EF
            if (mask_of(ok) == 0xFFFFFFFFu) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), units);
                i += 48;
                o += 16;
                continue;
            }
        }
        const __m256i next = load32(p + i + 1);
        // Bit j: b[j + 1] is no continuation byte (80..BF are the signed bytes below -64).
        const std::uint32_t ends = mask_of(_mm256_cmpgt_epi8(next, _mm256_set1_epi8(-65)));
        if (ends == kTwoByteEnds) {
            const __m256i w = _mm256_shuffle_epi8(v, swap);
            const __m256i units = _mm256_or_si256(
                _mm256_and_si256(w, low6),
                _mm256_and_si256(_mm256_srli_epi16(w, 2), _mm256_set1_epi16(0x07C0)));
            const __m256i ok = _mm256_andnot_si256(
                _mm256_cmpeq_epi16(_mm256_and_si256(units, _mm256_set1_epi16(-0x0080)),
                                   _mm256_setzero_si256()),  // overlong, C0 80
                _mm256_cmpeq_epi16(_mm256_and_si256(w, _mm256_set1_epi16(-0x1F40)),
                                   _mm256_set1_epi16(-0x3F80)));  // C0..DF, then 80..BF
            if (mask_of(ok) == 0xFFFFFFFFu) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), units);
                i += 32;
                o += 16;
                continue;
            }
        }

        // The mixed step, as kernel_ssse3.cpp's on 32 bytes (masks of 33 bits and more).
        const __m256i v2 = _mm256_add_epi8(v, v);
        const std::uint64_t bit6 = mask_of(v2);
        const std::uint64_t bit5 = mask_of(_mm256_add_epi8(v2, v2));
        const std::uint64_t cont = high & ~bit6;
        const std::uint64_t lead2 = high & bit6 & ~bit5;
        const std::uint64_t lead3 = high & bit6 & bit5;
        const __m256i odd_leads = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_cmpeq_epi8(_mm256_max_epu8(v, _mm256_set1_epi8(-0x10)), v),  // F0..FF
                _mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(-2)),
                                  _mm256_set1_epi8(-0x40))),  // C0, C1
            _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(-0x20)),
                             _mm256_cmpgt_epi8(_mm256_set1_epi8(-0x60), next)));  // E0 80..9F
        const std::uint64_t odd = mask_of(odd_leads);
        const std::uint64_t mismatch = (((lead2 | lead3) << 1) | (lead3 << 2)) ^
                                       (cont | std::uint64_t{~ends & 0x80000000u} << 1);
        const std::uint64_t wrong = ((odd << 1) | mismatch) & 0x1FFFFFFFFull;
        std::uint32_t take = ends;
        if (wrong != 0) {
            const unsigned first = static_cast<unsigned>(__builtin_ctzll(wrong));
            take = first >= 2 ? take & static_cast<std::uint32_t>((1ull << (first - 1)) - 1) : 0;
        }
        if (take == 0) {
            const Progress one = decode_scalar_until(p, n, out, {i, o}, i + 1);
            i = one.in;
            o = one.out;
            continue;
        }

        const __m256i conts = _mm256_cmpgt_epi8(_mm256_set1_epi8(-64), v);
        const __m256i prev1 = shift_up<1>(v);
        const __m256i prev2 = shift_up<2>(v);
        const __m256i low = _mm256_or_si256(
            _mm256_and_si256(v, _mm256_set1_epi8(0x7F)),
            _mm256_and_si256(
                conts, _mm256_and_si256(_mm256_slli_epi16(prev1, 6), _mm256_set1_epi8(-0x40))));
        const __m256i high_bytes = _mm256_and_si256(
            conts,
            _mm256_or_si256(
                _mm256_and_si256(_mm256_srli_epi16(prev1, 2), _mm256_set1_epi8(0x0F)),
                _mm256_and_si256(shift_up<1>(conts), _mm256_and_si256(_mm256_slli_epi16(prev2, 4),
                                                                      _mm256_set1_epi8(-0x10)))));
        const __m256i first_units = _mm256_unpacklo_epi8(low, high_bytes);  // 0-7, 16-23
        const __m256i last_units = _mm256_unpackhi_epi8(low, high_bytes);   // 8-15, 24-31
        o = pack_units(_mm256_castsi256_si128(first_units), take & 0xFF, out, o);
        o = pack_units(_mm256_castsi256_si128(last_units), (take >> 8) & 0xFF, out, o);
        o = pack_units(_mm256_extracti128_si256(first_units, 1), (take >> 16) & 0xFF, out, o);
        o = pack_units(_mm256_extracti128_si256(last_units, 1), take >> 24, out, o);
        i += 32 - static_cast<std::size_t>(__builtin_clz(take));
    }
    return o + decode_ssse3(p + i, n - i, out + o);
}

namespace {

// The widths of a block of 16 units, as masks of two bits a unit.
struct Widths {
    __m256i ascii;  // U+0001 to U+007F
    __m256i three;  // U+0800 on
    std::uint32_t ascii_lanes;
    std::uint32_t three_lanes;
};

inline __m256i ascii_of(__m256i u) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    return _mm256_andnot_si256(
        _mm256_cmpeq_epi16(u, zero),
        _mm256_cmpeq_epi16(_mm256_and_si256(u, _mm256_set1_epi16(-0x0080)), zero));
}

inline Widths widths_of(__m256i u, __m256i ascii) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i three = _mm256_cmpeq_epi16(
        _mm256_cmpeq_epi16(_mm256_and_si256(u, _mm256_set1_epi16(-0x0800)), zero), zero);
    return {ascii, three, mask_of(ascii), mask_of(three)};
}

inline __m256i lasts_of(__m256i u) noexcept {  // 80 | bits 0-5
    return _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi16(0x003F)),
                           _mm256_set1_epi16(0x0080));
}

inline __m256i pairs_of(__m256i u) noexcept {  // C0 | bits 6-10, then 80 | bits 0-5
    return _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(u, 6), _mm256_set1_epi16(0x00C0)),
                           _mm256_slli_epi16(lasts_of(u), 8));
}

inline __m256i firsts_of(__m256i u) noexcept {  // E0 | bits 12-15, then 80 | bits 6-11
    return _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi16(u, 12), _mm256_set1_epi16(0x00E0)),
                           _mm256_slli_epi16(lasts_of(_mm256_srli_epi16(u, 6)), 8));
}

// Two bits a unit: 00 for one byte, 01 for two, 11 for three.
inline std::uint32_t lengths_of(const Widths& w) noexcept {
    return (~w.ascii_lanes & 0x55555555u) | (w.three_lanes & 0xAAAAAAAAu);
}

// Any mix: every unit's bytes in a 4-byte lane, zeros after them, packed four units at a time
// by their lengths (pack_table.h's kQuads). Returns the new o.
inline std::size_t encode_quads(__m256i u, const Widths& w, unsigned char* out,
                                std::size_t o) noexcept {
    const __m256i leads = _mm256_or_si256(
        _mm256_and_si256(w.three, firsts_of(u)),
        _mm256_andnot_si256(w.three, _mm256_or_si256(_mm256_and_si256(w.ascii, u),
                                                     _mm256_andnot_si256(w.ascii, pairs_of(u)))));
    const __m256i thirds = _mm256_and_si256(w.three, lasts_of(u));
    const __m256i quads_a = _mm256_unpacklo_epi16(leads, thirds);  // units 0-3, 8-11
    const __m256i quads_b = _mm256_unpackhi_epi16(leads, thirds);  // units 4-7, 12-15
    const std::uint32_t lengths = lengths_of(w);
    // A character takes one byte more than the set bits of its length: every quad's place
    // is known at once, without waiting for the count the shuffle before it holds.
    store_quad(_mm256_castsi256_si128(quads_a), lengths & 0xFF, out + o);
    store_quad(_mm256_castsi256_si128(quads_b), (lengths >> 8) & 0xFF,
               out + o + 4 + static_cast<unsigned>(__builtin_popcount(lengths & 0xFF)));
    store_quad(_mm256_extracti128_si256(quads_a, 1), (lengths >> 16) & 0xFF,
               out + o + 8 + static_cast<unsigned>(__builtin_popcount(lengths & 0xFFFF)));
    store_quad(_mm256_extracti128_si256(quads_b, 1), lengths >> 24,
               out + o + 12 + static_cast<unsigned>(__builtin_popcount(lengths & 0xFFFFFF)));
    return o + 16 + static_cast<unsigned>(__builtin_popcount(lengths));
}

// Where widths interleave block by block, as in most text that is not English, the CPU guesses
// the main loop's tests of a block's widths wrong at every other block or so, and a wrong guess
// costs more than the step that takes any mix. So where a block that is neither all ASCII nor all
// three-byte follows one of mixed widths, the blocks from units[at.in] on all take that step,
// with no test, until kRun blocks in a row could have taken a faster step of one width (all
// ASCII, all two bytes, all three). The CPU learns the widths of a text it meets again and again
// and then guesses right, but an app's text is new to it: see bench/README.md.
Progress encode_dense(const char16_t* units, std::size_t n, unsigned char* out,
                      Progress at) noexcept {
    constexpr std::uint32_t kRun = (1u << 12) - 1;  // 12 blocks (bench/README.md)
    std::size_t i = at.in;
    std::size_t o = at.out;
    std::uint32_t one_width = 0;  // bit k: the block k blocks back had one width
    do {
        const __m256i u = load32(units + i);
        const Widths w = widths_of(u, ascii_of(u));
        o = encode_quads(u, w, out, o);
        const std::uint32_t lengths = lengths_of(w);
        one_width = (one_width << 1) |
                    static_cast<std::uint32_t>(((lengths >> 2) | (lengths << 30)) == lengths);
        i += 16;
    } while (i + 24 <= n && (one_width & kRun) != kRun);
    return {i, o};
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t encode_avx2(const char16_t* units, std::size_t n,
                                         unsigned char* out) noexcept {
    const __m256i zero = _mm256_setzero_si256();
    // As in kernel_ssse3.cpp, in each half: 8 characters to 24 bytes, 16 and then 8.
    const __m256i front_firsts =
        _mm256_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, 0, 1, -1, 2, 3, -1,
                         4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
    const __m256i front_thirds =
        _mm256_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1, -1, -1, 0, -1,
                         -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1);
    const __m256i back_firsts =
        _mm256_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, 11, -1, 12,
                         13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i back_thirds =
        _mm256_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, 10, -1,
                         -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    std::size_t i = 0;
    std::size_t o = 0;
    std::size_t after_mixed = 1;  // just past the last block of mixed widths (none yet)
    // A block's last 16-byte store ends at most 52 bytes past 3i: 8 more units keep it in 3n.
    while (i + 24 <= n) {
        const __m256i u = load32(units + i);
        const __m256i ascii = ascii_of(u);
        if (mask_of(ascii) == 0xFFFFFFFFu) {
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out + o),
                _mm_packus_epi16(_mm256_castsi256_si128(u), _mm256_extracti128_si256(u, 1)));
            i += 16;
            o += 16;
            continue;
        }
        const Widths w = widths_of(u, ascii);
        if (w.three_lanes == 0xFFFFFFFFu) {
            const __m256i firsts = firsts_of(u);
            const __m256i lasts = lasts_of(u);
            const __m256i front = _mm256_or_si256(_mm256_shuffle_epi8(firsts, front_firsts),
                                                  _mm256_shuffle_epi8(lasts, front_thirds));
            const __m256i back = _mm256_or_si256(_mm256_shuffle_epi8(firsts, back_firsts),
                                                 _mm256_shuffle_epi8(lasts, back_thirds));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_castsi256_si128(front));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o + 16),
                             _mm256_castsi256_si128(back));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 24),
                             _mm256_extracti128_si256(front, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o + 40),
                             _mm256_extracti128_si256(back, 1));
            i += 16;
            o += 48;
            continue;
        }
        if (i == after_mixed) {
            const Progress at = encode_dense(units, n, out, {i, o});
            i = at.in;
            o = at.out;
            continue;
        }
        after_mixed = i + 16;
        if (w.three_lanes == 0) {
            const __m256i pairs = pairs_of(u);
            if (w.ascii_lanes == 0) {  // two-byte characters, U+0000 too (C0 80)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), pairs);
                i += 16;
                o += 32;
                after_mixed = 1;
                continue;
            }
            // One and two bytes: every unit in two, zero where one will do.
            const __m256i both =
                _mm256_or_si256(_mm256_and_si256(w.ascii, u), _mm256_andnot_si256(w.ascii, pairs));
            const std::uint32_t kept = ~mask_of(_mm256_cmpeq_epi8(both, zero));
            const __m128i both0 = _mm256_castsi256_si128(both);
            const __m128i both1 = _mm256_extracti128_si256(both, 1);
            o = pack_bytes(both0, kept & 0xFF, out, o);
            o = pack_bytes(_mm_srli_si128(both0, 8), (kept >> 8) & 0xFF, out, o);
            o = pack_bytes(both1, (kept >> 16) & 0xFF, out, o);
            o = pack_bytes(_mm_srli_si128(both1, 8), kept >> 24, out, o);
            i += 16;
            continue;
        }
        o = encode_quads(u, w, out, o);
        i += 16;
    }
    return o + encode_ssse3(units + i, n - i, out + o);
}

}  // namespace detail
}  // namespace kiv::text
