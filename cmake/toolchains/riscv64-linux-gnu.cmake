# Cross build for 64-bit RISC-V Linux (rv64gc) with Debian's cross compiler
# (g++-riscv64-linux-gnu). Tests run under qemu-user, with the target's C and C++ libraries from
# /usr/riscv64-linux-gnu. The codec has no RISC-V vector kernel: the scalar one runs here.
set(CMAKE_SYSTEM_PROCESSOR riscv64)

set(KIV_CROSS_TRIPLE riscv64-linux-gnu)
set(KIV_CROSS_QEMU qemu-riscv64)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
