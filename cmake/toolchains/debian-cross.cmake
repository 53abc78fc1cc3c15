# What every cross toolchain file here shares, included at its end: Debian's cross compilers for
# KIV_CROSS_TRIPLE, the target's libraries and headers from /usr/<triple>, and, where the file
# sets KIV_CROSS_QEMU, tests run under that qemu-user emulator with the same libraries (or, where
# it sets KIV_CROSS_QEMU_MACHINE_LIBS, with the target's libraries the machine itself has
# installed at their usual places, as for 32-bit x86).
#
# Where the file also sets KIV_CROSS_TRY_NATIVE (32-bit x86: an x86-64 kernel may or may not run
# 32-bit programs), whether the machine runs the target's programs itself is found out by trying:
# a small C++ program is built for the target, dynamically linked as the tests are, and run once;
# it forks, as the tests that start child programs do. If it runs, the tests run natively (no
# emulator); if it does not (a kernel without 32-bit support refuses it with "Exec format
# error", and execvp then hands it to /bin/sh, which fails on it), they run under
# KIV_CROSS_QEMU, which is tried the same way. The answer is kept in the cache as
# KIV_CROSS_RUNS_NATIVELY; defining it beforehand (-DKIV_CROSS_RUNS_NATIVELY=OFF) skips the native
# try and runs the tests under the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KIV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KIV_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KIV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The emulator's command line.
function(_kiv_cross_emulator out)
  if(KIV_CROSS_QEMU_MACHINE_LIBS)
    set(${out} ${KIV_CROSS_QEMU} PARENT_SCOPE)
  else()
    set(${out} ${KIV_CROSS_QEMU} -L /usr/${KIV_CROSS_TRIPLE} PARENT_SCOPE)
  endif()
endfunction()

# Runs the try program (natively, or under the emulator given after it); sets ${ok} to whether
# it ran and printed what it should, ${why} to what happened otherwise.
function(_kiv_cross_run_try ok why)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 60)
  if(rc STREQUAL "0" AND out STREQUAL "kiv try ran\n")
    set(${ok} ON PARENT_SCOPE)
  else()
    string(STRIP "${rc}: ${err}${out}" text)
    set(${ok} OFF PARENT_SCOPE)
    set(${why} "${text}" PARENT_SCOPE)
  endif()
endfunction()

# Sets CMAKE_CROSSCOMPILING_EMULATOR in the caller as the try says (or leaves it unset).
function(_kiv_cross_choose_runner)
  # This file is read more than once per configure: the answer of the first reading is kept.
  get_property(chosen GLOBAL PROPERTY _KIV_CROSS_EMULATOR SET)
  if(chosen)
    get_property(emulator GLOBAL PROPERTY _KIV_CROSS_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator} PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL PROPERTY _KIV_CROSS_EMULATOR "")
  if(DEFINED KIV_CROSS_RUNS_NATIVELY AND KIV_CROSS_RUNS_NATIVELY)
    return()
  endif()

  set(dir ${CMAKE_BINARY_DIR}/CMakeFiles/kiv-cross-try)
  set(try ${dir}/try)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/try.cpp [[
#include <sys/wait.h>
#include <unistd.h>
#include <iostream>
#include <string>
int main() {
    pid_t pid = fork();
    if (pid == 0) _exit(7);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 7)
        return 1;
    std::string s = "kiv try";
    std::cout << s << " ran" << std::endl;
}
]])
  separate_arguments(flags UNIX_COMMAND "${CMAKE_CXX_FLAGS_INIT}")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${flags} -o ${try} ${dir}/try.cpp
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} could not build a program for ${KIV_CROSS_TRIPLE} "
                        "(${rc}):\n${out}")
  endif()

  if(DEFINED KIV_CROSS_RUNS_NATIVELY)
    message(STATUS "tests run under ${KIV_CROSS_QEMU} (KIV_CROSS_RUNS_NATIVELY is OFF)")
  else()
    _kiv_cross_run_try(native native_why ${try})
    set(KIV_CROSS_RUNS_NATIVELY ${native} CACHE BOOL
        "Whether this machine runs ${KIV_CROSS_TRIPLE} programs itself (found by trying one)")
    if(native)
      message(STATUS "${KIV_CROSS_TRIPLE} programs run natively here (a try program ran): "
                     "tests run natively")
      return()
    endif()
    message(STATUS "${KIV_CROSS_TRIPLE} programs do not run natively here (a try program "
                   "failed: ${native_why}): tests run under ${KIV_CROSS_QEMU}")
  endif()

  _kiv_cross_emulator(emulator)
  _kiv_cross_run_try(emulated emulated_why ${emulator} ${try})
  if(NOT emulated)
    message(FATAL_ERROR "${KIV_CROSS_TRIPLE} programs run neither natively nor under "
                        "${KIV_CROSS_QEMU} (${emulated_why}); qemu-user installed?")
  endif()
  set_property(GLOBAL PROPERTY _KIV_CROSS_EMULATOR ${emulator})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator} PARENT_SCOPE)
endfunction()

get_property(_kiv_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(KIV_CROSS_TRY_NATIVE AND NOT _kiv_in_try_compile)
  # CMake's own compiler checks (try_compile projects) run nothing, so they are not asked.
  _kiv_cross_choose_runner()
elseif(KIV_CROSS_QEMU AND NOT KIV_CROSS_TRY_NATIVE)
  _kiv_cross_emulator(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
