# The Java side and the JNI headers.
#
# The library includes jni/com_zelk_kiv_jni_NativeLoader.h, the header javac generates from
# NativeLoader.java, committed so that a build needs no JDK where the NDK gives jni.h (Android).
# Wherever a JDK is found, NativeLoader and JniModel are compiled, javac's header is compared with
# the committed one, and a difference fails the build: a native signature that drifts from its
# Java declaration is still caught.
#
# Sets KIV_JNI (ON where jni.h is at hand: on Android from the sysroot, elsewhere from a JDK),
# KIV_JNI_INCLUDE_DIRS (jni.h and jni_md.h; empty on Android), KIV_JVM_LIBRARY (libjvm, for the
# tests that start a VM; host builds only) and the target kiv-java when a JDK was found. With
# KIV_JAVA off a JDK is optional: without one the JNI library is not built, the core, the tool
# and the tests that need neither a VM nor the shared library are.
# FindJNI is not used: before CMake 3.24 it also requires the AWT parts (jawt.h, libjawt.so),
# which headless JDKs lack.

# Without JAVA_HOME from the user or the environment, take the JDK whose javac is on the PATH.
if(NOT DEFINED JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(KIV_JAVAC javac)
  if(KIV_JAVAC)
    get_filename_component(_javac_real "${KIV_JAVAC}" REALPATH)
    get_filename_component(_java_bin "${_javac_real}" DIRECTORY)
    get_filename_component(JAVA_HOME "${_java_bin}" DIRECTORY CACHE)
  endif()
endif()
if(DEFINED JAVA_HOME)
  set(ENV{JAVA_HOME} "${JAVA_HOME}")
endif()

if(ANDROID OR NOT KIV_JAVA)
  # Optional: used for the header check (and off Android for jni.h) when there is one.
  find_package(Java 17 QUIET COMPONENTS Development)
else()
  find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
endif()

set(KIV_JNI_HEADER "${PROJECT_SOURCE_DIR}/jni/com_zelk_kiv_jni_NativeLoader.h")

if(Java_JAVAC_EXECUTABLE)
  include(UseJava)
  # Classes that run on the JDK 17 of the machine and on any newer one.
  set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Werror)
  add_jar(kiv-java
    SOURCES
      java/com/zelk/kiv/jni/NativeLoader.java
      java/com/zelk/kiv/jni/JniModel.java
    RESOURCES NAMESPACE "META-INF" LICENSE
    OUTPUT_NAME kiv
    GENERATE_NATIVE_HEADERS kiv-jni-generated DESTINATION "${CMAKE_CURRENT_BINARY_DIR}/jni-generated")

  get_target_property(_kiv_java_jar kiv-java JAR_FILE)
  set(_kiv_header_stamp "${CMAKE_CURRENT_BINARY_DIR}/jni-generated/header-matches.stamp")
  add_custom_command(OUTPUT "${_kiv_header_stamp}"
    COMMAND ${CMAKE_COMMAND}
            "-DGENERATED=${CMAKE_CURRENT_BINARY_DIR}/jni-generated/com_zelk_kiv_jni_NativeLoader.h"
            "-DCOMMITTED=${KIV_JNI_HEADER}"
            "-DSTAMP=${_kiv_header_stamp}"
            -P "${PROJECT_SOURCE_DIR}/cmake/check-jni-header.cmake"
    DEPENDS "${_kiv_java_jar}" "${KIV_JNI_HEADER}" "${PROJECT_SOURCE_DIR}/cmake/check-jni-header.cmake"
    COMMENT "Comparing the NativeLoader JNI header with javac's"
    VERBATIM)
  add_custom_target(kiv-jni-header-check DEPENDS "${_kiv_header_stamp}")
  add_dependencies(kiv-jni-header-check kiv-java)
elseif(ANDROID)
  message(STATUS "No JDK 17 or newer found: using the committed NativeLoader JNI header unchecked")
else()
  message(STATUS "No JDK 17 or newer found: no jni.h, so the JNI library (kiv-native-lib) is not "
                 "built; the core and the kiv tool are")
endif()

set(KIV_JNI_INCLUDE_DIRS "")
set(KIV_JVM_LIBRARY "")
if(ANDROID)
  set(KIV_JNI ON)
elseif(NOT Java_JAVAC_EXECUTABLE)
  set(KIV_JNI OFF)
