#include "jni/java_string.h"

namespace kiv::jni {

bool is_empty(JNIEnv* env, jstring s) noexcept {
    // No characters means no modified-UTF-8 bytes; the length in characters needs no scan.
    return s == nullptr || env->GetStringLength(s) == 0;
}

}  // namespace kiv::jni
