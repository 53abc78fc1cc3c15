// Which bytes go to the VM unchanged, and how everything else is decoded.

#include "text/utf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/kernels.h"
#include "text/kernels.h"

namespace kiv {
namespace {

template <typename String>
String repeated(const String& piece, std::size_t times) {
    String s;
    for (std::size_t k = 0; k < times; ++k) s += piece;
    return s;
}
std::string repeat(const std::string& piece, std::size_t times) { return repeated(piece, times); }
std::u16string repeat(const std::u16string& piece, std::size_t times) {
    return repeated(piece, times);
}

struct Case {
    const char* what;
    std::string bytes;
    bool modified_utf8;
    std::u16string units;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"empty", "", true, u""},
        {"ascii", "Hello~", true, u"Hello~"},
        {"long ascii (word at a time)", std::string(37, 'q'), true, std::u16string(37, u'q')},
        {"zero byte", std::string("ab\0cd", 5), false, std::u16string(u"ab\0cd", 5)},
        {"zero byte after eight ascii", std::string("abcdefgh\0", 9), false,
         std::u16string(u"abcdefgh\0", 9)},
        {"encoded zero", "\xC0\x80", true, std::u16string(1, u'\0')},
        {"two bytes", "\xC3\xA9", true, u"\u00E9"},
        {"three bytes", "\xE4\xB8\xAD", true, u"\u4E2D"},
        {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", true, u"\U0001F600"},
        {"lone surrogate", "\xED\xB0\x80", true, u"\xDC00"},
        {"four bytes", "\xF0\x9F\x98\x80", false, u"\U0001F600"},
        {"largest code point", "\xF4\x8F\xBF\xBF", false, u"\U0010FFFF"},
        {"beyond the largest", "\xF4\x90\x80\x80", false, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"overlong two bytes", "\xC1\xBF", false, u"\uFFFD\uFFFD"},
        {"overlong three bytes", "\xE0\x9F\xBF", false, u"\uFFFD\uFFFD\uFFFD"},
        {"stray continuation", "a\x80z", false, u"a\uFFFDz"},
        {"truncated at the end", "ok\xE4\xB8", false, u"ok\uFFFD\uFFFD"},
        {"lead without continuation", "\xC3(", false, u"\uFFFD("},
        {"invalid lead bytes", "\xF8\xFF\xFE", false, u"\uFFFD\uFFFD\uFFFD"},
        {"high byte after eight ascii", "abcdefgh\xC3\xA9", true, u"abcdefgh\u00E9"},
    };
    return all;
}

TEST(Utf, ModifiedUtf8IsRecognisedExactly) {
    for (const auto& c : cases()) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(text::is_modified_utf8(p, c.bytes.size()), c.modified_utf8) << c.what;
    }
}

TEST(Utf, AsciiMeansEveryByteBelow0x80) {
    for (const auto& c : cases()) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        bool ascii = true;
        for (unsigned char b : c.bytes) ascii = ascii && b < 0x80;
        EXPECT_EQ(text::is_ascii(p, c.bytes.size()), ascii) << c.what;
    }
    std::string long_text(1000, 'a');
    long_text[999] = '\x80';  // in the byte-at-a-time tail
    EXPECT_FALSE(
        text::is_ascii(reinterpret_cast<const unsigned char*>(long_text.data()), long_text.size()));
    long_text[999] = 'a';
    long_text[8] = '\xFF';  // in a word
    EXPECT_FALSE(
        text::is_ascii(reinterpret_cast<const unsigned char*>(long_text.data()), long_text.size()));
}

// Every decoder (and encoder) this CPU runs: the scalar one and the vector ones.
std::vector<text::Path> decoders() { return test::runnable(text::kPaths, text::path_supported); }

