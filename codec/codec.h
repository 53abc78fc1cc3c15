#pragma once
// The scramble for the library's own use, by length: the exported zero-terminated encode and
// decode are declared in the public header, kiv/codec.h.
#include <cstddef>

namespace kiv::codec {
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

// Scrambles a text that arrives in consecutive slices, every one but the last of an even count,
// into the one buffer of its whole scrambled form (size bytes): each slice's halves go to their
// places in the whole's.
class SliceScrambler {
public:
    SliceScrambler(unsigned char* out, std::size_t size) noexcept
        : out_(out), front_(size - size / 2) {}
    void add(const unsigned char* bytes, std::size_t n) noexcept {
        scramble_halves(bytes, n, out_ + done_ / 2, out_ + front_ + done_ / 2);
        done_ += n;
    }

private:
    unsigned char* out_;
    std::size_t front_;
    std::size_t done_ = 0;
};
}  // namespace kiv::codec
