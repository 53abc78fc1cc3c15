# The vector kernels of codec/ and text/, chosen one way for both. Each of the two keeps:
#   kernels.h          its Path enum, its Kernels (one set of function pointers per path), and
#                      path_supported / kernels_for / best_kernels
#   kernel_scalar.cpp  the portable kernels, always built; the vector kernels' tails
#   kernel_<set>.cpp   one file per instruction set
#   dispatch.cpp       its table: the kernels built in (KIV_KERNEL_<SET>), best first, each with
#                      the instruction sets it needs; cpu/cpu.h, the one dispatcher below both,
#                      picks the first row the running CPU executes, asked anew on every call
# This file decides which instruction sets the target processor can have at all and the flag
# each kernel file is built with (none where the set is the processor's baseline); only that
# file gets the flag, so nothing else in the library can use an instruction the CPU may lack.
#
#   kiv_kernel_library(<name> SOURCES <file>... KERNELS <set>...)
# makes the object library <name> of <file>s, dispatch.cpp, kernel_scalar.cpp and the
# kernel_<set>.cpp of each <set> (ssse3, sse42, avx2, avx512, neon) the target can have, and, with
# KIV_FUZZ on clang, <name>_fuzzed: the same, instrumented for the libFuzzer targets.
include_guard(GLOBAL)
include(CheckCXXSourceCompiles)

set(KIV_KERNEL_SETS "")
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _kiv_cpu)
if(NOT CMAKE_CXX_BYTE_ORDER STREQUAL "LITTLE_ENDIAN")
  # The vector kernels are written for little-endian processors (as every Android ABI is).
elseif(_kiv_cpu MATCHES "^(x86_64|amd64|x64)$")
  set(KIV_KERNEL_SETS ssse3 sse42 avx2 avx512)
  set(KIV_KERNEL_FLAG_ssse3 -mssse3)
  set(KIV_KERNEL_FLAG_sse42 -msse4.2)
  set(KIV_KERNEL_FLAG_avx2 -mavx2 -mpopcnt)  # cpu/cpu.h asks for both
  set(KIV_KERNEL_FLAG_avx512 -mavx512f -mavx512bw -mavx512vl -mavx512vbmi -mavx512vbmi2 -mpopcnt)
elseif(_kiv_cpu MATCHES "^(i[3-6]86|x86)$")
  # No AVX2 on 32-bit x86: Android's x86 ABI guarantees SSSE3 and nothing newer (SSE4.2 is
  # asked at run time).
  set(KIV_KERNEL_SETS ssse3 sse42)
  set(KIV_KERNEL_FLAG_ssse3 -mssse3)
  set(KIV_KERNEL_FLAG_sse42 -msse4.2)
elseif(_kiv_cpu MATCHES "^(aarch64|arm64)")
  set(KIV_KERNEL_SETS neon)
elseif(_kiv_cpu MATCHES "^arm")
  # 32-bit ARM: NEON only if the compiler can build it with -mfpu=neon under the float ABI in
  # use (soft-float rejects the intrinsics); the dispatcher asks the kernel (HWCAP) at run time
  # unless NEON is the build's baseline.
  set(CMAKE_REQUIRED_FLAGS "-mfpu=neon")
  check_cxx_source_compiles([[
#include <arm_neon.h>
int main() {
  unsigned char b[32] = {0};
  uint8x16x2_t v = vld2q_u8(b);
  vst2q_u8(b, v);
  return b[0];
}
]] KIV_ARM_NEON_BUILDS)
  unset(CMAKE_REQUIRED_FLAGS)
  if(KIV_ARM_NEON_BUILDS)
    set(KIV_KERNEL_SETS neon)
    set(KIV_KERNEL_FLAG_neon -mfpu=neon)
  endif()
endif()

function(kiv_kernel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;KERNELS" ${ARGN})
  set(_sources ${ARG_SOURCES} dispatch.cpp kernel_scalar.cpp)
  set(_definitions "")
  set(_built scalar)
  foreach(_set IN LISTS ARG_KERNELS)
    if(NOT _set IN_LIST KIV_KERNEL_SETS)
      continue()
    endif()
    list(APPEND _sources kernel_${_set}.cpp)
    string(TOUPPER "${_set}" _upper)
    list(APPEND _definitions KIV_KERNEL_${_upper})
    list(APPEND _built ${_set})
    if(KIV_KERNEL_FLAG_${_set})
      # A source property: seen by the targets of the calling directory, both made below.
      set_source_files_properties(kernel_${_set}.cpp PROPERTIES
        COMPILE_OPTIONS "${KIV_KERNEL_FLAG_${_set}}")
    endif()
  endforeach()

  set(_targets ${name})
  if(KIV_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    list(APPEND _targets ${name}_fuzzed)
  endif()
  foreach(_target IN LISTS _targets)
    add_library(${_target} OBJECT ${_sources})
    set_target_properties(${_target} PROPERTIES
      POSITION_INDEPENDENT_CODE ON
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON)
    target_compile_definitions(${_target} PRIVATE ${_definitions})
    target_include_directories(${_target} PUBLIC
      ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  endforeach()
  # Like the rest of the library; the shipped one drops what it does not use (--gc-sections).
  target_compile_options(${name} PRIVATE
    -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
  if(TARGET ${name}_fuzzed)
    target_compile_options(${name}_fuzzed PRIVATE
      -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -g)
  endif()
  list(JOIN _built ", " _message)
  message(STATUS "${name} kernels for ${CMAKE_SYSTEM_PROCESSOR}: ${_message}")
endfunction()
