# Checks that the shipped library exports exactly its eight functions and that every LOAD
# segment is aligned to 16 KiB, as Android 15+ devices with 16 KiB pages require.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
set(expected
  Java_com_zelk_kiv_jni_NativeLoader_encodeKeyValue
  Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification
  Java_com_zelk_kiv_jni_NativeLoader_queryFile
  Java_com_zelk_kiv_jni_NativeLoader_readFile
  Java_com_zelk_kiv_jni_NativeLoader_test
  Java_com_zelk_kiv_jni_NativeLoader_writeFile
  decode
  encode)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${names}")
endif()

execute_process(COMMAND ${READELF} -lW ${LIBRARY} OUTPUT_VARIABLE segments RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "LOAD[^\n]+" loads "${segments}")
list(LENGTH loads count)
if(count EQUAL 0)
  message(FATAL_ERROR "no LOAD segments found")
endif()
foreach(load IN LISTS loads)
  string(REGEX MATCH "0x[0-9a-f]+$" align "${load}")
  math(EXPR rest "${align} % 16384")
  if(NOT rest EQUAL 0)
    message(FATAL_ERROR "LOAD segment not aligned to 16 KiB: ${load}")
  endif()
endforeach()
if(NOT segments MATCHES "GNU_RELRO")
  message(FATAL_ERROR "no RELRO segment")
endif()
execute_process(COMMAND ${READELF} -dW ${LIBRARY} OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "BIND_NOW" AND NOT dynamic MATCHES "FLAGS_1[^\n]*NOW")
  message(FATAL_ERROR "the library is not linked for immediate binding")
endif()
message(STATUS "exports and alignment as expected: ${names}")
