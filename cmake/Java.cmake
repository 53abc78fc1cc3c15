# The Java side: NativeLoader and JniModel compiled with the JDK, and the JNI header javac
# generates from NativeLoader, so a native signature that drifts from its Java declaration
# fails to compile.

# FindJNI needs JAVA_HOME; when neither the user nor the environment gives one, take the JDK
# whose javac is on the PATH.
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

find_package(Java 17 REQUIRED COMPONENTS Development Runtime)
include(UseJava)
# Classes that run on the JDK 17 of the machine and on any newer one.
set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Werror)

add_jar(kiv-java
  SOURCES
    java/com/zelk/kiv/jni/NativeLoader.java
    java/com/zelk/kiv/jni/JniModel.java
  OUTPUT_NAME kiv
  GENERATE_NATIVE_HEADERS kiv-jni-headers)

if(ANDROID)
  # The NDK's sysroot has jni.h; there is no VM to link against.
  set(KIV_JNI_INCLUDE_DIRS "")
elseif(CMAKE_CROSSCOMPILING)
  # Another Linux target (the ARM builds under qemu): the library needs only the headers, and
  # the build machine's JDK has them (jni_md.h on Linux is the same for every architecture).
  # No VM is linked. The headers are outside the target's root path, hence NO_CMAKE_FIND_ROOT_PATH.
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
else()
  if(CMAKE_VERSION VERSION_LESS 3.24)
    find_package(JNI REQUIRED)
  else()
    find_package(JNI REQUIRED COMPONENTS JVM)
  endif()
  set(KIV_JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIRS})
endif()
