# Checks the Android archive as an app's build will read it: exactly the expected entries; each
# library stripped, of its folder's machine and carrying its folder's API level; classes.jar of
# Java 8 class files; proguard.txt the shipped rules; the manifest, R.txt and the prefab metadata;
# the Maven repository: exactly the .aar's copy, its .pom and maven-metadata.xml, each with its four
# checksum files; native-debug-symbols.zip with the same libraries unstripped.
#
#   cmake -DAAR=... -DMAVEN=<repository root> -DSYMBOLS=... -DVERSION=... -DABIS=abi:api|... \
#         -DMACHINES=abi=machine|... -DREADELF=... -DRULES=... -DHEADER=... -DWORK=... -P check-aar.cmake
string(REPLACE "|" ";" ABIS "${ABIS}")
string(REPLACE "|" ";" MACHINES "${MACHINES}")
set(errors "")
# expect("<if() condition>" "<message when false>")
function(expect _cond _msg)
  cmake_language(EVAL CODE "if(${_cond})\n set(_ok 1)\nelse()\n set(_ok 0)\nendif()")
  if(NOT _ok)
    set(errors "${errors}\n  ${_msg}" PARENT_SCOPE)
  endif()
endfunction()

function(entries archive out)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${archive}"
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot list ${archive}")
  endif()
  string(REGEX MATCHALL "[^\n]+" listing "${listing}")
  set(${out} "${listing}" PARENT_SCOPE)
endfunction()

function(json_get out file)
  file(READ "${file}" text)
  string(JSON value ERROR_VARIABLE err GET "${text}" ${ARGN})
  if(err)
    set(value "<${err}>")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(module prefab/modules/kiv-native-lib)
set(expected AndroidManifest.xml R.txt classes.jar proguard.txt prefab/prefab.json
  ${module}/module.json ${module}/include/kiv/codec.h)
set(expected_symbols "")
foreach(entry IN LISTS ABIS)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 abi)
  list(APPEND expected jni/${abi}/libkiv-native-lib.so
    ${module}/libs/android.${abi}/abi.json ${module}/libs/android.${abi}/libkiv-native-lib.so)
  list(APPEND expected_symbols ${abi}/libkiv-native-lib.so)
endforeach()
list(SORT expected)
list(SORT expected_symbols)

# Entries: exactly these, in this order (sorted, as the archive is written), no folders.
entries("${AAR}" found)
expect("found STREQUAL expected" "entries of ${AAR}:\n    ${found}\n  expected:\n    ${expected}")
entries("${SYMBOLS}" found)
expect("found STREQUAL expected_symbols" "entries of ${SYMBOLS}: ${found}")

file(REMOVE_RECURSE "${WORK}")
file(ARCHIVE_EXTRACT INPUT "${AAR}" DESTINATION "${WORK}/aar")
file(ARCHIVE_EXTRACT INPUT "${SYMBOLS}" DESTINATION "${WORK}/symbols")
set(aar "${WORK}/aar")

file(READ "${aar}/AndroidManifest.xml" manifest)
expect("manifest MATCHES \"package=\\\"com.zelk.kiv\\\"\"" "manifest package is not com.zelk.kiv")
expect("manifest MATCHES \"android:minSdkVersion=\\\"21\\\"\"" "manifest minSdkVersion is not 21")
file(SIZE "${aar}/R.txt" size)
expect("size EQUAL 0" "R.txt is not empty")
file(READ "${aar}/proguard.txt" proguard)
file(READ "${RULES}" rules)
expect("proguard STREQUAL rules" "proguard.txt differs from ${RULES}")
file(READ "${aar}/${module}/include/kiv/codec.h" header)
file(READ "${HEADER}" shipped_header)
expect("header STREQUAL shipped_header" "the prefab header differs from ${HEADER}")

# classes.jar: NativeLoader and JniModel, class file major version 52 (bytes 6 and 7).
entries("${aar}/classes.jar" classes)
expect("classes STREQUAL \"com/zelk/kiv/jni/JniModel.class;com/zelk/kiv/jni/NativeLoader.class\""
  "classes.jar holds ${classes}")
