// The AVX-512 encoder, for CPUs with AVX-512 BW, VL, VBMI and VBMI2 (Ice Lake, Zen 4 and later).
// Where widths mix it needs no table and no test of a block's widths. For 32 units at a time:
//  1. In each unit's 16-bit lane, its last two bytes: 80 | c >> 6 & 3F (C0 | c >> 6 for a
//     two-byte character) and 80 | c & 3F, or an ASCII unit as it is, a zero after it; in
//     another lane, E0 | c >> 12 for a three-byte character, else a zero. One multishift picks
//     the bit fields out of the units.
//  2. Two byte permutes give every unit a 32-bit lane: that lead, the two last bytes, a zero.
//  3. Modified UTF-8 has no zero byte (U+0000 is C0 80), so the nonzero bytes are the ones to
//     keep: one VPCOMPRESSB for each 16 units packs them to the front.
// ASCII and three-byte runs keep steps of their own; the decoder is the AVX2 one (dispatch.cpp).
// This file alone is built with these instruction sets, and only runs when the CPU (and the OS)
// report them.
//
// GCC 12 warns that the undefined vector in the unmasked forms of some of these intrinsics may be
// used uninitialised, so their zero-masked forms, with every lane selected, stand in for them.
#include <immintrin.h>

#include <cstdint>

#include "text/kernels.h"

