// Fuzz target for text/: kiv::text::decode_utf8 (and each decoder this CPU runs) and
// kiv::text::is_modified_utf8 are checked against reference readers written here from the
// encoding rules alone, one code point at a time, with no shared helpers and no fast paths; the
// encoder (measure_utf16, encode_modified_utf8) against a reference writer, on the input read as
// UTF-16 units. Both again on mixed-width text made from the input (mixed_text), where every
// vector step runs; the fuzz lane also seeds the target with slices of real text in 18 languages
// (../shared/corpus/wikipedia-mars).
//
// Reference rules:
//  - decode: standard UTF-8 of one to four bytes with the shortest form and the U+10FFFF limit;
//    C0 80 reads as U+0000; three-byte encoded surrogates are accepted as they stand; code points
//    above U+FFFF become surrogate pairs; any byte that does not start a valid sequence reads as
//    U+FFFD and the reader moves on by that one byte.
//  - modified UTF-8: the same, except that the zero byte and four-byte forms are not allowed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "text/kernels.h"
#include "text/utf.h"

namespace {

struct Sequence {
    std::size_t length;  // 0: no valid sequence starts here
    std::uint32_t code_point;
};

// Reads the sequence at data[i]; `modified` selects the modified UTF-8 rules.
Sequence read_sequence(const std::uint8_t* data, std::size_t size, std::size_t i, bool modified) {
    const std::uint8_t lead = data[i];
    std::size_t length;
    std::uint32_t cp;
    if (lead <= 0x7F) {
        if (modified && lead == 0) return {0, 0};
        return {1, lead};
    } else if (lead >= 0xC0 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        if (modified) return {0, 0};
        length = 4;
        cp = lead & 0x07u;
    } else {
        return {0, 0};  // a continuation byte, or F8..FF
    }
    if (size - i < length) return {0, 0};
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t b = data[i + k];
        if (b < 0x80 || b > 0xBF) return {0, 0};
        cp = (cp << 6) | (b & 0x3Fu);
    }
    static const std::uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    const bool zero_as_two_bytes = length == 2 && cp == 0;
    if (cp < kSmallest[length] && !zero_as_two_bytes) return {0, 0};
    if (cp > 0x10FFFF) return {0, 0};
    return {length, cp};
}

void append_units(std::uint32_t cp, std::vector<char16_t>& out) {
    if (cp <= 0xFFFF) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Standard UTF-8 of one code point (surrogates too, as three bytes).
void append_utf8(std::uint32_t cp, std::vector<std::uint8_t>& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<std::uint8_t>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<std::uint8_t>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<std::uint8_t>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<std::uint8_t>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
    }
}

std::vector<char16_t> reference_decode(const std::uint8_t* data, std::size_t size) {
    std::vector<char16_t> out;
    std::size_t i = 0;
    while (i < size) {
        const Sequence s = read_sequence(data, size, i, false);
        if (s.length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
        } else {
            append_units(s.code_point, out);
            i += s.length;
        }
    }
    return out;
}

// The units of data when it is modified UTF-8 as a whole, or false.
bool reference_modified(const std::uint8_t* data, std::size_t size, std::vector<char16_t>& out) {
    out.clear();
    std::size_t i = 0;
    while (i < size) {
        const Sequence s = read_sequence(data, size, i, true);
        if (s.length == 0) return false;
        append_units(s.code_point, out);
        i += s.length;
    }
    return true;
}

