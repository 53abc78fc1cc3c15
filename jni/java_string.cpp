#include "jni/java_string.h"

namespace kiv::jni {

bool is_empty(JNIEnv* env, jstring s) noexcept {
    // No characters means no modified-UTF-8 bytes; the length in characters needs no scan.
    return s == nullptr || env->GetStringLength(s) == 0;
}

bool starts_ascii(JNIEnv* env, jstring s, jsize length) noexcept {
    constexpr jsize kProbe = 128;
    jchar units[kProbe];
    const jsize count = length < kProbe ? length : kProbe;
    env->GetStringRegion(s, 0, count, units);
    for (jsize i = 0; i < count; ++i) {
        if (units[i] == 0 || units[i] > 0x7F) return false;
    }
    return true;
}

}  // namespace kiv::jni
