// SSE2 kernels: 64 input bytes (32 pairs) per step.
// Deinterleave: mask the even bytes / shift down the odd bytes of each 16-bit
// lane, then pack two registers' worth of words back to bytes.
// Interleave: unpack the low and high halves of front and back.
// As in the AVX2 kernels, after one unaligned first block the loops restart
// where one output stream is 16-byte aligned, so fewer stores straddle lines.
#include <emmintrin.h>

#include <cstdint>

#include "codec/kernels.h"

namespace kiv::codec {
namespace detail {
namespace {

inline void scramble_block(const unsigned char* in, unsigned char* front, unsigned char* back,
                           __m128i low_bytes, __m128i one) noexcept {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48));
    const __m128i even_ab =
        _mm_packus_epi16(_mm_and_si128(a, low_bytes), _mm_and_si128(b, low_bytes));
    const __m128i even_cd =
        _mm_packus_epi16(_mm_and_si128(c, low_bytes), _mm_and_si128(d, low_bytes));
    const __m128i odd_ab = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    const __m128i odd_cd = _mm_packus_epi16(_mm_srli_epi16(c, 8), _mm_srli_epi16(d, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(front), _mm_add_epi8(even_ab, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(front + 16), _mm_add_epi8(even_cd, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(back), _mm_sub_epi8(odd_ab, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(back + 16), _mm_sub_epi8(odd_cd, one));
}

inline void unscramble_block(const unsigned char* front, const unsigned char* back,
                             unsigned char* out, __m128i one) noexcept {
    const __m128i f0 = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(front)), one);
    const __m128i f1 =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(front + 16)), one);
    const __m128i b0 = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(back)), one);
    const __m128i b1 =
        _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(back + 16)), one);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(f0, b0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(f0, b0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi8(f1, b1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi8(f1, b1));
}

}  // namespace

void scramble_sse2(const unsigned char* in, std::size_t n, unsigned char* front,
                   unsigned char* back) noexcept {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    const __m128i one = _mm_set1_epi8(1);
    std::size_t i = 0;
    if (n >= 256) {
        scramble_block(in, front, back, low_bytes, one);
        i = 2 * (16 - (reinterpret_cast<std::uintptr_t>(front) & 15));  // front + i/2 aligned
    }
    for (; i + 64 <= n; i += 64)
        scramble_block(in + i, front + i / 2, back + i / 2, low_bytes, one);
    scramble_scalar(in + i, n - i, front + i / 2, back + i / 2);
}

void unscramble_pairs_sse2(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                           unsigned char* out) noexcept {
    const __m128i one = _mm_set1_epi8(1);
    std::size_t k = 0;
    if (pairs >= 128) {
        unscramble_block(front, back, out, one);
        k = (16 - (reinterpret_cast<std::uintptr_t>(out) & 15)) / 2;  // aligned unless out is odd
    }
    for (; k + 32 <= pairs; k += 32) unscramble_block(front + k, back + k, out + 2 * k, one);
    unscramble_pairs_scalar(front + k, back + k, pairs - k, out + 2 * k);
}

}  // namespace detail
}  // namespace kiv::codec
