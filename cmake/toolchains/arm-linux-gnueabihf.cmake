# Cross build for 32-bit ARM Linux (armv7-a, hard-float, NEON) with Debian's cross compilers
# (crossbuild-essential-armhf). Tests run under qemu-user, with the target's C and C++ libraries
# from /usr/arm-linux-gnueabihf. long and off_t are 32 bits wide here.
set(CMAKE_SYSTEM_PROCESSOR armv7-a)

set(KIV_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(KIV_CROSS_QEMU qemu-arm)

include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