file(ARCHIVE_EXTRACT INPUT "${aar}/classes.jar" DESTINATION "${WORK}/classes")
foreach(class IN LISTS classes)
  file(READ "${WORK}/classes/${class}" magic LIMIT 8 HEX)
  expect("magic STREQUAL \"cafebabe00000034\"" "${class}: header ${magic}, not a Java 8 class file")
endforeach()

json_get(schema "${aar}/prefab/prefab.json" schema_version)
json_get(name "${aar}/prefab/prefab.json" name)
json_get(version "${aar}/prefab/prefab.json" version)
json_get(deps "${aar}/prefab/prefab.json" dependencies)
expect("schema EQUAL 2 AND name STREQUAL \"kiv-native-lib\" AND version STREQUAL VERSION AND deps STREQUAL \"[]\""
  "prefab.json: schema_version ${schema}, name ${name}, version ${version}, dependencies ${deps}")
json_get(library "${aar}/${module}/module.json" library_name)
json_get(exported "${aar}/${module}/module.json" export_libraries)
expect("library STREQUAL \"libkiv-native-lib\" AND exported STREQUAL \"[]\""
  "module.json: library_name ${library}, export_libraries ${exported}")

foreach(entry IN LISTS ABIS)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 abi)
  list(GET entry 1 api)
  set(machine "${MACHINES}")
  list(FILTER machine INCLUDE REGEX "^${abi}=")
  string(REGEX REPLACE "^[^=]*=" "" machine "${machine}")

  set(lib "${aar}/jni/${abi}/libkiv-native-lib.so")
  set(prefab_dir "${aar}/${module}/libs/android.${abi}")
  execute_process(COMMAND "${READELF}" -hSn "${lib}" OUTPUT_VARIABLE elf)
  string(REGEX MATCH "Machine: +([^\n]+)" _ "${elf}")
  expect("CMAKE_MATCH_1 STREQUAL machine" "jni/${abi}: machine ${CMAKE_MATCH_1}, expected ${machine}")
  expect("NOT elf MATCHES \"\\\\.symtab|\\\\.debug_\"" "jni/${abi}: not stripped")
  # The Android ident note holds the API level the library was built for, a little-endian 32-bit
  # number (every Android ABI is little-endian).
  set(note_api 0)
  set(x "[0-9a-f][0-9a-f]")
  if(elf MATCHES "Android +0x00000004[^\n]*\n +description data: (${x}) (${x}) (${x}) (${x})")
    math(EXPR note_api "0x${CMAKE_MATCH_4}${CMAKE_MATCH_3}${CMAKE_MATCH_2}${CMAKE_MATCH_1}")
  endif()
  expect("note_api EQUAL api" "jni/${abi}: built for API ${note_api}, expected ${api}")

  file(SHA256 "${lib}" shipped)
  file(SHA256 "${prefab_dir}/libkiv-native-lib.so" prefab_lib)
  expect("shipped STREQUAL prefab_lib" "prefab's ${abi} library differs from jni/${abi}'s")
  set(abi_json "${prefab_dir}/abi.json")
  json_get(j_abi "${abi_json}" abi)
  json_get(j_api "${abi_json}" api)
  json_get(j_ndk "${abi_json}" ndk)
  json_get(j_stl "${abi_json}" stl)
  json_get(j_static "${abi_json}" static)
  expect("j_abi STREQUAL abi AND j_api EQUAL api AND j_ndk GREATER_EQUAL 21 AND j_stl STREQUAL \"none\" AND j_static STREQUAL \"OFF\""
    "${abi_json}: abi ${j_abi}, api ${j_api}, ndk ${j_ndk}, stl ${j_stl}, static ${j_static}")

  # The unstripped library: the same build (same build ID), with its symbols and debug info.
  set(debug "${WORK}/symbols/${abi}/libkiv-native-lib.so")
  execute_process(COMMAND "${READELF}" -Sn "${debug}" OUTPUT_VARIABLE debug_elf)
  expect("debug_elf MATCHES \"\\\\.symtab\" AND debug_elf MATCHES \"\\\\.debug_info\""
    "native-debug-symbols.zip: ${abi} has no symbol table or debug info")
  string(REGEX MATCH "Build ID: ([0-9a-f]+)" _ "${elf}")
  set(id "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Build ID: ([0-9a-f]+)" _ "${debug_elf}")
  expect("NOT id STREQUAL \"\" AND id STREQUAL CMAKE_MATCH_1"
    "native-debug-symbols.zip: ${abi} build ID ${CMAKE_MATCH_1}, shipped ${id}")
