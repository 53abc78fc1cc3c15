#pragma once
// Byte-level rules for handing text to Java: which byte strings are valid modified UTF-8 (what
// NewStringUTF is defined for), a forgiving UTF-8 decoder for everything else, and the encoder
// that turns a string's UTF-16 units into the modified UTF-8 the files hold.

#include <cstddef>

namespace kiv::text {

// True when [p, p + n) is modified UTF-8 as the VM reads it: no zero byte, sequences of one to
// three bytes (zero itself as C0 80, supplementary characters as two encoded surrogates), no
// overlong forms. Such bytes go to NewStringUTF unchanged.
bool is_modified_utf8(const unsigned char* p, std::size_t n) noexcept;

// True when every byte of [p, p + n) is below 0x80 (zero bytes included): each byte is then
// one UTF-16 unit of the same value.
bool is_ascii(const unsigned char* p, std::size_t n) noexcept;

// Decodes [p, p + n) into UTF-16 code units and returns how many were written (never more than
// n; out must have room for n units, all of which may be written to). Accepts standard UTF-8
// (four-byte sequences become surrogate pairs) as well as modified UTF-8 (C0 80 and encoded
// surrogates); every byte that does not start a valid sequence becomes U+FFFD. Uses the fastest
// decoder the running CPU supports; all give the same units.
std::size_t decode_utf8(const unsigned char* p, std::size_t n, char16_t* out) noexcept;

// The size of the modified UTF-8 form of n UTF-16 units, and whether any of them is a surrogate
// (D800 to DFFF), paired or not.
struct Utf16Size {
    std::size_t bytes;
    bool surrogates;
};
Utf16Size measure_utf16(const char16_t* units, std::size_t n) noexcept;

// Writes the modified UTF-8 form of n UTF-16 units, each unit on its own (U+0000 as C0 80,
// U+0001 to U+007F as one byte, up to U+07FF as two, the rest as three, every surrogate, paired
// or lone, too: ED A0..BF xx, as HotSpot's GetStringUTFChars writes it) and returns its size,
// measure_utf16(units, n).bytes. out needs room for 3n bytes, the most it can take, all of which
// may be written to. Uses the fastest encoder the running CPU supports; all give the same bytes.
std::size_t encode_modified_utf8(const char16_t* units, std::size_t n, unsigned char* out) noexcept;

// Writes the standard UTF-8 form of n UTF-16 units and returns its size: U+0000 as a zero byte,
// a surrogate pair as the four bytes of its character, a lone surrogate as U+FFFD, every other
// unit as encode_modified_utf8 writes it. out needs room for 3n bytes, all of which may be written
// to. (What the kiv tool prints of a Java string.)
std::size_t encode_utf8(const char16_t* units, std::size_t n, unsigned char* out) noexcept;

// Passes encode_modified_utf8's bytes of n UTF-16 units to sink(bytes, count) in consecutive
// slices, every one but the last of an even count (a slice's odd last byte opens the next one).
// Encodes through a bounded stack buffer, never the whole text.
template <typename Sink>
void for_each_modified_utf8_slice(const char16_t* units, std::size_t n, Sink sink) noexcept {
    constexpr std::size_t kUnits = 1024;
    unsigned char bytes[1 + 3 * kUnits];
    std::size_t carried = 0;
    for (std::size_t start = 0; start < n; start += kUnits) {
        const std::size_t count = n - start < kUnits ? n - start : kUnits;
        const std::size_t size =
            carried + encode_modified_utf8(units + start, count, bytes + carried);
        carried = start + count < n ? size % 2 : 0;
        sink(static_cast<const unsigned char*>(bytes), size - carried);
        if (carried != 0) bytes[0] = bytes[size - 1];
    }
}

}  // namespace kiv::text
