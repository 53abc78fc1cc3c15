#pragma once
// Byte-level rules for handing text to Java: which byte strings are valid modified UTF-8 (what
// NewStringUTF is defined for), and a forgiving UTF-8 decoder for everything else.

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
// n). Accepts standard UTF-8 (four-byte sequences become surrogate pairs) as well as modified
// UTF-8 (C0 80 and encoded surrogates); every byte that does not start a valid sequence becomes
// U+FFFD.
std::size_t decode_utf8(const unsigned char* p, std::size_t n, char16_t* out) noexcept;

}  // namespace kiv::text