endforeach()

# The Maven repository: these files and no others; the .pom and the metadata name this artifact
# and version; every checksum file holds its file's digest, lower-case hex and nothing else.
set(artifact com/zelk/kiv/kiv-native-lib)
set(published ${artifact}/maven-metadata.xml ${artifact}/${VERSION}/kiv-native-lib-${VERSION}.aar
  ${artifact}/${VERSION}/kiv-native-lib-${VERSION}.pom)
set(expected_maven "")
foreach(f IN LISTS published)
  list(APPEND expected_maven ${f} ${f}.md5 ${f}.sha1 ${f}.sha256 ${f}.sha512)
endforeach()
list(SORT expected_maven)
file(GLOB_RECURSE found RELATIVE "${MAVEN}" "${MAVEN}/*")
list(SORT found)
expect("found STREQUAL expected_maven" "files of ${MAVEN}:\n    ${found}\n  expected:\n    ${expected_maven}")

set(pom "${MAVEN}/${artifact}/${VERSION}/kiv-native-lib-${VERSION}.pom")
file(READ "${pom}" pom_text)
expect("pom_text MATCHES \"<groupId>com.zelk.kiv</groupId>\" AND pom_text MATCHES \"<artifactId>kiv-native-lib</artifactId>\" AND pom_text MATCHES \"<version>${VERSION}</version>\" AND pom_text MATCHES \"<packaging>aar</packaging>\""
  "${pom}: not com.zelk.kiv:kiv-native-lib:${VERSION} of packaging aar")
set(metadata "${MAVEN}/${artifact}/maven-metadata.xml")
file(READ "${metadata}" metadata_text)
string(REGEX REPLACE "[ \n]+" " " metadata_text "${metadata_text}")
expect("metadata_text MATCHES \"<metadata> <groupId>com.zelk.kiv</groupId> <artifactId>kiv-native-lib</artifactId> <versioning> <latest>${VERSION}</latest> <release>${VERSION}</release> <versions> <version>${VERSION}</version> </versions> <lastUpdated>19800201000000</lastUpdated> </versioning> </metadata>\""
  "${metadata}: not com.zelk.kiv:kiv-native-lib with ${VERSION} alone, updated at the archives' fixed time")
file(SHA256 "${AAR}" aar_sum)
file(SHA256 "${MAVEN}/${artifact}/${VERSION}/kiv-native-lib-${VERSION}.aar" maven_sum)
expect("aar_sum STREQUAL maven_sum" "the Maven repository's .aar differs from ${AAR}")
foreach(f IN LISTS published)
  foreach(algorithm MD5 SHA1 SHA256 SHA512)
    string(TOLOWER "${algorithm}" extension)
    file(${algorithm} "${MAVEN}/${f}" digest)
    file(READ "${MAVEN}/${f}.${extension}" written)
    expect("written STREQUAL digest"
      "${f}.${extension} holds '${written}', not the ${algorithm} digest ${digest}")
  endforeach()
endforeach()

if(errors)
  message(FATAL_ERROR "the Android archive is not as expected:${errors}")
endif()
list(LENGTH expected count)
list(LENGTH expected_maven maven_count)
message(STATUS "${AAR}: the ${count} expected entries, as expected; ${MAVEN}: the ${maven_count} expected files")
