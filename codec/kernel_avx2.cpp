// AVX2 kernels: 64 input bytes (32 pairs) per step. This file alone is built
// with -mavx2 and only runs when the CPU reports AVX2.
// The 256-bit shuffle and unpack instructions work within each 128-bit lane;
// the loads (scramble) or one qword permute (unscramble) line the lanes up.
// Stores that straddle cache lines are costly once the output is not in L1, so
// after one unaligned first block the loops restart where one output stream is
// 32-byte aligned (redoing a few bytes is harmless: outputs never feed inputs).
// For large inputs that aligned stream is written with non-temporal stores:
// the output no longer fits in L2 anyway, and skipping the read-for-ownership
// of its lines saves memory traffic.
#include <immintrin.h>

#include <cstdint>

#include "codec/kernels.h"

namespace kiv::codec {
namespace detail {
namespace {

// Input sizes from which the aligned stream is written non-temporally. The
// single output stream of unscramble is cheap to keep cached for longer.
constexpr std::size_t kScrambleStreamFrom = std::size_t{1} << 20;
constexpr std::size_t kUnscrambleStreamFrom = std::size_t{4} << 20;

template <bool Stream>
inline void store_aligned_stream(unsigned char* p, __m256i v) noexcept {
    if (Stream) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
}

template <bool Stream>
inline void scramble_block(const unsigned char* in, unsigned char* front, unsigned char* back,
                           __m256i split, __m256i one) noexcept {
    // Loading the 16-byte quarters as [0 | 2] and [1 | 3] leaves each lane's
    // bytes where the in-lane unpacks below put them in output order.
    const __m256i a = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32)), 1);
    const __m256i b = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48)), 1);
    const __m256i sa = _mm256_shuffle_epi8(a, split);
    const __m256i sb = _mm256_shuffle_epi8(b, split);
    store_aligned_stream<Stream>(front, _mm256_add_epi8(_mm256_unpacklo_epi64(sa, sb), one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(back),
                        _mm256_sub_epi8(_mm256_unpackhi_epi64(sa, sb), one));
}

template <bool Stream>
inline void unscramble_block(const unsigned char* front, const unsigned char* back,
                             unsigned char* out, __m256i one) noexcept {
    // Qwords [q0 q1 q2 q3] -> [q0 q2 q1 q3], so the in-lane unpacks produce
    // output bytes 0..31 (low) and 32..63 (high) in order.
    const __m256i f = _mm256_permute4x64_epi64(
        _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(front)), one), 0xD8);
    const __m256i b = _mm256_permute4x64_epi64(
        _mm256_add_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(back)), one), 0xD8);
    store_aligned_stream<Stream>(out, _mm256_unpacklo_epi8(f, b));
    store_aligned_stream<Stream>(out + 32, _mm256_unpackhi_epi8(f, b));
}

}  // namespace

void scramble_avx2(const unsigned char* in, std::size_t n, unsigned char* front,
                   unsigned char* back) noexcept {
    // Within each 16-byte lane: even bytes to the low qword, odd bytes to the high.
    const __m256i split = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0,
                                           2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    const __m256i one = _mm256_set1_epi8(1);
    std::size_t i = 0;
    if (n >= 256) {
        scramble_block<false>(in, front, back, split, one);
        i = 2 * (32 - (reinterpret_cast<std::uintptr_t>(front) & 31));  // front + i/2 aligned
        if (n >= kScrambleStreamFrom) {
            for (; i + 64 <= n; i += 64)
                scramble_block<true>(in + i, front + i / 2, back + i / 2, split, one);
            _mm_sfence();
        }
    }
    for (; i + 64 <= n; i += 64)
        scramble_block<false>(in + i, front + i / 2, back + i / 2, split, one);
    scramble_scalar(in + i, n - i, front + i / 2, back + i / 2);
}

void unscramble_pairs_avx2(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                           unsigned char* out) noexcept {
    const __m256i one = _mm256_set1_epi8(1);
    std::size_t k = 0;
    if (pairs >= 128) {
        unscramble_block<false>(front, back, out, one);
        const auto misalign = reinterpret_cast<std::uintptr_t>(out) & 31;
        k = (32 - misalign) / 2;  // out + 2k aligned unless out is odd
        if (pairs >= kUnscrambleStreamFrom / 2 && misalign % 2 == 0) {
            for (; k + 32 <= pairs; k += 32)
                unscramble_block<true>(front + k, back + k, out + 2 * k, one);
            _mm_sfence();
        }
    }
    for (; k + 32 <= pairs; k += 32) unscramble_block<false>(front + k, back + k, out + 2 * k, one);
    unscramble_pairs_scalar(front + k, back + k, pairs - k, out + 2 * k);
}

}  // namespace detail
}  // namespace kiv::codec
