# The Android archive (KIV_AAR=ON, a host build): packages the libraries that the android preset
# built for each ABI in KIV_ANDROID_BUILDS/<abi>/ into kiv-native-lib-<version>.aar, a local Maven
# repository beside it (with the POM, -sources.jar and -javadoc.jar that Maven Central asks for),
# the upload bundle of that version and native-debug-symbols.zip, and tests all of it (ctest):
# check-so and the export check on every shipped library, that installing an Android build
# installs nothing, then the archive's entries, the repository's files, the signatures (made
# again there with a throwaway key) and the bundle (check-aar.cmake).
#
# Signing: KIV_SIGNING_KEY names the gpg key (fingerprint, key id or e-mail address), from the
# keyring in KIV_SIGNING_GNUPGHOME (gpg's default, ~/.gnupg, when empty); both start from the
# environment variables KIV_SIGNING_KEY and GNUPGHOME at the first configure. A key with a
# passphrase asks for it through gpg's agent, or reads it from KIV_SIGNING_PASSPHRASE_FILE.
# Without a key the publication is complete but unsigned.
#
# The version, description and URL are the project's. Needs the JDK (javac for classes.jar,
# javadoc, jar for the archives), gpg and llvm-19 (strip, readelf, nm, objdump); check-so comes
# from KIV_ANDROID_SYSROOT_TOOLS, the folder whose make-sysroot laid out KIV_ANDROID_BUILDS/sysroot.
if(ANDROID OR CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "KIV_AAR packages the Android builds: configure it as a host build")
endif()
set(KIV_ANDROID_BUILDS "${PROJECT_SOURCE_DIR}/build-android" CACHE PATH
  "Folder holding sysroot/ (made by make-sysroot) and one Release build per ABI")
set(KIV_ANDROID_SYSROOT_TOOLS "${PROJECT_SOURCE_DIR}/../shared/android-sysroot" CACHE PATH
  "Folder with make-sysroot and check-so")
if(NOT EXISTS "${KIV_ANDROID_SYSROOT_TOOLS}/check-so")
  message(FATAL_ERROR "check-so not found in KIV_ANDROID_SYSROOT_TOOLS (${KIV_ANDROID_SYSROOT_TOOLS})")
endif()
if(NOT Java_JAVAC_EXECUTABLE OR NOT Java_JAR_EXECUTABLE)
  message(FATAL_ERROR "the Android archive needs the JDK's javac and jar")
