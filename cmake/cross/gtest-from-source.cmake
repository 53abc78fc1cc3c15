# GoogleTest built from Debian's sources (/usr/src/googletest, package googletest) for the target
# of a cross build: the installed libgtest is for the build machine only. Included through
# CMAKE_PROJECT_kiv_INCLUDE (see CMakePresets.json), so the targets GTest::gtest and
# GTest::gtest_main exist before tests/ is processed.
include_guard(GLOBAL)

if(NOT KIV_GTEST_SOURCE_DIR)
  set(KIV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
endif()
if(NOT EXISTS "${KIV_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${KIV_GTEST_SOURCE_DIR} "
                      "(apt-get install googletest, or set KIV_GTEST_SOURCE_DIR)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
# GoogleTest's sources are not held to this project's -Werror.
set(_kiv_saved_cxx_flags "${CMAKE_CXX_FLAGS}")
string(APPEND CMAKE_CXX_FLAGS " -Wno-error")
add_subdirectory("${KIV_GTEST_SOURCE_DIR}/googletest" "${CMAKE_BINARY_DIR}/_deps/googletest"
                 EXCLUDE_FROM_ALL SYSTEM)
set(CMAKE_CXX_FLAGS "${_kiv_saved_cxx_flags}")

if(NOT TARGET GTest::gtest_main)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# find_package(GTest) anywhere in the project now resolves to the targets above: CMake reads
# this directory before any Find module or installed package.
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake"
  "# GTest::gtest and GTest::gtest_main come from ${KIV_GTEST_SOURCE_DIR} (gtest-from-source.cmake)\n")
file(WRITE "${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config-version.cmake"
  "set(PACKAGE_VERSION 1.12)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
