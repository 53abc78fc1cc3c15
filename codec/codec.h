#pragma once
#include <cstddef>
#define KIV_EXPORT __attribute__((visibility("default")))
extern "C" {
// Exported plain C functions. `input` is zero-terminated (n = strlen); writes the
// n scrambled (or unscrambled) bytes then a zero to `output` (room for n+1).
// output may be exactly input (in place), or overlap it in any other way.
// Null input or output: do nothing.
KIV_EXPORT void encode(const char* input, char* output);
KIV_EXPORT void decode(const char* input, char* output);
}
namespace kiv {
// Length-based, for the library's own use (not exported). Writes exactly n bytes,
// no terminator. `in` and `out` must not overlap.
void scramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept;
void unscramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept;
// Scrambles n bytes into two separately held halves: front[k] = in[2k] + 1 for
// k < (n + 1) / 2, back[k] = in[2k+1] - 1 for k < n / 2. (Lets a writer scramble a
// text slice by slice into one output buffer.)
void scramble_halves(const unsigned char* in, std::size_t n, unsigned char* front,
                     unsigned char* back) noexcept;
// Unscrambles from two separately held halves: for k < pairs, out[2k] = front[k] - 1,
// out[2k+1] = back[k] + 1. (Lets a reader stream the two halves of a stored file
// straight into one output buffer.)
void unscramble_pairs(const unsigned char* front, const unsigned char* back, std::size_t pairs,
                      unsigned char* out) noexcept;
}  // namespace kiv
