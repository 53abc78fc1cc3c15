# What every cross toolchain file here shares, included at its end: Debian's cross compilers for
# KIV_CROSS_TRIPLE, the target's libraries and headers from /usr/<triple>, and, where the file
# sets KIV_CROSS_QEMU, tests run under that qemu-user emulator with the same libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KIV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KIV_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KIV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(KIV_CROSS_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KIV_CROSS_QEMU};-L;/usr/${KIV_CROSS_TRIPLE})
endif()
