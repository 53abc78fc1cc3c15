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

// For the encoders: four characters of one to three bytes, each in a 4-byte lane (its bytes in
// order, zeros after them), are packed to the front of a vector by one byte shuffle, chosen by
// their lengths. A character's length is 2 bits, at bits 2j and 2j + 1 for the j-th: 00 one
// byte, 01 two, 11 three (10 never occurs). of_lengths[code] numbers the 81 patterns;
// shuffles[k] packs pattern k's bytes, and its byte 15 (past the 12 bytes four characters take
// at most) holds how many they are.
struct QuadTable {
    unsigned char of_lengths[256];
    unsigned char shuffles[81][16];
};

extern const QuadTable kQuads;

}  // namespace kiv::text::detail
