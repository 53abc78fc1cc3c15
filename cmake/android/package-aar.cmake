# Lays out and writes the Android archive, its Maven repository, the upload bundle and
# native-debug-symbols.zip in OUT (see aar.cmake, which passes every variable):
#
#   kiv-native-lib-<version>.aar  AndroidManifest.xml, classes.jar, proguard.txt, R.txt (empty),
#                                 META-INF/LICENSE, jni/<abi>/libkiv-native-lib.so (stripped), and
#                                 prefab/: the package kiv-native-lib with one module of the same
#                                 name, its header and per ABI abi.json beside the stripped library
#   maven/com/zelk/kiv/kiv-native-lib/            maven-metadata.xml (the versions held, so that
#                                                 dynamic versions such as 1.+ resolve)
#   maven/com/zelk/kiv/kiv-native-lib/<version>/  the .aar, its .pom, -sources.jar (the Java
#                                                 sources) and -javadoc.jar (javadoc's pages of
#                                                 them), each jar with META-INF/LICENSE
#   kiv-native-lib-<version>-bundle.zip           that version's folder alone, to upload
#   native-debug-symbols.zip      <abi>/libkiv-native-lib.so as built, unstripped
#
# Beside each file of the Maven repository, its .md5, .sha1, .sha256 and .sha512: the digest in
# lower-case hex, nothing else, as Maven and Gradle write and read them. With SIGNING_KEY, an
# .asc signature beside each file of the version's folder too (sign-bundle.cmake).
#
# ABIS is "abi:api|abi:api|...". Every archive is reproducible (zip.cmake), and so is the Maven
# repository: its metadata carries the archives' fixed timestamp, not the time of the build.
# Only signatures differ from run to run (and so the bundle of a signed publication).
string(REPLACE "|" ";" ABIS "${ABIS}")
string(REPLACE "|" ";" SOURCES "${SOURCES}")
set(name kiv-native-lib-${VERSION})
set(here "${CMAKE_CURRENT_LIST_DIR}")
set(aar "${STAGE}/aar")
set(symbols "${STAGE}/native-debug-symbols")
set(module "${aar}/prefab/modules/kiv-native-lib")
file(REMOVE_RECURSE "${STAGE}")

configure_file("${here}/AndroidManifest.xml.in" "${aar}/AndroidManifest.xml" @ONLY)
configure_file("${CLASSES_JAR}" "${aar}/classes.jar" COPYONLY)
configure_file("${PROGUARD}" "${aar}/proguard.txt" COPYONLY)
file(WRITE "${aar}/R.txt" "")
configure_file("${LICENSE}" "${aar}/META-INF/LICENSE" COPYONLY)
# Prefab's schema 2: the package, then one module whose library is libkiv-native-lib.so and which
# makes its users link nothing else.
file(WRITE "${aar}/prefab/prefab.json"
  "{\n  \"schema_version\": 2,\n  \"name\": \"kiv-native-lib\",\n  \"version\": \"${VERSION}\",\n"
  "  \"dependencies\": []\n}\n")
file(WRITE "${module}/module.json"
  "{\n  \"export_libraries\": [],\n  \"library_name\": \"libkiv-native-lib\"\n}\n")
configure_file("${HEADER}" "${module}/include/kiv/codec.h" COPYONLY)