// Decodes with the given path into exactly n units of room, checks nothing is written past
// them, and returns the units.
std::u16string decode_on(text::Path path, const std::string& bytes) {
    std::vector<char16_t> out(bytes.size() + 1, u'#');
    const std::size_t n = text::kernels_for(path)->decode(
        reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    EXPECT_EQ(out[bytes.size()], u'#') << "wrote past n units";
    return std::u16string(out.data(), n);
}

// The build chose the kernels the target can have, and the dispatcher offers those the CPU runs.
TEST(UtfDispatch, PathsReportThemselves) {
    for (text::Path path : text::kPaths) {
        const text::Kernels* k = text::kernels_for(path);
        EXPECT_EQ(k != nullptr, text::path_supported(path));
        if (k != nullptr) {
            EXPECT_EQ(k->path, path);
        }
        EXPECT_TRUE(text::path_built(path) || k == nullptr) << testing::PrintToString(path);
    }
    EXPECT_TRUE(text::path_supported(text::Path::scalar));
    EXPECT_TRUE(text::path_supported(text::best_kernels().path));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(text::path_supported(text::Path::ssse3), __builtin_cpu_supports("ssse3") != 0);
    EXPECT_EQ(text::path_supported(text::Path::avx2),
              text::path_built(text::Path::avx2) && __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(text::path_supported(text::Path::avx512),
              text::path_built(text::Path::avx512) && __builtin_cpu_supports("avx512vbmi2") != 0);
    EXPECT_FALSE(text::path_supported(text::Path::neon));
#elif defined(__aarch64__) || (defined(__arm__) && defined(__ARM_NEON))
    EXPECT_TRUE(text::path_supported(text::Path::neon));
#endif
}

// The decoders and encoders below run on the kernels this CPU runs: this one line names any built
// in that it cannot.
TEST(UtfDispatch, EveryKernelBuiltInRunsHere) {
    const std::string missing =
        test::built_not_runnable(text::kPaths, text::path_built, text::path_supported);
    if (!missing.empty()) GTEST_SKIP() << "built in, but this CPU cannot run: " << missing;
}

TEST(Utf, DecodesStandardAndModifiedFormsAndReplacesInvalidBytes) {
    for (text::Path path : decoders()) {
        for (const auto& c : cases()) {
            EXPECT_EQ(decode_on(path, c.bytes), c.units) << c.what << ", path " << text::name(path);
        }
    }
    const std::string some = "a\xE4\xB8\xAD\xF0\x9F\x98\x80\xFF";
    std::vector<char16_t> out(some.size());
    EXPECT_EQ(std::u16string(out.data(),
                             text::decode_utf8(reinterpret_cast<const unsigned char*>(some.data()),
                                               some.size(), out.data())),
              u"a\u4E2D\U0001F600\uFFFD");
}

// The vector decoders take blocks of 16 ASCII bytes, of 8 or 16 two- and three-byte sequences,
// and of 16 bytes where the widths interleave. Each kind of byte is put at every position around
// the block sizes, inside runs of each kind and of each mix, and at the very end.
TEST(Utf, DecodersAgreeAroundEveryBlockBoundary) {
    struct Piece {
        const char* what;
        std::string bytes;
        std::u16string units;
    };
    const Piece runs[] = {
        {"ascii", "q", u"q"},
        {"two bytes", "\xD0\x96", u"\u0416"},
        {"three bytes", "\xE4\xB8\xAD", u"\u4E2D"},
        {"three bytes from E0", "\xE0\xA0\x80", u"\u0800"},
        {"ascii and two bytes", "q\xD0\x96", u"q\u0416"},
        {"ascii and three bytes", "q\xE4\xB8\xAD", u"q\u4E2D"},
        {"two and three bytes", "\xD0\x96\xE0\xA4\xB9", u"\u0416\u0939"},
        {"ascii, three and two bytes", "q\xED\x9F\xBF\xDF\xBF", u"q\uD7FF\u07FF"},
    };
    const Piece odd_ones[] = {
        {"ascii", "z", u"z"},
        {"zero byte", std::string(1, '\0'), std::u16string(1, u'\0')},
        {"encoded zero", "\xC0\x80", std::u16string(1, u'\0')},
        {"smallest two bytes", "\xC2\x80", u"\u0080"},
        {"largest two bytes", "\xDF\xBF", u"\u07FF"},
        {"overlong two bytes", "\xC1\xBF", u"\uFFFD\uFFFD"},
        {"largest three bytes", "\xEF\xBF\xBF", u"\uFFFF"},
        {"overlong three bytes", "\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"surrogate triples", "\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"stray continuation", "\x80", u"\uFFFD"},
        {"invalid byte", "\xFF", u"\uFFFD"},
        {"lead then ascii", "\xE4q", u"\uFFFDq"},
        {"three-byte lead then two-byte tail", "\xE4\xB8\xC3\xA9", u"\uFFFD\uFFFD\u00E9"},
    };
    const std::string truncated_ends[] = {"", "\xE4", "\xE4\xB8", "\xC3", "\xF0\x9F\x98"};
    for (text::Path path : decoders()) {
        for (const Piece& run : runs) {
            for (const Piece& odd : odd_ones) {
                for (std::size_t before = 0; before <= 50; ++before) {
                    for (std::size_t after : {0, 1, 17, 49}) {
                        for (const std::string& end : truncated_ends) {
                            std::string bytes;
                            std::u16string units;
                            for (std::size_t k = 0; k < before; ++k)
                                bytes += run.bytes, units += run.units;
                            bytes += odd.bytes, units += odd.units;
                            for (std::size_t k = 0; k < after; ++k)
                                bytes += run.bytes, units += run.units;
                            bytes += end, units += std::u16string(end.size(), u'\uFFFD');
                            ASSERT_EQ(decode_on(path, bytes), units)
                                << odd.what << " after " << before << " " << run.what << ", then "
                                << after << " and " << end.size() << " truncated bytes, path "
                                << text::name(path);
                        }
                    }
                }
            }
        }
    }
}

// The two encoders that join surrogate pairs into four bytes: standard UTF-8, as the kiv tool
// prints a Java string (zero as a zero byte, lone surrogates as U+FFFD), and ART's modified
// UTF-8 (zero as C0 80, lone surrogates as three bytes of their own), in runs long enough for the
// vector encoders too. find_pairs, in the chunks measure_utf16 marks, counts the pairs the second
// one joins.
TEST(Utf, EncodersJoiningPairsWriteStandardAndArtsUtf8) {
    const std::string run(40, 'q');
    const std::u16string wide(40, u'q');
    constexpr std::size_t kChunk = text::Utf16Size::kChunk;
    const auto qs = [](std::size_t n) { return std::u16string(n, u'q'); };
    const struct {
        const char* what;
        std::u16string units;
        std::string standard, art;
    } rows[] = {
        {"empty", u"", "", ""},
        {"zero", std::u16string(1, u'\0'), std::string(1, '\0'), "\xC0\x80"},
        {"one to three bytes", u"a\u00E9\u4E2D", "a\xC3\xA9\xE4\xB8\xAD", "a\xC3\xA9\xE4\xB8\xAD"},
        {"pair", u"\U0001F600", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"largest pair", u"\U0010FFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"pairs amid runs", wide + u"\U00010000" + wide + u"\U0001F600",
         run + "\xF0\x90\x80\x80" + run + "\xF0\x9F\x98\x80",
         run + "\xF0\x90\x80\x80" + run + "\xF0\x9F\x98\x80"},
        {"lone high", u"\xD83D" + wide, "\xEF\xBF\xBD" + run, "\xED\xA0\xBD" + run},
        {"lone low", wide + u"\xDE00", run + "\xEF\xBF\xBD", run + "\xED\xB8\x80"},
        {"reversed pair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD", "\xED\xB8\x80\xED\xA0\xBD"},
        {"two highs, then a low", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80",
         "\xED\xA0\x80\xF0\x9F\x98\x80"},
        {"high at the end", wide + u"\xD83D", run + "\xEF\xBF\xBD", run + "\xED\xA0\xBD"},
        {"zero inside runs", wide + std::u16string(1, u'\0') + wide,
         run + std::string(1, '\0') + run, run + "\xC0\x80" + run},
        {"pair across a chunk's edge, after a lone low", u"\xDE00" + qs(kChunk - 2) + u"\U0001F600",
         "\xEF\xBF\xBD" + std::string(kChunk - 2, 'q') + "\xF0\x9F\x98\x80",
         "\xED\xB8\x80" + std::string(kChunk - 2, 'q') + "\xF0\x9F\x98\x80"},
        {"pairs two chunks apart", u"\U0001F600" + qs(2 * kChunk) + u"\U0001F600",
         "\xF0\x9F\x98\x80" + std::string(2 * kChunk, 'q') + "\xF0\x9F\x98\x80",
         "\xF0\x9F\x98\x80" + std::string(2 * kChunk, 'q') + "\xF0\x9F\x98\x80"},
        {"pair past the 64th chunk", qs(64 * kChunk + 9) + u"\U0001F600",
         std::string(64 * kChunk + 9, 'q') + "\xF0\x9F\x98\x80",
         std::string(64 * kChunk + 9, 'q') + "\xF0\x9F\x98\x80"},
    };
    for (const auto& row : rows) {
        const std::size_t units = row.units.size();
        // A unit past the end, where a string's terminating zero would hide a read beyond it (a
        // VM's characters have none).
        const std::u16string padded = row.units + u"q\xDE00";
        for (const auto& [encoder, want] : {std::pair(&text::encode_utf8, row.standard),
                                            std::pair(&text::encode_joining_pairs, row.art)}) {
            std::vector<unsigned char> out(3 * units + 1, '#');
            const std::size_t n = encoder(padded.data(), units, out.data());
            EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), want)
                << row.what;
            EXPECT_EQ(out[3 * units], '#') << row.what << ": wrote past 3n bytes";
        }
        const text::Utf16Size size = text::measure_utf16(row.units.data(), units);
        EXPECT_EQ(
            size.bytes - 2 * text::find_pairs(row.units.data(), units, size.surrogate_chunks).count,
            row.art.size())
            << row.what;
    }
}

