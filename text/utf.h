#pragma once
// Byte-level rules for handing text to Java: which byte strings are valid modified UTF-8 (what
// NewStringUTF is defined for), a forgiving UTF-8 decoder for everything else, and the encoder
// that turns a string's UTF-16 units into the modified UTF-8 the files hold.

#include <cstddef>
#include <cstdint>

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
// (D800 to DFFF), paired or not: anywhere, and in which chunks of kChunk units (bit k for chunk
// k, bit 63 for chunk 63 and all after it).
struct Utf16Size {
    static constexpr std::size_t kChunk = std::size_t{1} << 14;
    // The bit of surrogate_chunks that stands for chunk k.
    static constexpr std::uint64_t chunk_bit(std::size_t k) noexcept {
        return std::uint64_t{1} << (k < 63 ? k : 63);
    }
    std::size_t bytes;
    std::uint64_t surrogate_chunks;
    bool surrogates() const noexcept { return surrogate_chunks != 0; }
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

// Writes the modified UTF-8 form of n UTF-16 units as Android's runtime gives it: a surrogate
// pair (high, then low) as the four bytes of its character, every other unit as
// encode_modified_utf8 writes it, a lone surrogate too. Returns its size, measure_utf16(units,
// n).bytes - 2 * find_pairs(units, n).count; out needs room for 3n bytes, all of which may be
// written to.
std::size_t encode_joining_pairs(const char16_t* units, std::size_t n, unsigned char* out) noexcept;

// The surrogate pairs (a high surrogate, then a low one) of a text: how many, and where the
// first kListed of them start, in order.
struct PairList {
    static constexpr std::size_t kListed = 16;
    std::size_t count = 0;
    std::size_t at[kListed];
};

// The pairs of n UTF-16 units, looked for only in the chunks `chunks` marks (a pair starts in
// the chunk of its high surrogate): measure_utf16's surrogate_chunks, or every chunk.
PairList find_pairs(const char16_t* units, std::size_t n,
                    std::uint64_t chunks = ~std::uint64_t{0}) noexcept;

// encode_joining_pairs for units [start, end) of a text whose pairs `pairs` lists, none cut in
// two by start or end: the listed pairs from pairs.at[next] on are taken where they are, with no
// search (next moves past those in the range), and a search is made only past the last one
// listed.
std::size_t encode_joining_listed(const char16_t* units, std::size_t start, std::size_t end,
                                  const PairList& pairs, std::size_t& next,
                                  unsigned char* out) noexcept;

// How a VM writes a text's surrogate pairs: each unit on its own (encode_modified_utf8, as
// HotSpot gives them), or joined (encode_joining_pairs, as ART does).
enum class Pairs { each_unit, joined };

inline bool is_high_surrogate(char16_t c) noexcept { return (c & 0xFC00) == 0xD800; }

// Passes the bytes of n UTF-16 units to sink(bytes, count) in consecutive slices, every one but
// the last of an even count (a slice's odd last byte opens the next one): each unit on its own,
// or, given the text's pairs (find_pairs), those pairs joined as ART writes them; a slice never
// ends between the two halves of a pair it joins. Encodes through a bounded stack buffer, never
// the whole text.
template <typename Sink>
void for_each_modified_utf8_slice(const char16_t* units, std::size_t n, Sink sink,
                                  const PairList* joined = nullptr) noexcept {
    constexpr std::size_t kUnits = 1024;
    unsigned char bytes[1 + 3 * kUnits];
    std::size_t carried = 0;
    std::size_t next_pair = 0;  // of joined->at
    for (std::size_t start = 0, count = 0; start < n; start += count) {
        count = n - start < kUnits ? n - start : kUnits;
        if (joined != nullptr && start + count < n && is_high_surrogate(units[start + count - 1])) {
            --count;  // the pair starts the next slice
        }
        const std::size_t size =
            carried + (joined != nullptr
                           ? encode_joining_listed(units, start, start + count, *joined, next_pair,
                                                   bytes + carried)
                           : encode_modified_utf8(units + start, count, bytes + carried));
        carried = start + count < n ? size % 2 : 0;
        sink(static_cast<const unsigned char*>(bytes), size - carried);
        if (carried != 0) bytes[0] = bytes[size - 1];
    }
}

}  // namespace kiv::text