foreach(entry IN LISTS ABIS)
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 abi)
  list(GET entry 1 api)
  set(built "${BUILDS}/${abi}/libkiv-native-lib.so")
  if(NOT EXISTS "${built}")
    message(FATAL_ERROR "${built} not found: build it first (cmake --workflow --preset android-${abi})")
  endif()
  file(MAKE_DIRECTORY "${aar}/jni/${abi}")
  execute_process(
    COMMAND "${STRIP}" --strip-unneeded -o "${aar}/jni/${abi}/libkiv-native-lib.so" "${built}"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${STRIP} failed on ${built}")
  endif()
  set(libs "${module}/libs/android.${abi}")
  configure_file("${aar}/jni/${abi}/libkiv-native-lib.so" "${libs}/libkiv-native-lib.so" COPYONLY)
  # ndk: the oldest NDK release that builds this ABI at this API level (r21 for API 21, r27 for
  # riscv64); stl none: the library uses no part of the C++ runtime.
  if(abi STREQUAL "riscv64")
    set(ndk 27)
  else()
    set(ndk 21)
  endif()
  file(WRITE "${libs}/abi.json"
    "{\n  \"abi\": \"${abi}\",\n  \"api\": ${api},\n  \"ndk\": ${ndk},\n  \"stl\": \"none\",\n"
    "  \"static\": false\n}\n")
  configure_file("${built}" "${symbols}/${abi}/libkiv-native-lib.so" COPYONLY)
endforeach()

# The Java sources at their package's path, and javadoc's pages of them: no timestamps, every
# doclint warning an error.
set(sources "${STAGE}/sources")
set(javadoc "${STAGE}/javadoc")
foreach(src IN LISTS SOURCES)
  get_filename_component(base "${src}" NAME)
  configure_file("${src}" "${sources}/com/zelk/kiv/jni/${base}" COPYONLY)
endforeach()
execute_process(
  COMMAND "${JAVADOC}" -quiet -notimestamp -Xdoclint:all -Werror -encoding UTF-8
          -docencoding UTF-8 -charset UTF-8 -doctitle "libkiv-native-lib ${VERSION}"
          -windowtitle "libkiv-native-lib ${VERSION}" -d "${javadoc}" ${SOURCES}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "javadoc failed (any warning fails it): fix the doc comments above")
endif()
foreach(dir "${sources}" "${javadoc}")
  configure_file("${LICENSE}" "${dir}/META-INF/LICENSE" COPYONLY)
endforeach()

foreach(pair "${aar}=${OUT}/${name}.aar" "${symbols}=${OUT}/native-debug-symbols.zip"
             "${sources}=${STAGE}/${name}-sources.jar" "${javadoc}=${STAGE}/${name}-javadoc.jar")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 dir)
  list(GET pair 1 archive)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" "-DJAR=${JAR}" "-DDIR=${dir}" "-DOUT=${archive}"
            -P "${here}/zip.cmake"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not write ${archive}")
  endif()
endforeach()

set(artifact "${OUT}/maven/com/zelk/kiv/kiv-native-lib")
set(maven "${artifact}/${VERSION}")
file(REMOVE_RECURSE "${OUT}/maven")
configure_file("${OUT}/${name}.aar" "${maven}/${name}.aar" COPYONLY)
configure_file("${STAGE}/${name}-sources.jar" "${maven}/${name}-sources.jar" COPYONLY)
configure_file("${STAGE}/${name}-javadoc.jar" "${maven}/${name}-javadoc.jar" COPYONLY)
configure_file("${here}/kiv-native-lib.pom.in" "${maven}/${name}.pom" @ONLY)
# lastUpdated (yyyyMMddHHmmss, UTC): zip.cmake's fixed date.
set(LAST_UPDATED 19800201000000)
configure_file("${here}/maven-metadata.xml.in" "${artifact}/maven-metadata.xml" @ONLY)
foreach(file "${maven}/${name}.aar" "${maven}/${name}.pom" "${maven}/${name}-sources.jar"
             "${maven}/${name}-javadoc.jar" "${artifact}/maven-metadata.xml")
  foreach(algorithm MD5 SHA1 SHA256 SHA512)
    string(TOLOWER "${algorithm}" extension)
    file(${algorithm} "${file}" digest)
    file(WRITE "${file}.${extension}" "${digest}")
  endforeach()
endforeach()

execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DREPO=${OUT}/maven" "-DVERSION_DIR=com/zelk/kiv/kiv-native-lib/${VERSION}"
          "-DBUNDLE=${OUT}/${name}-bundle.zip" "-DJAR=${JAR}" "-DSTAGE=${STAGE}/bundle"
          "-DKEY=${SIGNING_KEY}" "-DGPG=${GPG}" "-DGNUPGHOME=${SIGNING_GNUPGHOME}"
          "-DPASSPHRASE_FILE=${SIGNING_PASSPHRASE_FILE}" -P "${here}/sign-bundle.cmake"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not sign the publication or write its bundle")
endif()
