// Runs one text conversion once over (the start of) a file, for counting its instructions under
// an emulator (bench/qemu_insns.sh), which logs only the conversion's own code: the file is read
// and its characters found here, outside it.
//
//   kiv_text_passes decode|encode|check best|scalar LIMIT FILE
//
// decode: the file's bytes to UTF-16 units; encode: the file's characters (any surrogate left
// out, as the encoder takes none) to modified UTF-8; check: both, from each of the first 16
// starts and with bytes damaged throughout, compared with the scalar kernels' results (for the
// vector kernels on the corpus under an emulator). LIMIT: at most that many bytes from the
// file's start, cut before a character (0: all). best: the kernels the running CPU gets; scalar:
// the portable ones. Prints the bytes converted.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/kernels.h"

namespace {

std::size_t sequence_length(unsigned char b) {
    return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

// The characters of valid UTF-8 below U+10000 (the others left out).
std::vector<char16_t> plain_units(const std::vector<unsigned char>& s) {
    std::vector<char16_t> u;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = sequence_length(s[i]);
        unsigned c = len == 1 ? s[i] : len == 2 ? s[i] & 0x1Fu : s[i] & 0x0Fu;
        for (std::size_t k = 1; k < len && len < 4; ++k) c = (c << 6) | (s[i + k] & 0x3Fu);
        if (len < 4) u.push_back(static_cast<char16_t>(c));
        i += len;
    }
    return u;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 ||
        (std::strcmp(argv[1], "decode") != 0 && std::strcmp(argv[1], "encode") != 0 &&
         std::strcmp(argv[1], "check") != 0) ||
        (std::strcmp(argv[2], "best") != 0 && std::strcmp(argv[2], "scalar") != 0)) {
        std::fprintf(stderr, "usage: kiv_text_passes decode|encode|check best|scalar LIMIT FILE\n");
        return 2;
    }
    const bool decode = argv[1][0] == 'd';
    const bool check = argv[1][0] == 'c';
    const kiv::text::Kernels& k = argv[2][0] == 'b'
                                      ? kiv::text::best_kernels()
                                      : *kiv::text::kernels_for(kiv::text::Path::scalar);
    const std::size_t limit = std::strtoul(argv[3], nullptr, 10);
    std::FILE* in = std::fopen(argv[4], "rb");
    if (in == nullptr) {
        std::perror(argv[4]);
        return 1;
    }
    std::vector<unsigned char> bytes;
    unsigned char buf[65536];
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, in)) > 0;) {
        bytes.insert(bytes.end(), buf, buf + got);
    }
    std::fclose(in);
    if (limit != 0 && bytes.size() > limit) {
        std::size_t end = limit;
        while (end > 0 && (bytes[end] & 0xC0) == 0x80) --end;
        bytes.resize(end);
    }
    if (check) {
        // Every start within the first 16 bytes, as it stands and with every 61st byte replaced
        // by a byte of a rotating set (stray continuation bytes, C0, E0, ED, F0, FF, zero, ...).
        static const unsigned char kOdd[] = {0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0,
                                             0xED, 0xEF, 0xF0, 0xF4, 0xFF, 0x00, 0x7F};
        const kiv::text::Kernels& scalar = *kiv::text::kernels_for(kiv::text::Path::scalar);
        std::vector<unsigned char> damaged = bytes;
        for (std::size_t j = 0, r = 0; j < damaged.size(); j += 61, ++r) {
            damaged[j] = kOdd[r % sizeof kOdd];
        }
        for (const std::vector<unsigned char>* b : {&bytes, &damaged}) {
            for (std::size_t start = 0; start < 16 && start < b->size(); ++start) {
                const std::size_t count = b->size() - start;
                std::vector<char16_t> x(count + 16), y(count + 16);
                x.resize(k.decode(b->data() + start, count, x.data()));
                y.resize(scalar.decode(b->data() + start, count, y.data()));
                if (x != y) {
                    std::printf("decode differs from start %zu%s\n", start,
                                b == &bytes ? "" : " (damaged)");
                    return 1;
                }
                std::vector<char16_t> plain;
                for (char16_t c : y) {
                    if (c < 0xD800 || c > 0xDFFF) plain.push_back(c);
                }
                std::vector<unsigned char> e(3 * plain.size() + 16), f(3 * plain.size() + 16);
                e.resize(k.encode(plain.data(), plain.size(), e.data()));
                f.resize(scalar.encode(plain.data(), plain.size(), f.data()));
                if (e != f) {
                    std::printf("encode differs from start %zu%s\n", start,
                                b == &bytes ? "" : " (damaged)");
                    return 1;
                }
            }
        }
        std::printf("%zu bytes: the same as the scalar kernels\n", bytes.size());
        return 0;
    }
    std::size_t made = 0;
    if (decode) {
        std::vector<char16_t> out(bytes.size() + 16);
        made = k.decode(bytes.data(), bytes.size(), out.data());
    } else {
        const std::vector<char16_t> units = plain_units(bytes);
        std::vector<unsigned char> out(3 * units.size() + 16);
        made = k.encode(units.data(), units.size(), out.data());
    }
    std::printf("%zu bytes, %zu made\n", bytes.size(), made);
    return 0;
}
