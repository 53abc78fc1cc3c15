# The Android Runtime on the build machine, for the JVM suites and the JNI benchmark on ART
# (KIV_ART): Debian's ART (android-libart and the libraries it needs), started without a boot
# image on a stand-in core library (core.dex from KIV_ART_HOST) and a dex of NativeLoader and
# JniModel assembled with smali from java/art/. Every build compares the smali classes' members
# with the Java classes' (javap), so the two cannot drift apart.
#
# Sets KIV_ART_BOOT_CLASSPATH, the interface target kiv_art_vm (link it to start ART with
# JNI_CreateJavaVM; it defines KIV_ART_BOOT_CLASSPATH for the sources) and the target
# kiv-art-runtime (the dex files and the stand-in libraries, for add_dependencies).

set(KIV_ART_HOST "${PROJECT_SOURCE_DIR}/../shared/art-host" CACHE PATH
  "Directory holding core.dex, the stand-in boot classpath for ART")
set(_kiv_android_dir "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/android")
find_library(KIV_ART_LIBRARY NAMES art libart.so.0 PATHS "${_kiv_android_dir}" NO_DEFAULT_PATH)
find_program(KIV_SMALI smali)
find_program(KIV_JAVAP javap HINTS "${Java_JAVAC_EXECUTABLE}/.." "$ENV{JAVA_HOME}/bin")
get_filename_component(KIV_ART_HOST "${KIV_ART_HOST}" ABSOLUTE)
if(NOT KIV_ART_LIBRARY OR NOT KIV_SMALI OR NOT KIV_JAVAP OR NOT EXISTS "${KIV_ART_HOST}/core.dex"
   OR NOT TARGET kiv-java)
  message(FATAL_ERROR "KIV_ART needs android-libart (${_kiv_android_dir}), smali (libsmali-java), "
    "a JDK and ${KIV_ART_HOST}/core.dex (set KIV_ART_HOST)")
endif()

set(_kiv_art_dir "${PROJECT_BINARY_DIR}/art")
set(_kiv_smali_dir "${PROJECT_SOURCE_DIR}/java/art")
set(_kiv_smali
  "${_kiv_smali_dir}/com/zelk/kiv/jni/NativeLoader.smali"
  "${_kiv_smali_dir}/com/zelk/kiv/jni/JniModel.smali")
get_target_property(_kiv_art_jar kiv-java JAR_FILE)
add_custom_command(OUTPUT "${_kiv_art_dir}/smali-matches.stamp"
  COMMAND ${CMAKE_COMMAND} "-DJAVAP=${KIV_JAVAP}" "-DCLASSPATH=${_kiv_art_jar}"
          "-DCLASSES=com.zelk.kiv.jni.NativeLoader,com.zelk.kiv.jni.JniModel"
          "-DSMALI_DIR=${_kiv_smali_dir}" "-DSTAMP=${_kiv_art_dir}/smali-matches.stamp"
          -P "${PROJECT_SOURCE_DIR}/cmake/check-smali.cmake"
  DEPENDS ${_kiv_smali} "${_kiv_art_jar}" "${PROJECT_SOURCE_DIR}/cmake/check-smali.cmake"
  COMMENT "Comparing the smali NativeLoader and JniModel with the Java classes"
  VERBATIM)
add_custom_command(OUTPUT "${_kiv_art_dir}/kiv.dex" "${_kiv_art_dir}/core.dex"
  COMMAND ${KIV_SMALI} assemble --api 29 -o "${_kiv_art_dir}/kiv.dex" "${_kiv_smali_dir}"
  COMMAND ${CMAKE_COMMAND} -E copy "${KIV_ART_HOST}/core.dex" "${_kiv_art_dir}/core.dex"
  DEPENDS ${_kiv_smali} "${KIV_ART_HOST}/core.dex" "${_kiv_art_dir}/smali-matches.stamp"
  COMMENT "Assembling kiv.dex for ART"
  VERBATIM)
add_custom_target(kiv-art-dex DEPENDS "${_kiv_art_dir}/kiv.dex" "${_kiv_art_dir}/core.dex")
add_dependencies(kiv-art-dex kiv-java)
set(KIV_ART_BOOT_CLASSPATH "${_kiv_art_dir}/core.dex:${_kiv_art_dir}/kiv.dex")

# ART dlopens these by name at start, from libraries whose RUNPATH names only their own folder:
# the programs link them, and a library already loaded is found by its name.
set(_kiv_art_stubs "")
foreach(name javacore openjdk icu_jni)
  add_library(kiv_art_${name} SHARED "${PROJECT_SOURCE_DIR}/tests/art/corestub.cpp")
  target_include_directories(kiv_art_${name} PRIVATE ${KIV_JNI_INCLUDE_DIRS})
  set_target_properties(kiv_art_${name} PROPERTIES OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY "${_kiv_art_dir}")
  list(APPEND _kiv_art_stubs kiv_art_${name})
endforeach()

find_package(Threads REQUIRED)
# libart.so.0 declares none of the libraries it needs: the program links them all.
add_library(kiv_art_vm INTERFACE)
target_link_options(kiv_art_vm INTERFACE "LINKER:--no-as-needed" "LINKER:-rpath,${_kiv_android_dir}")
target_link_directories(kiv_art_vm INTERFACE "${_kiv_android_dir}")
target_link_libraries(kiv_art_vm INTERFACE
  sigchain art nativeloader nativebridge base ziparchive backtrace log z :liblz4.so.1
  ${_kiv_art_stubs} ${CMAKE_DL_LIBS} Threads::Threads)
target_compile_definitions(kiv_art_vm INTERFACE KIV_ART_BOOT_CLASSPATH="${KIV_ART_BOOT_CLASSPATH}")
target_include_directories(kiv_art_vm INTERFACE ${KIV_JNI_INCLUDE_DIRS})
add_custom_target(kiv-art-runtime DEPENDS kiv-art-dex ${_kiv_art_stubs})