else()
  set(KIV_JNI ON)
  # jni.h and jni_md.h from the JDK (jni_md.h on Linux is the same for every architecture, so a
  # cross build uses the build machine's), and libjvm for a host build's tests. They are outside a
  # cross build's root path, hence NO_CMAKE_FIND_ROOT_PATH.
  get_filename_component(_kiv_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
  get_filename_component(_kiv_jdk_bin "${_kiv_javac_real}" DIRECTORY)
  get_filename_component(_kiv_jdk "${_kiv_jdk_bin}" DIRECTORY)
  find_path(KIV_JNI_INCLUDE_DIR jni.h
    PATHS "${_kiv_jdk}/include" "$ENV{JAVA_HOME}/include"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(KIV_JNI_MD_INCLUDE_DIR jni_md.h
    PATHS "${KIV_JNI_INCLUDE_DIR}/linux"
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KIV_JNI_INCLUDE_DIR OR NOT KIV_JNI_MD_INCLUDE_DIR)
    message(FATAL_ERROR "jni.h and linux/jni_md.h not found under ${_kiv_jdk}/include")
  endif()
  set(KIV_JNI_INCLUDE_DIRS ${KIV_JNI_INCLUDE_DIR} ${KIV_JNI_MD_INCLUDE_DIR})

  if(NOT CMAKE_CROSSCOMPILING)
    find_library(KIV_JVM_LIBRARY_PATH jvm
      PATHS "${_kiv_jdk}/lib/server" "$ENV{JAVA_HOME}/lib/server"
      NO_DEFAULT_PATH)
    if(NOT KIV_JVM_LIBRARY_PATH AND KIV_JAVA)
      message(FATAL_ERROR "libjvm not found under ${_kiv_jdk}/lib/server (needed by the JVM tests)")
    endif()
    set(KIV_JVM_LIBRARY ${KIV_JVM_LIBRARY_PATH})
  endif()
endif()

# The Java side as the Android archive ships it (target kiv-aar-java, built on demand): classes.jar
# with NativeLoader and JniModel compiled for Java 8 (and the licence), and proguard.txt, the keep
# rules, which the Android Gradle plugin applies to every app that uses the archive. The host tests minify an app
# against these same two files (tests/minify).
if(Java_JAVAC_EXECUTABLE AND Java_JAR_EXECUTABLE)
  set(KIV_AAR_CLASSES_JAR "${CMAKE_BINARY_DIR}/aar-java/classes.jar")
  set(KIV_AAR_PROGUARD "${CMAKE_BINARY_DIR}/aar-java/proguard.txt")
  set(_kiv_aar_sources
    "${PROJECT_SOURCE_DIR}/java/com/zelk/kiv/jni/NativeLoader.java"
    "${PROJECT_SOURCE_DIR}/java/com/zelk/kiv/jni/JniModel.java")
  string(REPLACE ";" "|" _kiv_aar_sources_arg "${_kiv_aar_sources}")
  add_custom_command(OUTPUT "${KIV_AAR_CLASSES_JAR}"
    COMMAND ${CMAKE_COMMAND} "-DJAVAC=${Java_JAVAC_EXECUTABLE}" "-DJAR=${Java_JAR_EXECUTABLE}"
            "-DSOURCES=${_kiv_aar_sources_arg}" "-DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE"
            "-DOUT=${KIV_AAR_CLASSES_JAR}"
            "-DWORK=${CMAKE_BINARY_DIR}/aar-java/classes"
            -P "${PROJECT_SOURCE_DIR}/cmake/android/classes-jar.cmake"
    DEPENDS ${_kiv_aar_sources} "${PROJECT_SOURCE_DIR}/LICENSE"
            "${PROJECT_SOURCE_DIR}/cmake/android/classes-jar.cmake"
            "${PROJECT_SOURCE_DIR}/cmake/android/zip.cmake"
    COMMENT "Compiling the Java side for Java 8 into classes.jar"
    VERBATIM)
  add_custom_command(OUTPUT "${KIV_AAR_PROGUARD}"
    COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/java/proguard-rules.pro"
            "${KIV_AAR_PROGUARD}"
    DEPENDS "${PROJECT_SOURCE_DIR}/java/proguard-rules.pro"
    VERBATIM)
  add_custom_target(kiv-aar-java DEPENDS "${KIV_AAR_CLASSES_JAR}" "${KIV_AAR_PROGUARD}")
endif()