endif()
get_filename_component(_kiv_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(_kiv_jdk_bin "${_kiv_javac_real}" DIRECTORY)
find_program(KIV_JAVADOC javadoc HINTS "${_kiv_jdk_bin}")
if(NOT KIV_JAVADOC)
  message(FATAL_ERROR "javadoc not found beside ${_kiv_javac_real}")
endif()
find_program(KIV_GPG gpg)
if(NOT KIV_GPG)
  message(FATAL_ERROR "gpg not found (Debian: gpg gpg-agent): the publication's signatures are made and checked with it")
endif()
set(KIV_SIGNING_KEY "$ENV{KIV_SIGNING_KEY}" CACHE STRING
  "gpg key to sign the publication with (fingerprint, id or e-mail); empty: unsigned")
set(KIV_SIGNING_GNUPGHOME "$ENV{GNUPGHOME}" CACHE PATH
  "Keyring folder holding KIV_SIGNING_KEY; empty: gpg's default")
set(KIV_SIGNING_PASSPHRASE_FILE "$ENV{KIV_SIGNING_PASSPHRASE_FILE}" CACHE FILEPATH
  "File holding the key's passphrase, for unattended signing; empty: gpg's agent asks")
foreach(tool strip readelf nm objdump)
  string(TOUPPER "${tool}" _name)
  find_program(KIV_LLVM_${_name} llvm-${tool}-19)
  if(NOT KIV_LLVM_${_name})
    message(FATAL_ERROR "llvm-${tool}-19 not found (Debian: llvm-19)")
  endif()
endforeach()

# ABI, the sysroot's folder of its stubs, its minimum API level, its ELF machine as readelf names it.
set(KIV_ANDROID_ABIS arm64-v8a armeabi-v7a x86 x86_64 riscv64)
set(_kiv_arm64-v8a aarch64-linux-android 21 AArch64)
set(_kiv_armeabi-v7a arm-linux-androideabi 21 ARM)
set(_kiv_x86 i686-linux-android 21 "Intel 80386")
set(_kiv_x86_64 x86_64-linux-android 21 "Advanced Micro Devices X86-64")
set(_kiv_riscv64 riscv64-linux-android 35 RISC-V)

set(_out "${CMAKE_BINARY_DIR}")
set(_name kiv-native-lib-${PROJECT_VERSION})
set(_aar "${_out}/${_name}.aar")
set(_maven "${_out}/maven")
set(_maven_artifact "${_maven}/com/zelk/kiv/kiv-native-lib")
set(_maven_dir "${_maven_artifact}/${PROJECT_VERSION}")
set(_symbols "${_out}/native-debug-symbols.zip")
set(_bundle "${_out}/${_name}-bundle.zip")
set(_java_sources
  "${PROJECT_SOURCE_DIR}/java/com/zelk/kiv/jni/NativeLoader.java"
  "${PROJECT_SOURCE_DIR}/java/com/zelk/kiv/jni/JniModel.java")
string(REPLACE ";" "|" _java_sources_arg "${_java_sources}")
set(_libs "")
set(_abi_table "")
foreach(abi IN LISTS KIV_ANDROID_ABIS)
  list(APPEND _libs "${KIV_ANDROID_BUILDS}/${abi}/libkiv-native-lib.so")
  list(GET _kiv_${abi} 1 _api)
  list(APPEND _abi_table "${abi}:${_api}")
endforeach()
string(REPLACE ";" "|" _abi_arg "${_abi_table}")

set(_here "${CMAKE_CURRENT_LIST_DIR}")
add_custom_command(
  OUTPUT "${_aar}" "${_maven_dir}/${_name}.aar" "${_maven_dir}/${_name}.pom"
         "${_maven_dir}/${_name}-sources.jar" "${_maven_dir}/${_name}-javadoc.jar"
         "${_maven_artifact}/maven-metadata.xml" "${_bundle}" "${_symbols}"
  COMMAND ${CMAKE_COMMAND}
          "-DVERSION=${PROJECT_VERSION}" "-DDESCRIPTION=${PROJECT_DESCRIPTION}"
          "-DURL=${PROJECT_HOMEPAGE_URL}" "-DABIS=${_abi_arg}" "-DBUILDS=${KIV_ANDROID_BUILDS}"
          "-DCLASSES_JAR=${KIV_AAR_CLASSES_JAR}" "-DPROGUARD=${KIV_AAR_PROGUARD}"
          "-DHEADER=${PROJECT_SOURCE_DIR}/include/kiv/codec.h" "-DSTRIP=${KIV_LLVM_STRIP}"
          "-DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE" "-DSOURCES=${_java_sources_arg}"
          "-DJAVADOC=${KIV_JAVADOC}" "-DJAR=${Java_JAR_EXECUTABLE}" "-DGPG=${KIV_GPG}"
          "-DSIGNING_KEY=${KIV_SIGNING_KEY}" "-DSIGNING_GNUPGHOME=${KIV_SIGNING_GNUPGHOME}"
          "-DSIGNING_PASSPHRASE_FILE=${KIV_SIGNING_PASSPHRASE_FILE}"
          "-DSTAGE=${_out}/stage" "-DOUT=${_out}"
          -P "${_here}/package-aar.cmake"
  DEPENDS ${_libs} "${KIV_AAR_CLASSES_JAR}" "${KIV_AAR_PROGUARD}" ${_java_sources}
          "${PROJECT_SOURCE_DIR}/LICENSE"
          "${PROJECT_SOURCE_DIR}/include/kiv/codec.h" "${_here}/package-aar.cmake"
          "${_here}/zip.cmake" "${_here}/AndroidManifest.xml.in" "${_here}/kiv-native-lib.pom.in"
          "${_here}/maven-metadata.xml.in" "${_here}/sign-bundle.cmake"
  COMMENT "Packaging ${_name}.aar, its Maven repository, its bundle and native-debug-symbols.zip"
  VERBATIM)
add_custom_target(kiv-aar ALL DEPENDS "${_aar}" "${_bundle}" "${_symbols}")
add_dependencies(kiv-aar kiv-aar-java)

enable_testing()
foreach(abi IN LISTS KIV_ANDROID_ABIS)
  list(GET _kiv_${abi} 0 _multiarch)
  list(GET _kiv_${abi} 1 _api)
  set(_shipped "${_out}/stage/aar/jni/${abi}/libkiv-native-lib.so")
  # check-so counts a failed import check inside a pipeline, where its exit status gets lost:
  # its own lines decide as well.
  add_test(NAME check_so_${abi}
    COMMAND "${KIV_ANDROID_SYSROOT_TOOLS}/check-so" "${_shipped}"
            "${KIV_ANDROID_BUILDS}/sysroot/usr/lib/${_multiarch}/${_api}")
  set_tests_properties(check_so_${abi} PROPERTIES
    ENVIRONMENT "READELF=${KIV_LLVM_READELF}"
    PASS_REGULAR_EXPRESSION "RESULT: PASS"
    FAIL_REGULAR_EXPRESSION "FAIL;NOT IN STUBS;VERSION MISMATCH")
  add_test(NAME library_exports_${abi}
    COMMAND ${CMAKE_COMMAND} "-DLIBRARY=${_shipped}" "-DNM=${KIV_LLVM_NM}"
            "-DREADELF=${KIV_LLVM_READELF}" -P "${PROJECT_SOURCE_DIR}/tests/check_exports.cmake")
  # cmake --install of an Android build installs nothing: apps take the library from the archive.
  add_test(NAME installs_nothing_${abi}
    COMMAND ${CMAKE_COMMAND} "-DBUILD=${KIV_ANDROID_BUILDS}/${abi}" "-DPREFIX=${_out}/install-${abi}"
            -DEXPECTED= -P "${PROJECT_SOURCE_DIR}/tests/install/check_install.cmake")
endforeach()

set(_machines "")
foreach(abi IN LISTS KIV_ANDROID_ABIS)
  list(GET _kiv_${abi} 2 _machine)
  list(APPEND _machines "${abi}=${_machine}")
endforeach()
string(REPLACE ";" "|" _machines_arg "${_machines}")
add_test(NAME aar_contents
  COMMAND ${CMAKE_COMMAND}
    "-DAAR=${_aar}" "-DMAVEN=${_maven}" "-DSYMBOLS=${_symbols}" "-DBUNDLE=${_bundle}"
    "-DVERSION=${PROJECT_VERSION}" "-DURL=${PROJECT_HOMEPAGE_URL}"
    "-DABIS=${_abi_arg}" "-DMACHINES=${_machines_arg}" "-DREADELF=${KIV_LLVM_READELF}"
    "-DOBJDUMP=${KIV_LLVM_OBJDUMP}" "-DRULES=${PROJECT_SOURCE_DIR}/java/proguard-rules.pro"
    "-DHEADER=${PROJECT_SOURCE_DIR}/include/kiv/codec.h" "-DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE"
    "-DSOURCES=${_java_sources_arg}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
    "-DJAR=${Java_JAR_EXECUTABLE}" "-DGPG=${KIV_GPG}" "-DSIGNING_KEY=${KIV_SIGNING_KEY}"
    "-DSIGNING_GNUPGHOME=${KIV_SIGNING_GNUPGHOME}" "-DWORK=${_out}/check-aar"
    -P "${_here}/check-aar.cmake")