namespace kiv::text {
namespace detail {
namespace {

constexpr __mmask64 kAllBytes = ~__mmask64{0};

// Bit j: unit j is U+0001 to U+007F; of 16 units, and of 32.
inline __mmask16 ascii_lanes(__m256i u) noexcept {
    return _mm256_cmplt_epu16_mask(_mm256_sub_epi16(u, _mm256_set1_epi16(1)),
                                   _mm256_set1_epi16(0x7F));
}
inline __mmask32 ascii_lanes(__m512i v) noexcept {
    return _mm512_cmplt_epu16_mask(_mm512_sub_epi16(v, _mm512_set1_epi16(1)),
                                   _mm512_set1_epi16(0x7F));
}

// Bit j: unit j takes three bytes (U+0800 on, surrogates too); of 16 units, and of 32.
inline __mmask16 three_lanes(__m256i u) noexcept {
    return _mm256_cmpge_epu16_mask(u, _mm256_set1_epi16(0x0800));
}
inline __mmask32 three_lanes(__m512i v) noexcept {
    return _mm512_cmpge_epu16_mask(v, _mm512_set1_epi16(0x0800));
}

// The three bytes of each unit of c (one a 32-bit lane): E0 | c >> 12, 80 | c >> 6 & 3F,
// 80 | c & 3F, then a zero. Per 64-bit pair of lanes, the bits where the bytes start are 12, 6, 0
// in the first lane and 44, 38, 32 in the second; each byte is then masked to its bits and given
// its marker ((a & b) | c, ternary-logic 0xEA).
inline __m512i triples_of(__m512i c) noexcept {
    return _mm512_ternarylogic_epi32(
        _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x2020262C0000060C), c),
        _mm512_set1_epi32(0x003F3F0F), _mm512_set1_epi32(0x008080E0), 0xEA);
}

// Any mix: the modified UTF-8 of the 32 units of v to out + o, in two stores of 64 bytes;
// `ascii` and `three` mark the units of one byte and of three. Returns the new o.
inline std::size_t encode_block(__m512i v, __mmask32 ascii, __mmask32 three, __m512i first_lanes,
                                __m512i second_lanes, unsigned char* out, std::size_t o) noexcept {
    // Per 64-bit group of four lanes, the bits where the two last bytes start: 6 and 0, 22 and
    // 16, and so on; each is then masked to its bits and given its marker, 80 80 for a
    // three-byte unit and C0 80 for any other ((a & b) | c, ternary-logic 0xEA).
    const __m512i marks =
        _mm512_mask_mov_epi16(_mm512_set1_epi16(static_cast<short>(0x80C0)), three,
                              _mm512_set1_epi16(static_cast<short>(0x8080)));
    const __m512i tails = _mm512_mask_mov_epi16(
        _mm512_ternarylogic_epi32(
            _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x3036202610160006), v),
            _mm512_set1_epi16(0x3F3F), marks, 0xEA),
        ascii, v);
    const __m512i leads =
        _mm512_maskz_add_epi16(three, _mm512_srli_epi16(v, 12), _mm512_set1_epi16(0xE0));
    // Each unit in a 32-bit lane: its lead (or a zero), its last two bytes, a zero.
    const __m512i first = _mm512_permutex2var_epi8(leads, first_lanes, tails);
    const __m512i second = _mm512_permutex2var_epi8(leads, second_lanes, tails);
    const __mmask64 first_keep = _mm512_test_epi8_mask(first, first);
    const __mmask64 second_keep = _mm512_test_epi8_mask(second, second);
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi8(first_keep, first));
    o += static_cast<std::size_t>(__builtin_popcountll(first_keep));
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi8(second_keep, second));
    return o + static_cast<std::size_t>(__builtin_popcountll(second_keep));
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t encode_avx512(const char16_t* units, std::size_t n,
                                           unsigned char* out) noexcept {
    // The three bytes of each 32-bit lane of a triples_of vector, packed to the front.
    const __m512i packed_triples = _mm512_set_epi8(
        63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 62, 61, 60, 58, 57, 56, 54,
        53, 52, 50, 49, 48, 46, 45, 44, 42, 41, 40, 38, 37, 36, 34, 33, 32, 30, 29, 28, 26, 25, 24,
        22, 21, 20, 18, 17, 16, 14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0);
    // For units 0-15 and 16-31 of encode_block, in each 32-bit lane: byte 2j of the leads, bytes
    // 2j and 2j + 1 of the tails (from 64 on), byte 2j + 1 of the leads (a zero).
    const __m512i first_lanes = _mm512_set_epi8(
        31, 95, 94, 30, 29, 93, 92, 28, 27, 91, 90, 26, 25, 89, 88, 24, 23, 87, 86, 22, 21, 85, 84,
        20, 19, 83, 82, 18, 17, 81, 80, 16, 15, 79, 78, 14, 13, 77, 76, 12, 11, 75, 74, 10, 9, 73,
        72, 8, 7, 71, 70, 6, 5, 69, 68, 4, 3, 67, 66, 2, 1, 65, 64, 0);
    const __m512i second_lanes =
        _mm512_set_epi8(63, 127, 126, 62, 61, 125, 124, 60, 59, 123, 122, 58, 57, 121, 120, 56, 55,
                        119, 118, 54, 53, 117, 116, 52, 51, 115, 114, 50, 49, 113, 112, 48, 47, 111,
                        110, 46, 45, 109, 108, 44, 43, 107, 106, 42, 41, 105, 104, 40, 39, 103, 102,
                        38, 37, 101, 100, 36, 35, 99, 98, 34, 33, 97, 96, 32);
    // A block of mixed widths starts a run of 32-unit blocks that all take the mixed step, with
    // no test of their widths, until three in a row are of one width, all ASCII or all three-byte
    // (bench/README.md).
    constexpr std::uint32_t kOneWidthToLeave = 0x7;
    std::size_t i = 0;
    std::size_t o = 0;
    // A mixed block's second store ends at most 112 bytes past 3i: 40 units keep it in 3n.
    while (i + 40 <= n) {
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        if (__builtin_expect(ascii_lanes(u) == 0xFFFF, 1)) {
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out + o),
                _mm_packus_epi16(_mm256_castsi256_si128(u), _mm256_extracti128_si256(u, 1)));
            i += 16;
            o += 16;
            continue;
        }
        if (three_lanes(u) == 0xFFFF) {
            const __m512i triples = triples_of(_mm512_maskz_cvtepu16_epi32(0xFFFF, u));
            _mm512_storeu_si512(out + o,
                                _mm512_maskz_permutexvar_epi8(kAllBytes, packed_triples, triples));
            i += 16;
            o += 48;
            continue;
        }
        std::uint32_t one_width = 0;  // bit k: the block k blocks back was of one width
        do {
            const __m512i v = _mm512_loadu_si512(units + i);
            const __mmask32 ascii = ascii_lanes(v);
            const __mmask32 three = three_lanes(v);
            o = encode_block(v, ascii, three, first_lanes, second_lanes, out, o);
            one_width = (one_width << 1) |
                        static_cast<std::uint32_t>((ascii == 0xFFFFFFFFu) | (three == 0xFFFFFFFFu));
            i += 32;
        } while (i + 40 <= n && (one_width & kOneWidthToLeave) != kOneWidthToLeave);
    }
    return o + encode_ssse3(units + i, n - i, out + o);
}

}  // namespace detail
}  // namespace kiv::text
