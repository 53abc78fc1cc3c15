#include "codec/codec.h"

#include <gtest/gtest.h>
#include <kiv/codec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/kernels.h"
#include "tests/support/kernels.h"
#include "tests/support/model.h"

namespace {

using bytes = std::vector<unsigned char>;

// With `text`, neither the bytes nor their scrambled form contain a zero, so
// both can go through the zero-terminated encode/decode.
bytes random_bytes(std::size_t n, std::mt19937& rng, bool text = false) {
    bytes b(n);
    for (auto& c : b) {
        c = static_cast<unsigned char>(rng());
        if (text && (c == 0 || c == 1 || c == 0xFF)) c = 0x42;
    }
    return b;
}

bytes from(const std::string& s) { return bytes(s.begin(), s.end()); }

struct format_case {
    std::string plain;
    std::string scrambled;
};

const format_case format_cases[] = {
    {"", ""},
    {"a", "b"},
    {"ab", "ba"},
    {"abc", "bda"},
    {"abcd", "bdac"},
    {std::string("\xFE\x80", 2), std::string("\xFF\x7F", 2)},
    {std::string("\xFF\x01", 2), std::string("\x00\x00", 2)},
    {std::string("\x00\x00\xFF", 3), std::string("\x01\x00\xFF", 3)},
    {std::string("\x7F\x00\x80\xFF", 4), std::string("\x80\x81\xFF\xFE", 4)},
};

TEST(CodecFormat, LengthApiMatchesTable) {
    for (const auto& c : format_cases) {
        SCOPED_TRACE(testing::PrintToString(c.plain));
        const bytes plain = from(c.plain), scrambled = from(c.scrambled);
        bytes out(plain.size());
        kiv::codec::scramble(plain.data(), plain.size(), out.data());
        EXPECT_EQ(out, scrambled);
        kiv::codec::unscramble(scrambled.data(), scrambled.size(), out.data());
        EXPECT_EQ(out, plain);
    }
}

// encode/decode always write exactly n bytes and a zero, even where a byte
// turns into zero.
TEST(CodecExported, WritesExactlyNBytesAndTerminator) {
    for (const auto& c : format_cases) {
        SCOPED_TRACE(testing::PrintToString(c.plain));
        const std::size_t n = c.plain.size();
        if (c.plain.find('\0') == std::string::npos) {
            std::vector<char> out(n + 1, '\x55');
            encode(c.plain.c_str(), out.data());
            EXPECT_EQ(std::string(out.data(), n), c.scrambled);
            EXPECT_EQ(out[n], '\0');
        }
        if (c.scrambled.find('\0') == std::string::npos) {
            std::vector<char> out(n + 1, '\x55');
            decode(c.scrambled.c_str(), out.data());
            EXPECT_EQ(std::string(out.data(), n), c.plain);
            EXPECT_EQ(out[n], '\0');
        }
    }
}

TEST(CodecExported, NullPointersAreIgnored) {
    char buf[4] = {'x', 'y', 'z', '\0'};
    encode(nullptr, buf);
    decode(nullptr, buf);
    encode("ab", nullptr);
    decode("ab", nullptr);
    EXPECT_STREQ(buf, "xyz");
}

// Same buffer, and output shifted either way against input, across the 4 KiB
// scratch size where the in-place recursion starts.
TEST(CodecExported, InPlaceAndOverlapping) {
    std::mt19937 rng(7);
    for (std::size_t n : {0u, 1u, 2u, 77u, 4095u, 4096u, 4097u, 8193u, 70001u, 1048579u}) {
        const bytes plain = random_bytes(n, rng, true);
        const bytes scrambled = kiv::test::model_scramble(plain);
        for (std::ptrdiff_t shift : {0, 1, -1, 2, -3, 4096, -5000}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " shift=" << shift);
            const std::size_t margin = 5000;
            std::vector<char> buf(n + 2 * margin + 1, '\x11');
            char* in = buf.data() + margin;
            char* out = in + shift;
            std::copy(plain.begin(), plain.end(), in);
            in[n] = '\0';
            encode(in, out);
            ASSERT_EQ(bytes(out, out + n), scrambled);
            ASSERT_EQ(out[n], '\0');
            decode(out, in);
            ASSERT_EQ(bytes(in, in + n), plain);
            ASSERT_EQ(in[n], '\0');
        }
    }
}

TEST(CodecDispatch, PathsReportThemselves) {
    EXPECT_TRUE(kiv::codec::path_supported(kiv::codec::Path::scalar));
    for (auto p : kiv::codec::kPaths) {
        const kiv::codec::Kernels* k = kiv::codec::kernels_for(p);
        EXPECT_EQ(k != nullptr, kiv::codec::path_supported(p));
        if (k != nullptr) {
            EXPECT_EQ(k->path, p);
        }
        EXPECT_TRUE(kiv::codec::path_built(p) || k == nullptr) << testing::PrintToString(p);
    }
    EXPECT_TRUE(kiv::codec::path_supported(kiv::codec::best_kernels().path));
#if defined(__x86_64__)
    EXPECT_EQ(kiv::codec::path_supported(kiv::codec::Path::avx2),
              __builtin_cpu_supports("avx2") != 0);
#else
    EXPECT_FALSE(kiv::codec::path_supported(kiv::codec::Path::avx2));  // built for x86-64 only
#endif
}

// A kernel built in that this CPU cannot run has no cases below: this one line says so.
TEST(CodecDispatch, EveryKernelBuiltInRunsHere) {
    const std::string missing = kiv::test::built_not_runnable(
        kiv::codec::kPaths, kiv::codec::path_built, kiv::codec::path_supported);
    if (!missing.empty()) GTEST_SKIP() << "built in, but this CPU cannot run: " << missing;
}

