#pragma once
// How the library reads the Java strings it is given: emptiness, the VM it runs on, and their
// characters as ASCII bytes, a bounded slice at a time.

#include <jni.h>

#include <cstddef>
#include <cstdint>

namespace kiv::jni {

// A String argument is empty when it is null or its modified-UTF-8 length is 0; both cases are
// always treated alike.
bool is_empty(JNIEnv* env, jstring s) noexcept;

// True on Android's runtime (ART, and Dalvik before it), which reports JNI 1.6 from GetVersion
// where desktop VMs report their own, newer version. ART keeps ASCII strings as bytes, so its own
// conversions of them are cheaper than the fast paths that pay off on a desktop VM.
bool on_android_runtime(JNIEnv* env) noexcept;

// True when the first characters of the string, up to 128, are ASCII (U+0001 to U+007F).
bool starts_ascii(JNIEnv* env, jstring s, jsize length) noexcept;

// Passes the string's characters, narrowed to bytes, to sink(bytes, count) in consecutive
// slices, every slice but the last of an even count, for as long as they are all ASCII
// (U+0001 to U+007F, where a character and its modified-UTF-8 byte are the same). Returns false
// at the first character that is not; true when all `length` characters were passed. Copies
// through a bounded stack buffer, never the whole string.
template <typename Sink>
bool for_each_ascii_slice(JNIEnv* env, jstring s, jsize length, Sink sink) noexcept {
    constexpr jsize kSlice = 2048;
    jchar units[kSlice];
    unsigned char bytes[kSlice];
    // The position is counted in 64 bits: stepping past a length near INT32_MAX must not wrap.
    for (std::int64_t start = 0; start < length; start += kSlice) {
        const jsize count = length - start < kSlice ? static_cast<jsize>(length - start) : kSlice;
        env->GetStringRegion(s, static_cast<jsize>(start), count, units);
        jchar any = 0;
        jchar zero = 0;
        for (jsize i = 0; i < count; ++i) {
            any |= units[i];
            zero |= static_cast<jchar>(units[i] == 0);
            bytes[i] = static_cast<unsigned char>(units[i]);
        }
        if ((any & 0xFF80) != 0 || zero != 0) return false;
        sink(static_cast<const unsigned char*>(bytes), static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace kiv::jni
