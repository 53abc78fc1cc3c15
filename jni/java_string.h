#pragma once
// How the library tells an empty Java string (the ways long texts take are in text_paths.h).

#include <jni.h>

namespace kiv::jni {

// A String argument is empty when it is null or its modified-UTF-8 length is 0; both cases are
// always treated alike.
bool is_empty(JNIEnv* env, jstring s) noexcept;

}  // namespace kiv::jni
