// The AVX-512 encoder, for CPUs with AVX-512 BW, VL, VBMI and VBMI2 (Ice Lake, Zen 4 and later).
// Where widths mix it needs no table and no test of a block's widths: every unit is widened to a
// 32-bit lane and given there the bytes of its character, whatever its length (one byte as it
// is; two as C0 | c >> 6, 80 | c & 3F; three as E0 | c >> 12, 80 | c >> 6 & 3F, 80 | c & 3F;
// zeros after them), picked out of the unit with one multishift per length. Modified UTF-8 has
// no zero byte (U+0000 is C0 80), so the nonzero bytes are the ones to keep, and one
// VPCOMPRESSB packs them to the front. ASCII runs keep a step of their own; the decoder is the
// AVX2 one (dispatch.cpp). This file alone is built with these instruction sets, and only runs
// when the CPU (and the OS) report them.
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

// Bit j: unit j is U+0001 to U+007F.
inline __mmask16 ascii_lanes(__m256i u) noexcept {
    return _mm256_cmplt_epu16_mask(_mm256_sub_epi16(u, _mm256_set1_epi16(1)),
                                   _mm256_set1_epi16(0x7F));
}

// Bit j: unit j takes three bytes (U+0800 on, surrogates too).
inline __mmask16 three_lanes(__m256i u) noexcept {
    return _mm256_cmpge_epu16_mask(u, _mm256_set1_epi16(0x0800));
}

// Each unit of u in a 32-bit lane, as its three bytes (E0 | c >> 12, 80 | c >> 6 & 3F, 80 | c & 3F)
// and a zero; c holds the units, one a lane. Per 64-bit pair of lanes, the bits where the bytes
// start are 12, 6, 0 in the first lane and 44, 38, 32 in the second; each byte is then masked to
// its bits and given its marker ((a & b) | c, ternary-logic 0xEA).
inline __m512i triples_of(__m512i c) noexcept {
    return _mm512_ternarylogic_epi32(
        _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x2020262C0000060C), c),
        _mm512_set1_epi32(0x003F3F0F), _mm512_set1_epi32(0x008080E0), 0xEA);
}

// Any mix: the modified UTF-8 of the 16 units of u, of which `ascii` marks those of one byte and
// `three` those of three, to out + o. Stores 64 bytes. Returns the new o.
inline std::size_t encode_lanes(__m256i u, __mmask16 ascii, __mmask16 three, unsigned char* out,
                                std::size_t o) noexcept {
    const __m512i c = _mm512_maskz_cvtepu16_epi32(0xFFFF, u);
    // Two bytes, C0 | c >> 6 and 80 | c & 3F, as triples_of builds three.
    const __m512i pairs = _mm512_ternarylogic_epi32(
        _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x2020202600000006), c),
        _mm512_set1_epi32(0x00003F1F), _mm512_set1_epi32(0x000080C0), 0xEA);
    const __m512i bytes = _mm512_mask_mov_epi32(
        _mm512_mask_mov_epi32(c, static_cast<__mmask16>(~ascii), pairs), three, triples_of(c));
    const __mmask64 keep = _mm512_test_epi8_mask(bytes, bytes);
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi8(keep, bytes));
    return o + static_cast<std::size_t>(__builtin_popcountll(keep));
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t encode_avx512(const char16_t* units, std::size_t n,
                                           unsigned char* out) noexcept {
    // Units 0-15 of each 16-unit lane of a triples_of vector: its three bytes, packed.
    const __m512i packed_triples = _mm512_set_epi8(
        63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 62, 61, 60, 58, 57, 56, 54,
        53, 52, 50, 49, 48, 46, 45, 44, 42, 41, 40, 38, 37, 36, 34, 33, 32, 30, 29, 28, 26, 25, 24,
        22, 21, 20, 18, 17, 16, 14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0);
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
            const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
            const __m256i second =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
            const __mmask16 first_ascii = ascii_lanes(first);
            const __mmask16 second_ascii = ascii_lanes(second);
            const __mmask16 first_three = three_lanes(first);
            const __mmask16 second_three = three_lanes(second);
            o = encode_lanes(first, first_ascii, first_three, out, o);
            o = encode_lanes(second, second_ascii, second_three, out, o);
            one_width = (one_width << 1) |
                        static_cast<std::uint32_t>(((first_ascii & second_ascii) == 0xFFFF) |
                                                   ((first_three & second_three) == 0xFFFF));
            i += 32;
        } while (i + 40 <= n && (one_width & kOneWidthToLeave) != kOneWidthToLeave);
    }
    return o + encode_ssse3(units + i, n - i, out + o);
}

}  // namespace detail
}  // namespace kiv::text
