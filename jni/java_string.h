#pragma once
// How the library takes strings from Java and gives text back.

#include <jni.h>

#include <cstddef>
#include <cstdint>

namespace kiv::jni {

// A String argument is empty when it is null or its modified-UTF-8 length is 0; both cases are
// always treated alike.
bool is_empty(JNIEnv* env, jstring s) noexcept;

// Borrows the zero-terminated modified-UTF-8 bytes of a non-null Java string for one scope.
// When the VM cannot hand them out, get() is null and the exception it raised is cleared, so the
// caller may go on making JNI calls.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring s) noexcept;
    ~StringChars();
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;

    explicit operator bool() const noexcept { return chars_ != nullptr; }
    const char* get() const noexcept { return chars_; }
    const unsigned char* bytes() const noexcept {
        return reinterpret_cast<const unsigned char*>(chars_);
    }
    std::size_t size() const noexcept { return size_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
    std::size_t size_;
};

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

// Makes a Java string of the n bytes at p, where p[n] is 0. Large ASCII text goes through a
// byte[] (except on Android's runtime, where NewStringUTF is faster), other ASCII text without
// zero bytes to NewStringUTF unchanged; anything else (other
// modified UTF-8, standard four-byte UTF-8, stray bytes, zero bytes) is decoded as UTF-8 with
// U+FFFD for each invalid byte and made with NewString, which gives the units NewStringUTF
// would for valid modified UTF-8. Needs at most 2n bytes besides the text. Returns null, with no
// exception left pending, when the VM or the heap runs out of memory.
jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept;

}  // namespace kiv::jni
