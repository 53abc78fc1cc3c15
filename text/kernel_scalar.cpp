// The portable decoder and encoder: a word at a time through ASCII, a tight loop through runs of
// three-byte sequences, and one sequence at a time through everything else.
#include <cstdint>
#include <cstring>

#include "text/kernels.h"

namespace kiv::text {
namespace detail {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// The unit of a valid three-byte sequence at p, or a value below 0x800 (overlong, or not three
// bytes at all). Needs three readable bytes.
unsigned three_byte_unit(const unsigned char* p) noexcept {
    if ((p[0] & 0xF0) != 0xE0 || !is_continuation(p[1]) || !is_continuation(p[2])) return 0;
    return ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
}

// Decodes the one sequence (or invalid byte) at p[i], a non-ASCII byte that starts no valid
// three-byte sequence (the caller's run of them takes those); returns its length.
std::size_t decode_one(const unsigned char* p, std::size_t i, std::size_t n, char16_t* out,
                       std::size_t& o) noexcept {
    const unsigned char b = p[i];
    const std::size_t left = n - i;
    if (b >= 0xC0 && b <= 0xDF && left >= 2 && is_continuation(p[i + 1]) &&
        (b >= 0xC2 || (b == 0xC0 && p[i + 1] == 0x80))) {  // no overlong form but C0 80
        out[o++] = static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
        return 2;
    }
    if (b >= 0xF0 && b <= 0xF4 && left >= 4 && is_continuation(p[i + 1]) &&
        is_continuation(p[i + 2]) && is_continuation(p[i + 3]) && !(b == 0xF0 && p[i + 1] < 0x90) &&
        !(b == 0xF4 && p[i + 1] > 0x8F)) {
        char32_t c = (static_cast<char32_t>(b & 0x07) << 18) |
                     (static_cast<char32_t>(p[i + 1] & 0x3F) << 12) |
                     (static_cast<char32_t>(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
        c -= 0x10000;
        out[o++] = static_cast<char16_t>(0xD800 + (c >> 10));
        out[o++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        return 4;
    }
    out[o++] = kReplacement;
    return 1;
}

}  // namespace

Progress decode_scalar_until(const unsigned char* p, std::size_t n, char16_t* out, Progress at,
                             std::size_t stop) noexcept {
    std::size_t i = at.in;
    std::size_t o = at.out;
    while (i < stop) {
        if (stop - i >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & kHighs) == 0) {
                for (int k = 0; k < 8; ++k) out[o + k] = p[i + k];
                i += 8;
                o += 8;
                continue;
            }
        }
        const unsigned char b = p[i];
        if (b < 0x80) {
            out[o++] = b;
            ++i;
            continue;
        }
        // A run of three-byte sequences, the bulk of CJK text (surrogates too, one by one, as
        // they stand).
        while (i < stop && n - i >= 3) {
            const unsigned unit = three_byte_unit(p + i);
            if (unit < 0x800) break;
            out[o++] = static_cast<char16_t>(unit);
            i += 3;
        }
        if (i < stop && p[i] >= 0x80) i += decode_one(p, i, n, out, o);
    }
    return {i, o};
}

std::size_t decode_scalar(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    return decode_scalar_until(p, n, out, {0, 0}, n).out;
}

std::size_t encode_scalar_range(const char16_t* units, std::size_t i, std::size_t end,
                                unsigned char* out, std::size_t o) noexcept {
    for (; i < end; ++i) {
        const unsigned c = units[i];
        if (c - 1 < 0x7F) {
            out[o++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {  // U+0000 too, as C0 80
            out[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            out[o++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    return o;
}

std::size_t encode_scalar(const char16_t* units, std::size_t n, unsigned char* out) noexcept {
    return encode_scalar_range(units, 0, n, out, 0);
}

}  // namespace detail
}  // namespace kiv::text
