// The text conversions' entry points: which bytes are ASCII or modified UTF-8, the size of a
// text's modified UTF-8 form, and the decoder and encoder the running CPU supports (kernels.h).
#include "text/utf.h"

#include <cstdint>
#include <cstring>

#include "text/kernels.h"

namespace kiv::text {

namespace {

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Length of the run of bytes 0x01..0x7F at the start of [p, p + n), eight bytes at a time.
std::size_t ascii_prefix(const unsigned char* p, std::size_t n) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        // A byte with its high bit set, or a zero byte (the classic has-zero-byte test).
        if (((w | ((w - kOnes) & ~w)) & kHighs) != 0) break;
    }
    while (i < n && p[i] != 0 && p[i] < 0x80) ++i;
    return i;
}

// Length (2 or 3) of the valid multi-byte sequence starting at p[i] under the rules both
// readers share, or 0. Zero travels as C0 80 and surrogates are accepted one by one.
std::size_t shared_sequence(const unsigned char* p, std::size_t i, std::size_t n) noexcept {
    unsigned char b = p[i];
    if (b >= 0xC0 && b <= 0xDF) {
        if (i + 1 >= n || !is_continuation(p[i + 1])) return 0;
        if (b < 0xC2 && !(b == 0xC0 && p[i + 1] == 0x80)) return 0;  // overlong, save for NUL
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        if (i + 2 >= n || !is_continuation(p[i + 1]) || !is_continuation(p[i + 2])) return 0;
        if (b == 0xE0 && p[i + 1] < 0xA0) return 0;  // overlong
        return 3;
    }
    return 0;
}

// Index of the first surrogate in [i, n), or n: 32 units a step, in a loop the compiler turns
// into vector compares.
std::size_t next_surrogate(const char16_t* units, std::size_t i, std::size_t n) noexcept {
    for (; i + 32 <= n; i += 32) {
        char16_t any = 0;  // 16 bits, as the units: no widening of the lanes
        for (std::size_t k = 0; k < 32; ++k) {
            any |= static_cast<char16_t>((units[i + k] & 0xF800) == 0xD800);
        }
        if (any != 0) break;
    }
    while (i < n && (units[i] & 0xF800) != 0xD800) ++i;
    return i;
}

// Whether units[i] and units[i + 1] are a surrogate pair.
bool pair_at(const char16_t* units, std::size_t i, std::size_t n) noexcept {
    return is_high_surrogate(units[i]) && i + 1 < n && (units[i + 1] & 0xFC00) == 0xDC00;
}

// Index of the first surrogate pair of n units that starts in [i, end), or end.
std::size_t next_pair(const char16_t* units, std::size_t i, std::size_t end,
                      std::size_t n) noexcept {
    std::size_t at = next_surrogate(units, i, end);
    while (at < end && !pair_at(units, at, n)) at = next_surrogate(units, at + 1, end);
    return at;
}

