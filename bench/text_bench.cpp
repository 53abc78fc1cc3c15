// Throughput of the text kernels (text/kernels.h) on real text: each file of the corpus
// (KIV_TEXT_CORPUS, by default ../shared/corpus/wikipedia-mars beside the checkout) decoded from
// its UTF-8 and encoded back to modified UTF-8 by every kernel set this CPU runs, plus 1 MiB of
// pure ASCII and of pure CJK, and each file's lines shuffled to 2 MiB (<text>-shuffled). Bytes
// per second are those of the stored (UTF-8) form, both ways.
// Rows: decode/<path>/<text>, encode/<path>/<text>.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "text/kernels.h"

namespace {

struct Text {
    std::string name;
    std::string bytes;
    std::u16string units;
};

const char* path_name(kiv::text::Path path) {
    switch (path) {
        case kiv::text::Path::scalar: return "scalar";
        case kiv::text::Path::ssse3: return "ssse3";
        case kiv::text::Path::avx2: return "avx2";
        case kiv::text::Path::avx512: return "avx512";
        case kiv::text::Path::neon: return "neon";
    }
    return "?";
}

std::u16string units_of(const std::string& bytes) {
    std::u16string units(bytes.size(), u'\0');
    units.resize(kiv::text::detail::decode_scalar(
        reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), units.data()));
    return units;
}

std::string utf8_of(const std::u16string& units) {
    std::string bytes(3 * units.size(), '\0');
    bytes.resize(kiv::text::detail::encode_scalar(units.data(), units.size(),
                                                  reinterpret_cast<unsigned char*>(bytes.data())));
    return bytes;
}

// The lines of a text in random order, again and again, to 2 MiB: a text whose sequence of
// widths the branch predictor cannot learn over the benchmark's repetitions, as it cannot when a
// process converts a text once. A corpus file as it is (at most 600 KiB) is partly learned: its
// mixed-width rows run faster than a save of the same text meets them.
Text shuffled(const Text& t, std::mt19937& rng) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < t.bytes.size();) {
        const std::size_t end = std::min(t.bytes.find('\n', at), t.bytes.size() - 1) + 1;
        lines.push_back(t.bytes.substr(at, end - at));
        at = end;
    }
    std::string bytes;
    while (bytes.size() < (2u << 20)) {
        std::shuffle(lines.begin(), lines.end(), rng);
        for (const std::string& line : lines) bytes += line;
    }
    Text s{t.name + "-shuffled", std::move(bytes), {}};
    s.units = units_of(s.bytes);
    return s;
}

std::vector<Text> load_texts() {
    std::vector<Text> texts;
    const char* env = std::getenv("KIV_TEXT_CORPUS");
    const std::string dir = env != nullptr ? env : KIV_TEXT_CORPUS_DEFAULT;
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            const std::string suffix = ".utf8.txt";
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                names.push_back(name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Text t{name.substr(0, name.find('.')), std::move(bytes), {}};
        t.units = units_of(t.bytes);
        texts.push_back(std::move(t));
    }
    std::mt19937 rng(7);
    const std::size_t files = texts.size();
    for (std::size_t k = 0; k < files; ++k) texts.push_back(shuffled(texts[k], rng));
    std::u16string ascii(1 << 20, u' '), cjk((1 << 20) / 3, u' ');
    for (char16_t& u : ascii) u = static_cast<char16_t>(' ' + rng() % 95);
    for (char16_t& u : cjk) u = static_cast<char16_t>(0x4E00 + rng() % 0x5200);
    texts.push_back({"pure-ascii", utf8_of(ascii), ascii});
    texts.push_back({"pure-cjk", utf8_of(cjk), cjk});
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    static const std::vector<Text> texts = load_texts();
    for (kiv::text::Path path : kiv::text::kPaths) {
        const kiv::text::Kernels* k = kiv::text::kernels_for(path);
        if (k == nullptr) continue;
        for (const Text& t : texts) {
            benchmark::RegisterBenchmark(
                ("decode/" + std::string(path_name(path)) + "/" + t.name).c_str(),
                [k, &t](benchmark::State& state) {
                    std::vector<char16_t> out(t.bytes.size());
                    for (auto _ : state) {
                        benchmark::DoNotOptimize(
                            k->decode(reinterpret_cast<const unsigned char*>(t.bytes.data()),
                                      t.bytes.size(), out.data()));
                        benchmark::ClobberMemory();
                    }
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                                            static_cast<int64_t>(t.bytes.size()));
                });
            benchmark::RegisterBenchmark(
                ("encode/" + std::string(path_name(path)) + "/" + t.name).c_str(),
                [k, &t](benchmark::State& state) {
                    std::vector<unsigned char> out(3 * t.units.size());
                    const std::string expected = utf8_of(t.units);
                    for (auto _ : state) {
                        benchmark::DoNotOptimize(
                            k->encode(t.units.data(), t.units.size(), out.data()));
                        benchmark::ClobberMemory();
                    }
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                                            static_cast<int64_t>(expected.size()));
                });
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
