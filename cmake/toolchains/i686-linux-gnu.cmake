# Build for 32-bit x86 (i686) with Debian's cross compilers (crossbuild-essential-i386), at the
# instruction-set level Android's x86 ABI guarantees: SSSE3 and nothing newer (SSE2 is then
# baseline, AVX2 is never built). The tests run natively on an x86-64 machine, with the 32-bit
# loader and C and C++ libraries of libc6-i386 and lib32stdc++6; no emulator. long and off_t are
# 32 bits wide here.
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KIV_CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-march=i686 -mssse3 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-march=i686 -mssse3 -mfpmath=sse")

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