// Modified UTF-8 of UTF-16 units, each on its own (a surrogate as three bytes, as HotSpot writes).
std::vector<std::uint8_t> reference_encode(const std::vector<char16_t>& units) {
    std::vector<std::uint8_t> out;
    for (char16_t u : units) {
        if (u >= 0x0001 && u <= 0x007F) {
            out.push_back(static_cast<std::uint8_t>(u));
        } else if (u <= 0x07FF) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | (u >> 6)));
            out.push_back(static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<std::uint8_t>(0xE0 | (u >> 12)));
            out.push_back(static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<std::uint8_t>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

// The same with each surrogate pair joined into the four bytes of its character, as ART writes
// a string.
std::vector<std::uint8_t> reference_encode_joined(const std::vector<char16_t>& units) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
            units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            append_utf8(0x10000 + ((units[i] - 0xD800u) << 10) + (units[i + 1] - 0xDC00u), out);
            ++i;
        } else {
            const std::vector<std::uint8_t> one = reference_encode({units[i]});
            out.insert(out.end(), one.begin(), one.end());
        }
    }
    return out;
}

[[noreturn]] void fail(const char* what, const std::uint8_t* data, std::size_t size) {
    std::fprintf(stderr, "utf fuzz: %s; input (%zu bytes):", what, size);
    for (std::size_t i = 0; i < size; ++i) std::fprintf(stderr, " %02X", data[i]);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Every decoder this CPU runs, on [bytes, bytes + count), against the reference; failures name
// the fuzz input (data, size) the bytes came from.
void check_decoders(const std::uint8_t* bytes, std::size_t count,
                    const std::vector<char16_t>& expected, const std::uint8_t* data,
                    std::size_t size) {
    for (kiv::text::Path path : kiv::text::kPaths) {
        const kiv::text::Kernels* k = kiv::text::kernels_for(path);
        if (k == nullptr) continue;
        // Exactly `count` units of room, so the sanitizer catches any write past the bound.
        std::unique_ptr<char16_t[]> units(new char16_t[count == 0 ? 1 : count]);
        const std::size_t n = k->decode(bytes, count, units.get());
        if (n != expected.size())
            fail("a decoder's unit count differs from the reference", data, size);
        for (std::size_t i = 0; i < n; ++i) {
            if (units[i] != expected[i]) fail("a decoder differs from the reference", data, size);
        }
    }
}

// Every encoder this CPU runs, on any units (surrogates too), against the reference.
void check_encoders(const std::vector<char16_t>& text, const std::uint8_t* data, std::size_t size) {
    const kiv::text::Utf16Size measured = kiv::text::measure_utf16(text.data(), text.size());
    const std::vector<std::uint8_t> bytes = reference_encode(text);
    if (measured.bytes != bytes.size()) fail("measure_utf16 size differs", data, size);
    // Exactly the 3n bytes of room the header promises.
    std::unique_ptr<unsigned char[]> encoded(new unsigned char[3 * text.size() + 1]);
    if (kiv::text::encode_modified_utf8(text.data(), text.size(), encoded.get()) != bytes.size())
        fail("encode_modified_utf8 size differs", data, size);
    for (kiv::text::Path path : kiv::text::kPaths) {
        const kiv::text::Kernels* k = kiv::text::kernels_for(path);
        if (k == nullptr) continue;
        std::unique_ptr<unsigned char[]> out(new unsigned char[3 * text.size() + 1]);
        const std::size_t count = k->encode(text.data(), text.size(), out.get());
        if (count != bytes.size()) fail("an encoder's size differs", data, size);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (out[i] != bytes[i]) fail("an encoder differs from the reference", data, size);
        }
    }
    const std::vector<std::uint8_t> joined = reference_encode_joined(text);
    const kiv::text::PairList pairs =
        kiv::text::find_pairs(text.data(), text.size(), measured.surrogate_chunks);
    if (measured.bytes - 2 * pairs.count != joined.size())
        fail("find_pairs differs from the reference", data, size);
    // The slices, the pairs found listed or searched for.
    std::vector<std::uint8_t> sliced;
    kiv::text::for_each_modified_utf8_slice(
        text.data(), text.size(),
        [&](const unsigned char* p, std::size_t n) { sliced.insert(sliced.end(), p, p + n); },
        &pairs);
    if (sliced != joined) fail("the joining slices differ from the reference", data, size);
    if (kiv::text::encode_joining_pairs(text.data(), text.size(), encoded.get()) != joined.size())
        fail("encode_joining_pairs size differs", data, size);
    for (std::size_t i = 0; i < joined.size(); ++i) {
        if (encoded[i] != joined[i])
            fail("encode_joining_pairs differs from the reference", data, size);
    }
}

