# Build for 32-bit x86 (i686) with Debian's cross compilers (crossbuild-essential-i386), at the
# instruction-set level Android's x86 ABI guarantees: SSSE3 and nothing newer (SSE2 is then
# baseline, AVX2 is never built). long and off_t are 32 bits wide here.
#
# The tests run with the 32-bit loader and C and C++ libraries of libc6-i386 and lib32stdc++6:
# natively where the machine's kernel runs 32-bit programs, and under qemu-i386 where it does not
# (a kernel without IA32 emulation: "Exec format error"). Which one is found out at configure
# time by running a try program (debian-cross.cmake, KIV_CROSS_RUNS_NATIVELY). Not with the
# libraries of /usr/i686-linux-gnu under qemu-i386, as the other cross builds: with Debian 12's
# (libc6-i386-cross 2.36-8cross1, qemu-user 7.2) a forked child spins forever in the C library.
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KIV_CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-march=i686 -mssse3 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-march=i686 -mssse3 -mfpmath=sse")
set(KIV_CROSS_QEMU qemu-i386)
set(KIV_CROSS_QEMU_MACHINE_LIBS ON)
set(KIV_CROSS_TRY_NATIVE ON)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
