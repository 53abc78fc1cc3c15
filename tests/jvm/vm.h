#pragma once
// Starts the VM that the JVM suites and the JNI benchmark run on, through the JNI invocation API.
// Which one is chosen when building:
//  - HotSpot (libjvm), with KIV_TEST_CLASSPATH as its class path, if defined, and
//    KIV_TEST_LIBRARY_DIR as java.library.path, where NativeLoader's static initialiser finds the
//    library;
//  - ART (libart), when KIV_ART_BOOT_CLASSPATH is defined: on that boot classpath (the stand-in
//    core library, then NativeLoader and JniModel), without a boot image, interpreted. The
//    stand-in has no System.loadLibrary, so the library at KIV_TEST_LIBRARY, if defined, is
//    loaded through ART's own loader for the boot class loader, the call System.loadLibrary ends
//    in; NativeLoader's natives then bind from it by name, as on a device.

#include <jni.h>

#include <string>

namespace kiv::test {

// Starts the VM, with -Xcheck:jni when check_jni. False, with *error saying why, on failure.
bool start_vm(bool check_jni, JavaVM** vm, JNIEnv** env, std::string* error);

}  // namespace kiv::test