// Text as people write it, from the input two bytes a character: mostly ASCII, two- and
// three-byte characters in any order (what the vector steps take), now and then a four-byte
// one, an encoded zero or surrogate, or bytes that start no valid sequence. Random bytes alone
// are mostly invalid UTF-8 and reach the vector steps too rarely.
std::vector<std::uint8_t> mixed_text(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const unsigned kind = data[i] & 15;
        const unsigned x = ((data[i] >> 4) << 8) | data[i + 1];  // 12 bits
        if (kind < 5) {
            out.push_back(static_cast<std::uint8_t>(x & 0x7F));
        } else if (kind < 9) {
            append_utf8(0x80 + x % 0x780, out);
        } else if (kind < 14) {
            append_utf8(0x800 + ((x * 0x1F) & 0xFFFF) % 0xF800, out);  // surrogates included
        } else if (kind == 14) {
            append_utf8(0x10000 + x * 0x100, out);
        } else {
            static const std::uint8_t kOdd[][3] = {
                {0xC0, 0x80, 0}, {0xC1, 0xBF, 0}, {0xE0, 0x9F, 0xBF}, {0xF8, 0, 0},
                {0x80, 0, 0},    {0xE4, 0xB8, 0}, {0xC3, 0, 0},       {0xF4, 0x90, 0x80}};
            for (std::uint8_t b : kOdd[x & 7]) {
                if (b != 0) out.push_back(b);
            }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An output of exactly `size` units, so the sanitizer catches any write past the bound
    // the header promises.
    std::unique_ptr<char16_t[]> units(new char16_t[size == 0 ? 1 : size]);
    const std::size_t n = kiv::text::decode_utf8(data, size, units.get());
    if (n > size) fail("decode_utf8 wrote more units than bytes", data, size);

    const std::vector<char16_t> expected = reference_decode(data, size);
    if (n != expected.size()) fail("decode_utf8 unit count differs from the reference", data, size);
    for (std::size_t i = 0; i < n; ++i) {
        if (units[i] != expected[i]) fail("decode_utf8 differs from the reference", data, size);
    }
    check_decoders(data, size, expected, data, size);

    // The input as UTF-16 units (pairs of bytes, little-endian) for the encoder.
    std::vector<char16_t> text(size / 2);
    bool surrogates = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        surrogates = surrogates || (text[i] >= 0xD800 && text[i] <= 0xDFFF);
    }
    const kiv::text::Utf16Size measured = kiv::text::measure_utf16(text.data(), text.size());
    if (measured.surrogates() != surrogates) fail("measure_utf16 misjudged surrogates", data, size);
    check_encoders(text, data, size);

    // The same checks on mixed-width text made from the input, and its characters encoded back.
    const std::vector<std::uint8_t> mixed = mixed_text(data, size);
    std::vector<char16_t> mixed_units = reference_decode(mixed.data(), mixed.size());
    check_decoders(mixed.data(), mixed.size(), mixed_units, data, size);
    check_encoders(mixed_units, data, size);

    std::vector<char16_t> modified_units;
    const bool modified = kiv::text::is_modified_utf8(data, size);
    if (modified != reference_modified(data, size, modified_units)) {
        fail(modified ? "is_modified_utf8 accepted what the reference rejects"
                      : "is_modified_utf8 rejected what the reference accepts",
             data, size);
    }
    if (modified) {
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) fail("is_modified_utf8 accepted a zero byte", data, size);
            if (data[i] >= 0xF0)
                fail("is_modified_utf8 accepted a four-byte lead or F8..FF", data, size);
        }
        // What the VM will read from these bytes is what the forgiving decoder reads.
        if (modified_units != expected)
            fail("modified UTF-8 reads differently from decode_utf8", data, size);
    }
    return 0;
}
