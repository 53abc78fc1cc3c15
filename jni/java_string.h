#pragma once
// How the library reads the Java strings it is given: emptiness, and whether a text starts with
// ASCII (the ASCII slices of desktop VMs are in hotspot_paths.h).

#include <jni.h>

#include <cstddef>

namespace kiv::jni {

// A String argument is empty when it is null or its modified-UTF-8 length is 0; both cases are
// always treated alike.
bool is_empty(JNIEnv* env, jstring s) noexcept;

// True when the first characters of the string, up to 128, are ASCII (U+0001 to U+007F).
bool starts_ascii(JNIEnv* env, jstring s, jsize length) noexcept;

}  // namespace kiv::jni
