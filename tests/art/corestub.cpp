// Stands in for the core library's JNI parts (libjavacore.so, libopenjdk.so, libicu_jni.so) that
// ART loads by name when it starts: the stand-in boot classpath has no natives of theirs to bind.
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) { return JNI_VERSION_1_6; }
