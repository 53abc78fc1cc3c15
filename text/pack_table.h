#pragma once
// Internal: the one table the vector text kernels share (every instruction set's, so a port
// uses the same bytes). For each 8-bit mask, the positions of its set bits in ascending order
// and how many there are: a byte shuffle by positions[m] moves the bytes (or, with each position
// doubled, the 16-bit lanes) that m selects to the front of a vector, in order. That is how the
// kernels keep the units that end a character (decoding) or the bytes a character needs
// (encoding) out of a vector that holds a candidate for every position; kernel_ssse3.cpp
// describes both algorithms.

namespace kiv::text::detail {

struct PackTable {
    // positions[m][k]: the k-th set bit of m, for k < counts[m]; 0 after that.
    unsigned char positions[256][8];
    unsigned char counts[256];
};

extern const PackTable kPack;

}  // namespace kiv::text::detail
