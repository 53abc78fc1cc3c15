// The text conversions' kernels built for this target (KIV_KERNEL_<SET>, from
// cmake/Kernels.cmake), best first, each with what it needs of the CPU; cpu/cpu.h picks among
// them. A new kernel set is a row here, a value of Path and a file (text/kernels.h).
#include "cpu/cpu.h"
#include "text/kernels.h"

namespace kiv::text {
namespace {

constexpr cpu::Option<Kernels> kTable[] = {
#if defined(KIV_KERNEL_AVX512)
    // An encoder of its own; the decoder is the AVX2 one.
    {cpu::avx2 | cpu::avx512, {Path::avx512, &detail::decode_avx2, &detail::encode_avx512}},
#endif
#if defined(KIV_KERNEL_AVX2)
    {cpu::avx2, {Path::avx2, &detail::decode_avx2, &detail::encode_avx2}},
#endif
#if defined(KIV_KERNEL_SSSE3)
    {cpu::ssse3, {Path::ssse3, &detail::decode_ssse3, &detail::encode_ssse3}},
#endif
#if defined(KIV_KERNEL_NEON)
    {cpu::neon, {Path::neon, &detail::decode_neon, &detail::encode_neon}},
#endif
    {0, {Path::scalar, &detail::decode_scalar, &detail::encode_scalar}},
};

}  // namespace

bool path_supported(Path path) noexcept { return cpu::find(kTable, path) != nullptr; }
bool path_built(Path path) noexcept { return cpu::listed(kTable, path); }
const Kernels* kernels_for(Path path) noexcept { return cpu::find(kTable, path); }
const Kernels& best_kernels() noexcept { return *cpu::best(kTable); }

}  // namespace kiv::text
