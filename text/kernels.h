#pragma once
// Internal: the per-instruction-set UTF-8 decoders and modified UTF-8 encoders behind
// text::decode_utf8 and text::encode_modified_utf8, chosen as cmake/Kernels.cmake describes (the
// same way as codec/'s).
//
// Every kernel set has the same two entry points:
//   decode(p, n, out): the UTF-16 units of the n bytes at p, as decode_utf8 promises.
//   encode(units, n, out): the modified UTF-8 of n units, each on its own (surrogates as any
//                          other three-byte unit), as encode_modified_utf8 promises.
// Every decoder gives exactly the units of the scalar one. Vector decoders take runs of ASCII,
// of two-byte and of three-byte sequences, and blocks where the three interleave, a block at a
// time, and hand everything else (four-byte sequences, C0 80, invalid bytes, the end of the
// text) to decode_scalar_until, one sequence at a time. Their blocks may store up to 16 units
// past the ones they keep, never past n units. Vector encoders likewise take blocks of
// characters of one width or of mixed widths and leave the rest to encode_scalar_range; they may
// store past the bytes they keep, never past 3n bytes. The vector steps for mixed widths, and
// the table they share (pack_table.h), are described in kernel_ssse3.cpp.
//
// A new kernel set: a value of Path (and of kPaths below), its two functions declared here, its
// file kernel_<set>.cpp, its set in text/CMakeLists.txt's KERNELS, a row in dispatch.cpp.
//
// Kernel files built with extra instruction-set flags must not define or instantiate any inline
// function or template shared with other files (the linker could keep their copy for everyone),
// so they only use intrinsics and their own internal-linkage helpers.
#include <cstddef>

// On x86 a kernel's entry point starts a 64-byte line, so that the placement of its loops, which
// their speed depends on (a loop split across two lines ran 25% slower), does not move with the
// code linked before it.
#if defined(__x86_64__) || defined(__i386__)
#define KIV_KERNEL_ENTRY __attribute__((aligned(64)))
#else
#define KIV_KERNEL_ENTRY
#endif

namespace kiv::text {

enum class Path { scalar, ssse3, avx2, avx512, neon };
// Every path, built in or not: what tests and benchmarks go through.
constexpr Path kPaths[] = {Path::scalar, Path::ssse3, Path::avx2, Path::avx512, Path::neon};

struct Kernels {
    Path path;
    std::size_t (*decode)(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
    std::size_t (*encode)(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
};

// True when the path is built into this library and the running CPU can execute it.
bool path_supported(Path path) noexcept;

// True when the path is built into this library, whatever the CPU.
bool path_built(Path path) noexcept;

// The kernels of one path, or nullptr when path_supported(path) is false.
// Tests and benchmarks use this to run a given path directly.
const Kernels* kernels_for(Path path) noexcept;

// The fastest supported path; what decode_utf8 and encode_modified_utf8 use.
const Kernels& best_kernels() noexcept;

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

// Encodes units [i, end) from out[o] on; returns the new o.
std::size_t encode_scalar_range(const char16_t* units, std::size_t i, std::size_t end,
                                unsigned char* out, std::size_t o) noexcept;

std::size_t decode_scalar(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t encode_scalar(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
std::size_t decode_ssse3(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t encode_ssse3(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
std::size_t decode_avx2(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t encode_avx2(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
std::size_t encode_avx512(const char16_t* units, std::size_t n, unsigned char* out) noexcept;
std::size_t decode_neon(const unsigned char* p, std::size_t n, char16_t* out) noexcept;
std::size_t encode_neon(const char16_t* units, std::size_t n, unsigned char* out) noexcept;

}  // namespace detail
}  // namespace kiv::text
