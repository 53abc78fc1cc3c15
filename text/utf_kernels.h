#pragma once
// Internal: the per-instruction-set UTF-8 decoders and encoders behind text::decode_utf8 and
// text::encode_modified_utf8.
//
// Every decoder gives exactly the units of the scalar one. Vector decoders take runs of ASCII,
// of two-byte and of three-byte sequences a block at a time and hand everything else (four-byte
// sequences, C0 80, invalid bytes, the end of the text) to decode_scalar_until, one sequence at a
// time. Their blocks may store up to 16 units past the ones they keep, never past n units.
// Vector encoders likewise take blocks of ASCII and of three-byte characters and leave the rest
// to encode_scalar_range; they may store past the bytes they keep, never past 3n bytes.
//
// Kernel files only use intrinsics and their own internal-linkage helpers: any inline function
// with external linkage compiled for a wider instruction set could be the copy the linker keeps.
#include <cstddef>

// The vector decoders built for this target. x86 code is compiled for SSSE3 function by function
// and only run when the CPU has it; NEON is built where the compiler targets it (arm64, and
// 32-bit ARM builds with NEON enabled, such as Android's armeabi-v7a).
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KIV_TEXT_WITH_SSSE3 1
#endif
#if (defined(__aarch64__) || defined(__ARM_NEON)) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define KIV_TEXT_WITH_NEON 1
#endif

namespace kiv::text {

enum class Path { scalar, ssse3, neon };

// True when the path is built into this library and the running CPU can execute it.
bool path_supported(Path path) noexcept;

// Encodes with the given path; false (and nothing written) when it is not supported.
bool encode_modified_utf8_on(Path path, const char16_t* units, std::size_t n, unsigned char* out,
                             std::size_t& bytes) noexcept;

// Decodes with the given path; false (and nothing written) when it is not supported.
bool decode_utf8_on(Path path, const unsigned char* p, std::size_t n, char16_t* out,
                    std::size_t& units) noexcept;

namespace detail {

// Where a decoder has got to: bytes read, units written.
struct Progress {
    std::size_t in;
    std::size_t out;
};

// Decodes whole sequences from p[at.in] on, writing from out[at.out], for as long as the next
// one starts before stop (stop <= n; a sequence may run past stop, never past n).
Progress decode_scalar_until(const unsigned char* p, std::size_t n, char16_t* out, Progress at,
                             std::size_t stop) noexcept;

// Encodes units [i, end) (no surrogates) from out[o] on; returns the new o.
std::size_t encode_scalar_range(const char16_t* units, std::size_t i, std::size_t end,
                                unsigned char* out, std::size_t o) noexcept;

std::size_t decode_scalar(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t decode_ssse3(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t decode_neon(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t encode_ssse3(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
std::size_t encode_neon(const char16_t* units, std::size_t n, unsigned char* out) noexcept;

}  // namespace detail
}  // namespace kiv::text
