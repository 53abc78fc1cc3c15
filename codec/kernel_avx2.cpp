// AVX2 kernels: 64 input bytes (32 pairs) per step. This file alone is built
// with -mavx2 and only runs when the CPU reports AVX2.
// The 256-bit pack and unpack instructions work within each 128-bit lane, so
// each result needs one cross-lane qword permute to put the bytes in order.
#include <immintrin.h>

#include "codec/kernels.h"

namespace kiv {
namespace detail {

void scramble_avx2(const unsigned char* in, std::size_t n, unsigned char* front,
                   unsigned char* back) noexcept {
  const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
  const __m256i one = _mm256_set1_epi8(1);
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32));
    // Qwords come out as [a0 b0 a1 b1]; reorder to [a0 a1 b0 b1].
    const __m256i even = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(_mm256_and_si256(a, low_bytes), _mm256_and_si256(b, low_bytes)),
        0xD8);
    const __m256i odd = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8)), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(front + i / 2), _mm256_add_epi8(even, one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(back + i / 2), _mm256_sub_epi8(odd, one));
  }
  scramble_scalar(in + i, n - i, front + i / 2, back + i / 2);
}

void unscramble_pairs_avx2(const unsigned char* front, const unsigned char* back,
                           std::size_t pairs, unsigned char* out) noexcept {
  const __m256i one = _mm256_set1_epi8(1);
  std::size_t k = 0;
  for (; k + 32 <= pairs; k += 32) {
    // Qwords [q0 q1 q2 q3] -> [q0 q2 q1 q3], so the in-lane unpacks produce
    // output bytes 0..31 (low) and 32..63 (high) in order.
    const __m256i f = _mm256_permute4x64_epi64(
        _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(front + k)), one),
        0xD8);
    const __m256i b = _mm256_permute4x64_epi64(
        _mm256_add_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(back + k)), one),
        0xD8);
    unsigned char* o = out + 2 * k;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_unpacklo_epi8(f, b));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32), _mm256_unpackhi_epi8(f, b));
  }
  unscramble_pairs_scalar(front + k, back + k, pairs - k, out + 2 * k);
}

}  // namespace detail
}  // namespace kiv
