// Checks every kernel path this CPU runs, the in-place forms and the exported
// encode/decode against a plain model, on arbitrary bytes.
//   kiv_codec_fuzz -max_len=20000 -max_total_time=60 fuzz/codec/corpus
// (max_len above 4096 reaches the recursive in-place code.)
#include <kiv/codec.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "codec/codec.h"
#include "codec/kernels.h"
#include "tests/support/model.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes model_scramble(const unsigned char* p, std::size_t n) {
    return kiv::test::model_scramble(bytes(p, p + n));
}

bytes model_unscramble(const unsigned char* s, std::size_t n) {
    return kiv::test::model_unscramble(bytes(s, s + n));
}

void require(bool ok) {
    if (!ok) std::abort();
}

bool same(const char* p, const bytes& b) {
    return std::equal(b.begin(), b.end(), reinterpret_cast<const unsigned char*>(p));
}

void check_path(const kiv::codec::Kernels& k, const unsigned char* data, std::size_t n,
                const bytes& want) {
    const std::size_t e = (n + 1) / 2, o = n / 2;
    // Exact-size heap buffers so the sanitizer sees any overrun.
    bytes in(data, data + n), front(e), back(o), out(2 * o);
    k.scramble(in.data(), n, front.data(), back.data());
    require(std::equal(front.begin(), front.end(), want.begin()));
    require(std::equal(back.begin(), back.end(), want.begin() + static_cast<std::ptrdiff_t>(e)));
    k.unscramble_pairs(front.data(), back.data(), o, out.data());
    require(std::equal(out.begin(), out.end(), data));

    bytes buf(data, data + n);
    kiv::codec::scramble_in_place(buf.data(), n, k);
    require(buf == want);
    kiv::codec::unscramble_in_place(buf.data(), n, k);
    require(std::equal(buf.begin(), buf.end(), data));
}

// encode/decode see the bytes up to the first zero; the first byte also picks
// a shift of the output against the input (0 = in place).
void check_exported(const unsigned char* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const std::size_t n = strnlen(text, size);
    const bytes enc = model_scramble(data, n);
    const bytes dec = model_unscramble(data, n);

    std::vector<char> in(text, text + n);
    in.push_back('\0');
    std::vector<char> out(n + 1);
    encode(in.data(), out.data());
    require(same(out.data(), enc) && out[n] == '\0');
    decode(in.data(), out.data());
    require(same(out.data(), dec) && out[n] == '\0');

    const std::ptrdiff_t shift = n == 0 ? 0 : static_cast<std::ptrdiff_t>(data[0] % 17) - 8;
    const std::size_t margin = 8;
    for (int op = 0; op < 2; ++op) {
        std::vector<char> buf(n + 1 + 2 * margin);
        char* src = buf.data() + margin;
        std::copy(text, text + n, src);
        src[n] = '\0';
        char* dst = src + shift;
        if (op == 0) {
            encode(src, dst);
            require(same(dst, enc));
        } else {
            decode(src, dst);
            require(same(dst, dec));
        }
        require(dst[n] == '\0');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes want = model_scramble(data, size);
    for (auto path : kiv::codec::kPaths) {
        if (const kiv::codec::Kernels* k = kiv::codec::kernels_for(path))
            check_path(*k, data, size, want);
    }
    check_exported(data, size);
    return 0;
}