// Instantiated with the kernels this CPU runs.
class CodecPath : public testing::TestWithParam<kiv::codec::Path> {
protected:
    void SetUp() override { k_ = kiv::codec::kernels_for(GetParam()); }
    // Runs both kernels on an n-byte input at the given buffer offsets, every
    // buffer exactly as long as the data so any overrun is caught by ASan.
    void check(const bytes& plain, std::size_t in_off, std::size_t out_off) {
        const std::size_t n = plain.size(), e = (n + 1) / 2, o = n / 2;
        const bytes want = kiv::test::model_scramble(plain);
        bytes in(in_off + n), front(out_off + e), back(out_off + o);
        std::copy(plain.begin(), plain.end(), in.begin() + static_cast<std::ptrdiff_t>(in_off));
        k_->scramble(in.data() + in_off, n, front.data() + out_off, back.data() + out_off);
        ASSERT_EQ(bytes(front.begin() + static_cast<std::ptrdiff_t>(out_off), front.end()),
                  bytes(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(e)));
        ASSERT_EQ(bytes(back.begin() + static_cast<std::ptrdiff_t>(out_off), back.end()),
                  bytes(want.begin() + static_cast<std::ptrdiff_t>(e), want.end()));
        // Unscramble the pairs from the separate halves into an exact 2*o buffer.
        bytes pairs_out(in_off + 2 * o);
        k_->unscramble_pairs(front.data() + out_off, back.data() + out_off, o,
                             pairs_out.data() + in_off);
        ASSERT_EQ(bytes(pairs_out.begin() + static_cast<std::ptrdiff_t>(in_off), pairs_out.end()),
                  bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(2 * o)));
    }
    const kiv::codec::Kernels* k_ = nullptr;
};

TEST_P(CodecPath, EveryShortLengthAndAlignment) {
    std::mt19937 rng(1);
    for (std::size_t n = 0; n <= 300; ++n) {
        const bytes plain = random_bytes(n, rng);
        for (std::size_t in_off = 0; in_off < 4; ++in_off)
            for (std::size_t out_off = 0; out_off < 4; ++out_off) {
                SCOPED_TRACE(testing::Message()
                             << "n=" << n << " in_off=" << in_off << " out_off=" << out_off);
                check(plain, in_off, out_off);
            }
    }
}

// Past 256 bytes the vector kernels realign one output stream after the first
// block; every start offset within a 32-byte line takes a different route.
TEST_P(CodecPath, EveryAlignmentPastRealignment) {
    std::mt19937 rng(5);
    for (std::size_t n : {255u, 256u, 257u, 511u, 1000u, 4099u}) {
        const bytes plain = random_bytes(n, rng);
        for (std::size_t in_off = 0; in_off <= 32; in_off += 3)
            for (std::size_t out_off = 0; out_off <= 32; ++out_off) {
                SCOPED_TRACE(testing::Message()
                             << "n=" << n << " in_off=" << in_off << " out_off=" << out_off);
                check(plain, in_off, out_off);
            }
    }
}

TEST_P(CodecPath, LargeLengths) {
    std::mt19937 rng(2);
    for (std::size_t n : {1023u, 4096u, 65537u, 1048576u, 1048583u}) {
        SCOPED_TRACE(n);
        check(random_bytes(n, rng), n % 5, n % 3);
    }
}

// Every byte value at both parities, so wrap-around is checked in the vector
// lanes and not only in the tails.
TEST_P(CodecPath, AllByteValuesInVectorBlocks) {
    bytes plain(512);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<unsigned char>(i % 2 == 0 ? i / 2 : 255 - i / 2);
    check(plain, 0, 0);
}

TEST_P(CodecPath, InPlaceRoundTrip) {
    std::mt19937 rng(3);
    for (std::size_t n : {0u, 1u, 100u, 4097u, 12289u, 300001u}) {
        SCOPED_TRACE(n);
        const bytes plain = random_bytes(n, rng);
        bytes buf = plain;
        kiv::codec::scramble_in_place(buf.data(), n, *k_);
        ASSERT_EQ(buf, kiv::test::model_scramble(plain));
        kiv::codec::unscramble_in_place(buf.data(), n, *k_);
        ASSERT_EQ(buf, plain);
    }
}

INSTANTIATE_TEST_SUITE_P(AllPaths, CodecPath,
                         testing::ValuesIn(kiv::test::runnable(kiv::codec::kPaths,
                                                               kiv::codec::path_supported)),
                         testing::PrintToStringParamName());

TEST(CodecRoundTrip, RandomThroughPublicApi) {
    std::mt19937 rng(4);
    for (int iter = 0; iter < 200; ++iter) {
        const std::size_t n = rng() % 3000;
        const bytes plain = random_bytes(n, rng);
        bytes s(n), back(n);
        kiv::codec::scramble(plain.data(), n, s.data());
        ASSERT_EQ(s, kiv::test::model_scramble(plain));
        kiv::codec::unscramble(s.data(), n, back.data());
        ASSERT_EQ(back, plain);
        // Streaming form: pairs from the two halves, the odd last byte by hand.
        bytes pairs(n);
        kiv::codec::unscramble_pairs(s.data(), s.data() + (n + 1) / 2, n / 2, pairs.data());
        ASSERT_TRUE(std::equal(
            pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(n / 2 * 2), plain.begin()));
    }
}

}  // namespace
