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
else()
  if(CMAKE_VERSION VERSION_LESS 3.24)
    find_package(JNI REQUIRED)
  else()
    find_package(JNI REQUIRED COMPONENTS JVM)
  endif()
  set(KIV_JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIRS})
endif()