// Writes the four bytes of the character the pair at units[i] stands for; returns the new o.
std::size_t put_pair(const char16_t* units, std::size_t i, unsigned char* out,
                     std::size_t o) noexcept {
    const std::uint32_t c = 0x10000 + ((units[i] - 0xD800u) << 10) + (units[i + 1] - 0xDC00u);
    out[o] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[o + 1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[o + 2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[o + 3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return o + 4;
}

}  // namespace

bool is_ascii(const unsigned char* p, std::size_t n) noexcept {
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    // Four independent words per step, checked every 256 bytes: a large text is scanned at
    // memory speed and a non-ASCII one stops early.
    std::size_t i = 0;
    while (i + 256 <= n) {
        std::uint64_t any[4] = {0, 0, 0, 0};
        for (std::size_t end = i + 256; i < end; i += 32) {
            for (int k = 0; k < 4; ++k) {
                std::uint64_t w;
                std::memcpy(&w, p + i + 8 * k, 8);
                any[k] |= w;
            }
        }
        if (((any[0] | any[1] | any[2] | any[3]) & kHighs) != 0) return false;
    }
    std::uint64_t rest = 0;
    for (; i < n; ++i) rest |= p[i];
    return (rest & 0x80) == 0;
}

bool is_modified_utf8(const unsigned char* p, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n) {
        i += ascii_prefix(p + i, n - i);
        if (i == n) break;
        std::size_t len = shared_sequence(p, i, n);
        if (len == 0) return false;  // zero byte, stray continuation, four-byte form, ...
        i += len;
    }
    return true;
}

Utf16Size measure_utf16(const char16_t* units, std::size_t n) noexcept {
    // Branch-free, in chunks whose extra bytes fit 16 bits, so that the compiler vectorises it
    // with one 16-bit lane a unit.
    constexpr std::size_t kChunk = Utf16Size::kChunk;
    std::size_t extra = 0;
    std::uint64_t chunks = 0;
    for (std::size_t i = 0, k = 0; i < n; ++k) {
        const std::size_t end = n - i < kChunk ? n : i + kChunk;
        std::uint16_t chunk = 0;  // at most 2 * kChunk
        std::uint16_t surrogates = 0;
        for (; i < end; ++i) {
            const std::uint16_t c = units[i];
            chunk = static_cast<std::uint16_t>(chunk + (static_cast<std::uint16_t>(c - 1) >= 0x7F) +
                                               (c >= 0x800));
            surrogates |= static_cast<std::uint16_t>((c & 0xF800) == 0xD800);
        }
        extra += chunk;
        if (surrogates != 0) chunks |= Utf16Size::chunk_bit(k);
    }
    return {n + extra, chunks};
}

std::size_t decode_utf8(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    return best_kernels().decode(p, n, out);
}

std::size_t encode_modified_utf8(const char16_t* units, std::size_t n,
                                 unsigned char* out) noexcept {
    return best_kernels().encode(units, n, out);
}

std::size_t encode_joining_pairs(const char16_t* units, std::size_t n,
                                 unsigned char* out) noexcept {
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < n) {
        // Up to the next pair through the kernels (a lone surrogate too); a pair in four bytes.
        const std::size_t end = next_pair(units, i, n, n);
        o += encode_modified_utf8(units + i, end - i, out + o);
        if (end == n) break;
        o = put_pair(units, end, out, o);
        i = end + 2;
    }
    return o;
}

PairList find_pairs(const char16_t* units, std::size_t n, std::uint64_t chunks) noexcept {
    constexpr std::size_t kChunk = Utf16Size::kChunk;
    PairList pairs;
    // A pair across a chunk's edge is found in the first chunk; the second starts at its low half,
    // which starts no pair.
    for (std::size_t k = 0, start = 0; start < n; ++k, start += kChunk) {
        if ((chunks & Utf16Size::chunk_bit(k)) == 0) continue;
        const std::size_t end = n - start <= kChunk ? n : start + kChunk;
        for (std::size_t i = next_pair(units, start, end, n); i < end;
             i = next_pair(units, i + 2, end, n)) {
            if (pairs.count < PairList::kListed) pairs.at[pairs.count] = i;
            ++pairs.count;
        }
    }
    return pairs;
}

std::size_t encode_joining_listed(const char16_t* units, std::size_t start, std::size_t end,
                                  const PairList& pairs, std::size_t& next,
                                  unsigned char* out) noexcept {
    const std::size_t listed = pairs.count < PairList::kListed ? pairs.count : PairList::kListed;
    std::size_t o = 0;
    std::size_t i = start;
    for (; next < listed && pairs.at[next] < end; ++next) {
        const std::size_t at = pairs.at[next];
        o += encode_modified_utf8(units + i, at - i, out + o);
        o = put_pair(units, at, out, o);
        i = at + 2;
    }
    // Past the last pair listed, those not listed are searched for.
    const auto rest =
        next == listed && pairs.count > listed ? encode_joining_pairs : encode_modified_utf8;
    return o + rest(units + i, end - i, out + o);
}

std::size_t encode_utf8(const char16_t* units, std::size_t n, unsigned char* out) noexcept {
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < n) {
        // A run that encode_modified_utf8 writes as UTF-8 does: no zero, no surrogate.
        std::size_t end = i;
        while (end < n && units[end] != 0 && (units[end] & 0xF800) != 0xD800) ++end;
        o += encode_modified_utf8(units + i, end - i, out + o);
        if (end == n) break;
        i = end + 1;
        if (units[end] == 0) {
            out[o++] = 0;
        } else if (pair_at(units, end, n)) {
            o = put_pair(units, end, out, o);
            ++i;
        } else {
            out[o++] = 0xEF;  // U+FFFD
            out[o++] = 0xBF;
            out[o++] = 0xBD;
        }
    }
    return o;
}

}  // namespace kiv::text
