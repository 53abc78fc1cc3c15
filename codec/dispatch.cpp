// The scramble's kernels built for this target (KIV_KERNEL_<SET>, from cmake/Kernels.cmake), best
// first, each with what it needs of the CPU; cpu/cpu.h picks among them.
#include "codec/kernels.h"
#include "cpu/cpu.h"

namespace kiv::codec {
namespace {

constexpr cpu::Option<Kernels> kTable[] = {
#if defined(KIV_KERNEL_AVX2)
    {cpu::avx2, {Path::avx2, &detail::scramble_avx2, &detail::unscramble_pairs_avx2}},
#endif
    {0, {Path::scalar, &detail::scramble_scalar, &detail::unscramble_pairs_scalar}},
};

}  // namespace

bool path_supported(Path path) noexcept { return cpu::find(kTable, path) != nullptr; }
bool path_built(Path path) noexcept { return cpu::listed(kTable, path); }
const Kernels* kernels_for(Path path) noexcept { return cpu::find(kTable, path); }
const Kernels& best_kernels() noexcept { return *cpu::best(kTable); }

}  // namespace kiv::codec
