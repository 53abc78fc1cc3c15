# Cross build for 64-bit RISC-V Linux (rv64gc) with Debian's cross compiler
# (g++-riscv64-linux-gnu). Tests run under qemu-user, with the target's C and C++ libraries from
# /usr/riscv64-linux-gnu. The codec has no RISC-V vector kernel: the scalar one runs here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)

set(KIV_CROSS_TRIPLE riscv64-linux-gnu)
set(CMAKE_C_COMPILER ${KIV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KIV_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KIV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-riscv64;-L;/usr/${KIV_CROSS_TRIPLE})
