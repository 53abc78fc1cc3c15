# Checks the Android archive as an app's build will read it: exactly the expected entries; each
# library stripped, of its folder's machine and carrying its folder's API level, x86 below API 24
# realigning its stack wherever it makes aligned SSE accesses to it; classes.jar of Java 8 class
# files; proguard.txt the shipped rules; the licence, the manifest, R.txt and the prefab metadata;
# the Maven repository: exactly the .aar's copy, its .pom (with what Maven Central requires),
# -sources.jar, -javadoc.jar and maven-metadata.xml, each with its four checksum files, and with a
# signing key an .asc beside each of the first four; signing them once more with a throwaway key
# made here, each signature verified; the upload bundle, exactly that version's folder;
# native-debug-symbols.zip with the same libraries unstripped; and the version that README.md,
# docs/ANDROID.md and CHANGELOG.md name.
#
#   cmake -DAAR=... -DMAVEN=<repository root> -DSYMBOLS=... -DBUNDLE=... -DVERSION=... -DURL=...
#         -DABIS=abi:api|... -DMACHINES=abi=machine|... -DREADELF=... -DOBJDUMP=... -DRULES=...
#         -DHEADER=... -DLICENSE=... -DSOURCES=a.java|... -DSOURCE_DIR=... -DJAR=... -DGPG=...
#         [-DSIGNING_KEY=... -DSIGNING_GNUPGHOME=...] -DWORK=... -P check-aar.cmake
string(REPLACE "|" ";" ABIS "${ABIS}")
string(REPLACE "|" ";" MACHINES "${MACHINES}")
string(REPLACE "|" ";" SOURCES "${SOURCES}")
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
set(expected AndroidManifest.xml META-INF/LICENSE R.txt classes.jar proguard.txt prefab/prefab.json
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
file(READ "${LICENSE}" licence)
file(READ "${aar}/META-INF/LICENSE" aar_licence)
expect("aar_licence STREQUAL licence" "the archive's META-INF/LICENSE differs from ${LICENSE}")
file(READ "${aar}/${module}/include/kiv/codec.h" header)
file(READ "${HEADER}" shipped_header)
expect("header STREQUAL shipped_header" "the prefab header differs from ${HEADER}")

# classes.jar: NativeLoader and JniModel, class file major version 52 (bytes 6 and 7), and the
# licence.
entries("${aar}/classes.jar" classes)
expect("classes STREQUAL \"META-INF/LICENSE;com/zelk/kiv/jni/JniModel.class;com/zelk/kiv/jni/NativeLoader.class\""
  "classes.jar holds ${classes}")
file(ARCHIVE_EXTRACT INPUT "${aar}/classes.jar" DESTINATION "${WORK}/classes")
file(READ "${WORK}/classes/META-INF/LICENSE" jar_licence)
expect("jar_licence STREQUAL licence" "classes.jar's META-INF/LICENSE differs from ${LICENSE}")
list(FILTER classes INCLUDE REGEX "\\.class$")
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

  # x86 below API 24 enters native code with the stack aligned to 4 bytes only: every function
  # that makes an aligned SSE access (movaps, movdqa, movapd) to a stack slot must first realign
  # the stack to 16 bytes (andl $-0x10, %esp), as -mstackrealign makes it do. The same build as
  # the shipped library (same build ID), read with its symbols.
  if(abi STREQUAL "x86" AND api LESS 24)
    execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${debug}"
      OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
    expect("rc EQUAL 0" "${OBJDUMP} could not disassemble ${debug}")
    # One list element per line; brackets and semicolons would split or join elements.
    string(REGEX REPLACE "[][;]" "_" listing "${listing}")
    string(REPLACE "\n" ";" listing "${listing}")
    set(function "")
    set(unaligned "")
    set(functions 0)
    set(aligned_users 0)
    foreach(line IN LISTS listing ITEMS "<end>:")
      if(line MATCHES "^([0-9a-f]+ )?<(.+)>:$")
        if(function AND aligned AND NOT realigned)
          list(APPEND unaligned "${function}")
        endif()
        if(function AND aligned)
          math(EXPR aligned_users "${aligned_users} + 1")
        endif()
        set(function "${CMAKE_MATCH_2}")
        math(EXPR functions "${functions} + 1")
        set(aligned 0)
        set(realigned 0)
      elseif(line MATCHES "\t(movaps|movdqa|movapd)[ \t][^\t]*\\(%(esp|ebp)")
        set(aligned 1)
      elseif(line MATCHES "\tandl[ \t]+\\$-0x10, %esp")
        set(realigned 1)
      endif()
    endforeach()
    list(LENGTH unaligned count)
    string(REPLACE ";" "\n      " unaligned "${unaligned}")
    expect("functions GREATER 100 AND count EQUAL 0"
      "jni/${abi}: ${count} of the ${aligned_users} functions (of ${functions}) that make aligned SSE accesses to the stack do not realign it first (build x86 below API 24 with -mstackrealign):\n      ${unaligned}")
  endif()
endforeach()

# The Maven repository: these files and no others; the .pom and the metadata name this artifact
# and version; every checksum file holds its file's digest, lower-case hex and nothing else.
set(artifact com/zelk/kiv/kiv-native-lib)
set(version_dir ${artifact}/${VERSION})
set(name kiv-native-lib-${VERSION})
set(artifacts ${name}.aar ${name}.pom ${name}-sources.jar ${name}-javadoc.jar)
set(published ${artifact}/maven-metadata.xml)
set(expected_bundle "")
foreach(f IN LISTS artifacts)
  list(APPEND published ${version_dir}/${f})
  list(APPEND expected_bundle ${version_dir}/${f})
  if(SIGNING_KEY)
    list(APPEND expected_bundle ${version_dir}/${f}.asc)
  endif()
endforeach()
set(expected_maven "")
foreach(f IN LISTS published)
  list(APPEND expected_maven ${f} ${f}.md5 ${f}.sha1 ${f}.sha256 ${f}.sha512)
endforeach()
foreach(f IN LISTS artifacts)
  list(APPEND expected_bundle ${version_dir}/${f}.md5 ${version_dir}/${f}.sha1
    ${version_dir}/${f}.sha256 ${version_dir}/${f}.sha512)
  if(SIGNING_KEY)
    list(APPEND expected_maven ${version_dir}/${f}.asc)
  endif()
endforeach()
list(SORT expected_maven)
list(SORT expected_bundle)
file(GLOB_RECURSE found RELATIVE "${MAVEN}" "${MAVEN}/*")
list(SORT found)
expect("found STREQUAL expected_maven" "files of ${MAVEN}:\n    ${found}\n  expected:\n    ${expected_maven}")

# The POM: the coordinates, and what Maven Central requires of it: name, description, url,
# licenses, developers, scm.
set(pom "${MAVEN}/${version_dir}/${name}.pom")
file(READ "${pom}" pom_text)
expect("pom_text MATCHES \"<groupId>com.zelk.kiv</groupId>\" AND pom_text MATCHES \"<artifactId>kiv-native-lib</artifactId>\" AND pom_text MATCHES \"<version>${VERSION}</version>\" AND pom_text MATCHES \"<packaging>aar</packaging>\""
  "${pom}: not com.zelk.kiv:kiv-native-lib:${VERSION} of packaging aar")
string(REGEX REPLACE "[ \n]+" " " pom_flat "${pom_text}")
foreach(element
    "<name>[^<]+</name>" "<description>[^<]+</description>" "<url>${URL}</url>"
    "<licenses> <license> <name>Apache License, Version 2.0</name> <url>https://www.apache.org/licenses/LICENSE-2.0.txt</url>"
    "<developers> <developer> <id>[^<]+</id> <name>[^<]+</name>"
    "<scm> <connection>scm:git:[^<]+</connection> <developerConnection>scm:git:[^<]+</developerConnection> <url>${URL}</url> </scm>")
  expect("pom_flat MATCHES \"${element}\"" "${pom}: no ${element}")
endforeach()
expect("NOT URL STREQUAL \"\"" "the project has no HOMEPAGE_URL for the POM")

set(metadata "${MAVEN}/${artifact}/maven-metadata.xml")
file(READ "${metadata}" metadata_text)
string(REGEX REPLACE "[ \n]+" " " metadata_text "${metadata_text}")
expect("metadata_text MATCHES \"<metadata> <groupId>com.zelk.kiv</groupId> <artifactId>kiv-native-lib</artifactId> <versioning> <latest>${VERSION}</latest> <release>${VERSION}</release> <versions> <version>${VERSION}</version> </versions> <lastUpdated>19800201000000</lastUpdated> </versioning> </metadata>\""
  "${metadata}: not com.zelk.kiv:kiv-native-lib with ${VERSION} alone, updated at the archives' fixed time")
file(SHA256 "${AAR}" aar_sum)
file(SHA256 "${MAVEN}/${version_dir}/${name}.aar" maven_sum)
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

# -sources.jar: the Java sources at their package's path, as they are, and the licence.
set(java_entries META-INF/LICENSE)
foreach(src IN LISTS SOURCES)
  get_filename_component(base "${src}" NAME)
  list(APPEND java_entries com/zelk/kiv/jni/${base})
endforeach()
list(SORT java_entries)
entries("${MAVEN}/${version_dir}/${name}-sources.jar" found)
expect("found STREQUAL java_entries" "${name}-sources.jar holds ${found}, not ${java_entries}")
file(ARCHIVE_EXTRACT INPUT "${MAVEN}/${version_dir}/${name}-sources.jar" DESTINATION "${WORK}/sources")
foreach(src IN LISTS SOURCES)
  get_filename_component(base "${src}" NAME)
  file(SHA256 "${src}" want)
  set(got "")
  if(EXISTS "${WORK}/sources/com/zelk/kiv/jni/${base}")
    file(SHA256 "${WORK}/sources/com/zelk/kiv/jni/${base}" got)
  endif()
  expect("got STREQUAL want" "${name}-sources.jar: ${base} differs from ${src}")
endforeach()
# -javadoc.jar: javadoc's pages of both classes (not empty), without a timestamp, and the licence.
file(ARCHIVE_EXTRACT INPUT "${MAVEN}/${version_dir}/${name}-javadoc.jar" DESTINATION "${WORK}/javadoc")
foreach(page index.html com/zelk/kiv/jni/NativeLoader.html com/zelk/kiv/jni/JniModel.html)
  set(size 0)
  if(EXISTS "${WORK}/javadoc/${page}")
    file(SIZE "${WORK}/javadoc/${page}" size)
  endif()
  expect("size GREATER 500" "${name}-javadoc.jar: ${page} missing or nearly empty (${size} bytes)")
endforeach()
file(READ "${WORK}/javadoc/com/zelk/kiv/jni/NativeLoader.html" page)
foreach(method test encodeKeyValue getDeviceIdentification writeFile readFile queryFile)
  expect("page MATCHES \"id=\\\"${method}\\\\(\"" "${name}-javadoc.jar: NativeLoader.html does not document ${method}")
endforeach()
expect("NOT page MATCHES \"dc.created|Generated by javadoc \\\\([^)]*\\\\) on \""
  "${name}-javadoc.jar: pages carry the time they were made")
foreach(jar sources javadoc)
  set(jar_licence "")
  if(EXISTS "${WORK}/${jar}/META-INF/LICENSE")
    file(READ "${WORK}/${jar}/META-INF/LICENSE" jar_licence)
  endif()
  expect("jar_licence STREQUAL licence" "${name}-${jar}.jar: no META-INF/LICENSE as ${LICENSE}")
endforeach()

# The upload bundle: the version's folder alone, at its path, signatures included when signed.
entries("${BUNDLE}" found)
expect("found STREQUAL expected_bundle" "entries of ${BUNDLE}:\n    ${found}\n  expected:\n    ${expected_bundle}")

# Signatures. gpg --verify's status lines: VALIDSIG and the signing key's fingerprint for a good
# signature of exactly that file.
function(verify home file fingerprint)
  execute_process(COMMAND "${GPG}" --homedir "${home}" --batch --status-fd 1 --verify
                          "${file}.asc" "${file}"
    OUTPUT_VARIABLE status ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT status MATCHES "\\[GNUPG:\\] VALIDSIG ${fingerprint}")
    set(errors "${errors}\n  ${file}.asc: not a good signature by ${fingerprint} (${rc}):\n${err}" PARENT_SCOPE)
  endif()
endfunction()
function(gpg_run out)
  execute_process(COMMAND "${GPG}" ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gpg ${ARGN} failed:\n${err}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# The signing step, on every run: a throwaway key in a keyring of its own signs a copy of the
# version's folder exactly as a real key would sign the build's (sign-bundle.cmake); every
# signature must verify, name that key and fit its file alone, the signed files stay as they
# were, and the bundle then holds the signatures.
execute_process(COMMAND mktemp -d /tmp/kiv-gnupg.XXXXXX OUTPUT_VARIABLE home
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "no temporary keyring folder")
endif()
gpg_run(_ --homedir "${home}" --batch --passphrase "" --quick-gen-key
  "kiv-native-lib throwaway <throwaway@kiv-native-lib.invalid>" ed25519 sign never)
gpg_run(keys --homedir "${home}" --batch --with-colons --list-secret-keys)
string(REGEX MATCH "\nfpr:+([0-9A-F]+):" _ "${keys}")
set(fingerprint "${CMAKE_MATCH_1}")
set(signed "${WORK}/signed")
file(COPY "${MAVEN}/${version_dir}/" DESTINATION "${signed}/${version_dir}" PATTERN "*.asc" EXCLUDE)
execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DREPO=${signed}" "-DVERSION_DIR=${version_dir}"
          "-DBUNDLE=${WORK}/signed-bundle.zip" "-DJAR=${JAR}" "-DSTAGE=${WORK}/signed-stage"
          "-DKEY=${fingerprint}" "-DGPG=${GPG}" "-DGNUPGHOME=${home}"
          -P "${CMAKE_CURRENT_LIST_DIR}/sign-bundle.cmake"
  RESULT_VARIABLE rc)
expect("rc EQUAL 0 AND NOT fingerprint STREQUAL \"\"" "signing with the throwaway key ${fingerprint} failed")
set(signed_bundle "")
foreach(f IN LISTS expected_bundle)
  if(NOT f MATCHES "\\.asc$")
    list(APPEND signed_bundle "${f}")
  endif()
endforeach()
foreach(f IN LISTS artifacts)
  verify("${home}" "${signed}/${version_dir}/${f}" "${fingerprint}")
  file(SHA256 "${signed}/${version_dir}/${f}" after)
  file(SHA256 "${MAVEN}/${version_dir}/${f}" before)
  expect("after STREQUAL before" "signing changed ${f}")
  list(APPEND signed_bundle ${version_dir}/${f}.asc)
endforeach()
list(SORT signed_bundle)
file(GLOB signed_files RELATIVE "${signed}/${version_dir}" "${signed}/${version_dir}/*")
list(LENGTH signed_files count)
list(LENGTH signed_bundle expected_count)
expect("count EQUAL expected_count" "the signed folder holds ${signed_files}: a checksum beside a signature, or a file missing")
entries("${WORK}/signed-bundle.zip" found)
expect("found STREQUAL signed_bundle" "entries of the signed bundle:\n    ${found}\n  expected:\n    ${signed_bundle}")
# A signature fits its own file only.
execute_process(COMMAND "${GPG}" --homedir "${home}" --batch --verify
                        "${signed}/${version_dir}/${name}.aar.asc" "${signed}/${version_dir}/${name}.pom"
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
expect("NOT rc EQUAL 0" "the .aar's signature verifies the .pom as well")
execute_process(COMMAND gpgconf --homedir "${home}" --kill gpg-agent OUTPUT_QUIET ERROR_QUIET)
file(REMOVE_RECURSE "${home}")

# The build's own signatures, when it was given a key.
if(SIGNING_KEY)
  set(home "${SIGNING_GNUPGHOME}")
  if(NOT home)
    set(home "$ENV{HOME}/.gnupg")
  endif()
  gpg_run(keys --homedir "${home}" --batch --with-colons --list-keys "${SIGNING_KEY}")
  string(REGEX MATCH "\nfpr:+([0-9A-F]+):" _ "${keys}")
  foreach(f IN LISTS artifacts)
    verify("${home}" "${MAVEN}/${version_dir}/${f}" "${CMAKE_MATCH_1}")
  endforeach()
endif()

# The version, from CMakeLists.txt alone: every version the docs write in the archive's file name
# or the Gradle coordinates is it, and the change log's latest entry is it.
foreach(doc README.md docs/ANDROID.md)
  file(READ "${SOURCE_DIR}/${doc}" text)
  string(REGEX MATCHALL "kiv-native-lib[-:][0-9]+\\.[0-9]+\\.[0-9]+" versions "${text}")
  list(LENGTH versions count)
  expect("count GREATER 0" "${doc} names no version of kiv-native-lib")
  foreach(v IN LISTS versions)
    string(REGEX REPLACE "^kiv-native-lib[-:]" "" v "${v}")
    expect("v STREQUAL VERSION" "${doc} names version ${v}, CMakeLists.txt ${VERSION}")
  endforeach()
endforeach()
file(STRINGS "${SOURCE_DIR}/CHANGELOG.md" headings REGEX "^## ")
list(GET headings 0 latest)
expect("latest MATCHES \"^## ${VERSION} \"" "CHANGELOG.md's latest entry is '${latest}', not ${VERSION}")

if(errors)
  message(FATAL_ERROR "the Android archive is not as expected:${errors}")
endif()
list(LENGTH expected count)
list(LENGTH expected_maven maven_count)
list(LENGTH expected_bundle bundle_count)
message(STATUS "${AAR}: the ${count} expected entries, as expected; ${MAVEN}: the ${maven_count} expected files; ${BUNDLE}: the ${bundle_count} expected entries")
