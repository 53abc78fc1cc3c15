# Cross build for 64-bit ARM Linux with Debian's cross compilers (crossbuild-essential-arm64).
# Tests run under qemu-user, with the target's C and C++ libraries from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(KIV_CROSS_TRIPLE aarch64-linux-gnu)
set(KIV_CROSS_QEMU qemu-aarch64)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
