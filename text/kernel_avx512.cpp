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

// Units 16 half to 16 half + 15 of v, each in a 32-bit lane.
template <int half>
inline __m512i widened(__m512i v) noexcept {
    return _mm512_maskz_cvtepu16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xFF, v, half));
}

// The modified UTF-8 of 16 units, one a 32-bit lane of c, to out + o; `wide` marks those of two
// bytes or more, `three` those of three. Stores 64 bytes. Returns the new o.
inline std::size_t encode_lanes(__m512i c, __mmask16 wide, __mmask16 three, unsigned char* out,
                                std::size_t o) noexcept {
    // Per 64-bit pair of lanes, the bit where each byte starts: c >> 6, c (two bytes) and
    // c >> 12, c >> 6, c (three), the first lane's at 0, the second's at 32; each byte is then
    // masked to its bits and given its marker ((a & b) | c, ternary-logic 0xEA).
    const __m512i pairs = _mm512_ternarylogic_epi32(
        _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x2020202600000006), c),
        _mm512_set1_epi32(0x00003F1F), _mm512_set1_epi32(0x000080C0), 0xEA);
    const __m512i triples = _mm512_ternarylogic_epi32(
        _mm512_maskz_multishift_epi64_epi8(kAllBytes, _mm512_set1_epi64(0x2020262C0000060C), c),
        _mm512_set1_epi32(0x003F3F0F), _mm512_set1_epi32(0x008080E0), 0xEA);
    const __m512i bytes =
        _mm512_mask_mov_epi32(_mm512_mask_mov_epi32(c, wide, pairs), three, triples);
    const __mmask64 keep = _mm512_test_epi8_mask(bytes, bytes);
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi8(keep, bytes));
    return o + static_cast<std::size_t>(__builtin_popcountll(keep));
}

}  // namespace

KIV_KERNEL_ENTRY std::size_t encode_avx512(const char16_t* units, std::size_t n,
                                           unsigned char* out) noexcept {
    // A block of mixed widths starts a run of 32-unit blocks that all take the mixed step, with
    // no test of their widths, until two in a row are all ASCII (bench/README.md).
    constexpr std::uint32_t kAsciiToLeave = 0x3;
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
        std::uint32_t ascii_blocks = 0;  // bit k: the block k blocks back was all ASCII
        do {
            const __m512i v = _mm512_loadu_si512(units + i);
            const __mmask32 ascii = _mm512_cmplt_epu16_mask(
                _mm512_sub_epi16(v, _mm512_set1_epi16(1)), _mm512_set1_epi16(0x7F));
            const __mmask32 three = _mm512_cmpge_epu16_mask(v, _mm512_set1_epi16(0x0800));
            const __mmask32 wide = static_cast<__mmask32>(~ascii);
            o = encode_lanes(widened<0>(v), static_cast<__mmask16>(wide),
                             static_cast<__mmask16>(three), out, o);
            o = encode_lanes(widened<1>(v), static_cast<__mmask16>(wide >> 16),
                             static_cast<__mmask16>(three >> 16), out, o);
            ascii_blocks = (ascii_blocks << 1) | static_cast<std::uint32_t>(ascii == 0xFFFFFFFFu);
            i += 32;
        } while (i + 40 <= n && (ascii_blocks & kAsciiToLeave) != kAsciiToLeave);
    }
    return o + encode_ssse3(units + i, n - i, out + o);
}

}  // namespace detail
}  // namespace kiv::text
