#pragma once
// The text paths that pay off on desktop VMs (HotSpot) only, where Java strings hold UTF-16 and
// NewStringUTF scans a text twice; bench/JNI_PATHS.md times them. Built only where such a VM can
// run: not in Android builds, where the library only ever runs on Android's runtime (ART keeps
// ASCII strings as bytes, and its own conversions of them win).

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "store/status.h"

namespace kiv::jni {

#if defined(__ANDROID__)
constexpr bool kHotSpotPaths = false;
#else
constexpr bool kHotSpotPaths = true;
#endif

namespace hotspot {

// False on Android's runtime run off Android (host ART), which reports JNI 1.6 from GetVersion
// where desktop VMs report their own, newer version.
bool vm_is_desktop(JNIEnv* env) noexcept;

// Saves a text of `length` characters, scrambled straight from its characters a slice at a time,
// sparing the VM's conversion of the whole text to modified UTF-8 (two passes over it and a copy
// as large as the text), and sets status to store::save_scrambled's answer (605 without memory).
// False, with nothing saved, as soon as a character turns out not to be ASCII.
bool save_ascii(JNIEnv* env, jstring content, jsize length, const char* path,
                store::Status& status) noexcept;

// From this size on, ASCII text goes to Java as a byte[] taken by String's (byte[] ascii,
// int hibyte, int offset, int count) constructor: on HotSpot about twice as fast as NewStringUTF,
// which scans and converts the text again. Below it the lookups cost more than they save.
constexpr std::size_t kByteArrayFrom = 4096;

// The Java string of n ASCII bytes at p, made that way, or null.
jstring new_ascii_string(JNIEnv* env, const char* p, std::size_t n) noexcept;

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

}  // namespace hotspot
}  // namespace kiv::jni
