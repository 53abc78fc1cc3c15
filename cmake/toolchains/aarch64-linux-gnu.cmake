# Cross build for 64-bit ARM Linux with Debian's cross compilers (crossbuild-essential-arm64).
# Tests run under qemu-user, with the target's C and C++ libraries from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KIV_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KIV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KIV_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KIV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/${KIV_CROSS_TRIPLE})
