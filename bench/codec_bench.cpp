// Throughput of the codec against memcpy/strlen of the same buffer and against
// the straightforward implementation (kept here only as a baseline).
// Run bench/codec_ratios.py on --benchmark_format=json output for ratios.
#include <benchmark/benchmark.h>
#include <kiv/codec.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "codec/codec.h"
#include "codec/kernels.h"

namespace {

// n text bytes whose scrambled form has no zero either, plus a terminator.
std::vector<char> make_text(std::size_t n) {
    std::mt19937 rng(12345);
    std::vector<char> s(n + 1);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(' ' + rng() % 95);
    s[n] = '\0';
    return s;
}

void set_bytes(benchmark::State& state, std::size_t n) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_memcpy(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<char> in = make_text(n);
    std::vector<char> out(n + 1);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), n);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_bytes(state, n);
}

void BM_strlen(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<char> in = make_text(n);
    for (auto _ : state) {
        const char* p = in.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(std::strlen(p));
    }
    set_bytes(state, n);
}

// The straightforward way: build the two halves byte by byte in heap scratch
// strings, then strcpy + strcat them into the output.
void naive_encode(const char* input, char* output) {
    const std::size_t n = std::strlen(input);
    char* even = static_cast<char*>(std::malloc(n / 2 + 2));
    char* odd = static_cast<char*>(std::malloc(n / 2 + 2));
    std::size_t e = 0, o = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 2 == 0)
            even[e++] = static_cast<char>(input[i] + 1);
        else
            odd[o++] = static_cast<char>(input[i] - 1);
    }
    even[e] = '\0';
    odd[o] = '\0';
    std::strcpy(output, even);
    std::strcat(output, odd);
    std::free(even);
    std::free(odd);
}

void naive_decode(const char* input, char* output) {
    const std::size_t n = std::strlen(input);
    const std::size_t e = (n + 1) / 2;
    char* plain = static_cast<char*>(std::malloc(n + 1));
    for (std::size_t i = 0; i < n; ++i)
        plain[i] = static_cast<char>(i % 2 == 0 ? input[i / 2] - 1 : input[e + i / 2] + 1);
    plain[n] = '\0';
    std::strcpy(output, plain);
    std::free(plain);
}

template <void (*Fn)(const char*, char*)>
void run_text_fn(benchmark::State& state, bool scrambled_input) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<char> in = make_text(n);
    std::vector<char> out(n + 1);
    if (scrambled_input) {
        encode(in.data(), out.data());
        in.swap(out);
    }
    for (auto _ : state) {
        Fn(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_bytes(state, n);
}

void BM_naive_encode(benchmark::State& state) { run_text_fn<naive_encode>(state, false); }
void BM_naive_decode(benchmark::State& state) { run_text_fn<naive_decode>(state, true); }
void BM_encode(benchmark::State& state) { run_text_fn<encode>(state, false); }
void BM_decode(benchmark::State& state) { run_text_fn<decode>(state, true); }

void BM_scramble(benchmark::State& state, kiv::codec::Path path) {
    const kiv::codec::Kernels* k = kiv::codec::kernels_for(path);
    if (k == nullptr) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<char> text = make_text(n);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<unsigned char> out(n);
    for (auto _ : state) {
        k->scramble(in, n, out.data(), out.data() + (n + 1) / 2);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_bytes(state, n);
}

void BM_unscramble(benchmark::State& state, kiv::codec::Path path) {
    const kiv::codec::Kernels* k = kiv::codec::kernels_for(path);
    if (k == nullptr) {
        state.SkipWithError("path not supported on this CPU");
        return;
    }
    const auto n = static_cast<std::size_t>(state.range(0));  // even sizes only
    const std::vector<char> text = make_text(n);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<unsigned char> out(n);
    for (auto _ : state) {
        k->unscramble_pairs(in, in + n / 2, n / 2, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_bytes(state, n);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (long n : {16L, 256L, 4L << 10, 64L << 10, 1L << 20, 16L << 20}) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK(BM_strlen)->Apply(sizes);
BENCHMARK(BM_naive_encode)->Apply(sizes);
BENCHMARK(BM_naive_decode)->Apply(sizes);
BENCHMARK(BM_encode)->Apply(sizes);
BENCHMARK(BM_decode)->Apply(sizes);
BENCHMARK_CAPTURE(BM_scramble, scalar, kiv::codec::Path::scalar)->Apply(sizes);
BENCHMARK_CAPTURE(BM_unscramble, scalar, kiv::codec::Path::scalar)->Apply(sizes);
#if defined(__x86_64__)
BENCHMARK_CAPTURE(BM_scramble, avx2, kiv::codec::Path::avx2)->Apply(sizes);
BENCHMARK_CAPTURE(BM_unscramble, avx2, kiv::codec::Path::avx2)->Apply(sizes);
#endif