// The vector encoders take blocks of 8, 16 or 32 characters of one width or of mixed widths; each
// edge character, and each surrogate, is put at every position around them, inside runs of each
// width and of each mix. measure_utf16 sizes what they write and finds every surrogate.
TEST(Utf, EncodersWriteModifiedUtf8AroundEveryBlockBoundary) {
    struct Piece {
        std::u16string units;
        std::string bytes;
    };
    const Piece runs[] = {
        {u"q", "q"},
        {u"\u0416", "\xD0\x96"},
        {u"\u4E2D", "\xE4\xB8\xAD"},
        {u"q\u0416", "q\xD0\x96"},
        {u"q\u4E2D", "q\xE4\xB8\xAD"},
        {u"\u0416\uFFFF", "\xD0\x96\xEF\xBF\xBF"},
        {u"q\u0800\u07FF", "q\xE0\xA0\x80\xDF\xBF"},
        // Mixed blocks, then ASCII ones enough for an encoder to leave a step for mixed runs.
        {repeat(u"q\u0416", 20) + repeat(u"q", 200), repeat("q\xD0\x96", 20) + repeat("q", 200)},
        // Blocks of three-byte characters, which write the most, up to the last that fits.
        {repeat(u"\u4E2D", 16), repeat("\xE4\xB8\xAD", 16)},
    };
    const Piece edges[] = {
        {std::u16string(1, u'\0'), "\xC0\x80"},
        {u"\u0001", "\x01"},
        {u"\u007F", "\x7F"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\uD7FF", "\xED\x9F\xBF"},
        {u"\uE000", "\xEE\x80\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
    };
    for (text::Path path : decoders()) {
        for (const Piece& run : runs) {
            for (const Piece& edge : edges) {
                for (std::size_t before = 0; before <= 34; ++before) {
                    for (std::size_t after : {0, 1, 7, 15, 16, 17}) {
                        std::u16string units;
                        std::string bytes;
                        for (std::size_t k = 0; k < before; ++k)
                            units += run.units, bytes += run.bytes;
                        units += edge.units, bytes += edge.bytes;
                        for (std::size_t k = 0; k < after; ++k)
                            units += run.units, bytes += run.bytes;
                        std::vector<unsigned char> out(3 * units.size() + 1, '#');
                        const std::size_t n =
                            text::kernels_for(path)->encode(units.data(), units.size(), out.data());
                        const auto size = text::measure_utf16(units.data(), units.size());
                        ASSERT_EQ(std::string(out.begin(), out.begin() + n), bytes)
                            << "edge U+" << static_cast<unsigned>(edge.units[0]) << " after "
                            << before << " of U+" << static_cast<unsigned>(run.units[0])
                            << ", path " << text::name(path);
                        EXPECT_EQ(out[3 * units.size()], '#') << "wrote past 3n bytes";
                        EXPECT_EQ(size.bytes, bytes.size());
                        EXPECT_FALSE(size.surrogates());
                        // Each surrogate on its own, as three bytes.
                        const std::size_t at = before * run.bytes.size();
                        const std::size_t unit_at = before * run.units.size();
                        for (const auto& [unit, three] : {std::pair(u'\xDBFF', "\xED\xAF\xBF"),
                                                          std::pair(u'\xD800', "\xED\xA0\x80")}) {
                            units[unit_at] = unit;
                            EXPECT_TRUE(
                                text::measure_utf16(units.data(), units.size()).surrogates());
                            const std::string want =
                                bytes.substr(0, at) + three + bytes.substr(at + edge.bytes.size());
                            const std::size_t m = text::kernels_for(path)->encode(
                                units.data(), units.size(), out.data());
                            EXPECT_EQ(std::string(out.begin(), out.begin() + m), want)
                                << "surrogate after " << before << " of U+"
                                << static_cast<unsigned>(run.units[0]) << ", path "
                                << text::name(path);
                        }
                    }
                }
            }
        }
    }
}

// The slice encoder hands a text on in slices of 1024 units, each of an even count but the last;
// surrogates, paired or lone, sit on either side of a slice's edge and bring an odd byte across
// it, and a pair it joins is never cut in two (its slice ends one unit early). The slices joined
// are the whole text's bytes.
TEST(Utf, SlicesAreEvenButTheLastAndJoinToTheWholeText) {
    const std::string pair = "\xED\xA0\xBD\xED\xB8\x80";  // U+1F600, each unit alone
    const std::string four = "\xF0\x9F\x98\x80";          // and joined
    const std::u16string across = u"ab" + std::u16string(1021, u'\u00E9') + u"\U0001F600b";
    const std::u16string lone_high_last = std::u16string(1023, u'q') + u"\xD83Dq";
    const struct {
        const char* what;
        text::Pairs pairs;
        std::u16string units;
        std::string bytes;
    } rows[] = {
        {"pair across the edge, odd bytes before", text::Pairs::each_unit, across,
         "ab" + repeat("\xC3\xA9", 1021) + pair + "b"},
        {"pair across the edge, joined", text::Pairs::joined, across,
         "ab" + repeat("\xC3\xA9", 1021) + four + "b"},
        {"lone high last of a slice, joined", text::Pairs::joined, lone_high_last,
         std::string(1023, 'q') + "\xED\xA0\xBDq"},
        {"lone low last of a slice", text::Pairs::each_unit,
         std::u16string(1023, u'\u00E9') + u"\xDC00z", repeat("\xC3\xA9", 1023) + "\xED\xB0\x80z"},
        {"lone high first of a slice, odd bytes before", text::Pairs::each_unit,
         u"\u00E9" + std::u16string(1023, u'q') + u"\xD83D" + std::u16string(1025, u'\u4E2D'),
         "\xC3\xA9" + std::string(1023, 'q') + "\xED\xA0\xBD" + repeat("\xE4\xB8\xAD", 1025)},
        {"surrogates only", text::Pairs::each_unit, std::u16string(2049, u'\xDFFF'),
         repeat("\xED\xBF\xBF", 2049)},
        // The 32nd pair, past those find_pairs lists, across the edge.
        {"more pairs than are listed, joined", text::Pairs::joined,
         repeat(u"\U0001F600" + std::u16string(31, u'q'), 60),
         repeat(four + std::string(31, 'q'), 60)},
    };
    for (const auto& row : rows) {
        std::string joined;
        std::vector<std::size_t> counts;
        const text::PairList pairs = text::find_pairs(row.units.data(), row.units.size());
        text::for_each_modified_utf8_slice(
            row.units.data(), row.units.size(),
            [&](const unsigned char* p, std::size_t n) {
                joined.append(reinterpret_cast<const char*>(p), n);
                counts.push_back(n);
            },
            row.pairs == text::Pairs::joined ? &pairs : nullptr);
        EXPECT_TRUE(joined == row.bytes) << row.what;
        EXPECT_EQ(counts.size(), (row.units.size() + 1023) / 1024) << row.what;
        for (std::size_t k = 0; k + 1 < counts.size(); ++k) {
            EXPECT_EQ(counts[k] % 2, 0u) << row.what << ", slice " << k;
        }
    }
}

}  // namespace
}  // namespace kiv
