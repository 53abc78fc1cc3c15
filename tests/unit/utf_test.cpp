// Which bytes go to the VM unchanged, and how everything else is decoded.

#include "text/utf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

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

TEST(Utf, DecodesStandardAndModifiedFormsAndReplacesInvalidBytes) {
    for (const auto& c : cases()) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        std::vector<char16_t> out(c.bytes.size() + 1,
                                  u'#');  // exactly n units of room, plus a guard
        std::size_t n = text::decode_utf8(p, c.bytes.size(), out.data());
        EXPECT_EQ(std::u16string(out.data(), n), c.units) << c.what;
        EXPECT_EQ(out[c.bytes.size()], u'#') << c.what << ": wrote past n units";
    }
}

}  // namespace
}  // namespace kiv
