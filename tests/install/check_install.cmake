# Installs a build into a scratch prefix and checks what landed: exactly the files EXPECTED (none
# for an Android build), each of SAME byte for byte the file it was installed from, and, with
# CONSUMER, that a project outside this tree finds the package there and builds and runs the C
# API test against the installed library.
#
#   cmake -DBUILD=<build dir> -DPREFIX=<scratch dir> "-DEXPECTED=<path|path|...>"
#         ["-DSAME=<installed path=source file|...>"]
#         [-DCONSUMER=<consumer project> -DCONSUMER_BUILD=<dir> "-DCONSUMER_ARGS=<-Dx=y|...>"]
#         -P check_install.cmake
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")
string(REPLACE "|" ";" SAME "${SAME}")
string(REPLACE "|" ";" CONSUMER_ARGS "${CONSUMER_ARGS}")

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD} --prefix ${PREFIX} failed")
endif()

set(errors "")
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT found)
list(SORT EXPECTED)
if(NOT found STREQUAL EXPECTED)
  string(APPEND errors "\n  installed:\n    ${found}\n  expected:\n    ${EXPECTED}")
endif()
foreach(pair IN LISTS SAME)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 installed)
  list(GET pair 1 source)
  if(EXISTS "${PREFIX}/${installed}")
    file(SHA256 "${PREFIX}/${installed}" installed_sum)
    file(SHA256 "${source}" source_sum)
    if(NOT installed_sum STREQUAL source_sum)
      string(APPEND errors "\n  ${installed} differs from ${source}")
    endif()
  endif()
endforeach()
if(errors)
  message(FATAL_ERROR "cmake --install is not as expected:${errors}")
endif()
list(LENGTH found count)
message(STATUS "${PREFIX}: the ${count} expected files")

if(NOT CONSUMER)
  return()
endif()
file(REMOVE_RECURSE "${CONSUMER_BUILD}")
foreach(step configure build run)
  if(step STREQUAL "configure")
    set(command "${CMAKE_COMMAND}" -S "${CONSUMER}" -B "${CONSUMER_BUILD}"
      "-DCMAKE_PREFIX_PATH=${PREFIX}" ${CONSUMER_ARGS})
  elseif(step STREQUAL "build")
    set(command "${CMAKE_COMMAND}" --build "${CONSUMER_BUILD}")
  else()
    set(command "${CONSUMER_BUILD}/kiv_installed_c_api_test")
  endif()
  execute_process(COMMAND ${command} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the installed package's user failed to ${step}:\n${out}")
  endif()
endforeach()
message(STATUS "a project outside the tree built and ran the C API test against ${PREFIX}")
