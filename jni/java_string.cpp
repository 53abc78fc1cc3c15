#include "jni/java_string.h"

#include <cstdint>
#include <cstring>

#include "sys/sys.h"
#include "text/utf.h"

namespace kiv::jni {

bool is_empty(JNIEnv* env, jstring s) noexcept {
    // No characters means no modified-UTF-8 bytes; the length in characters needs no scan.
    return s == nullptr || env->GetStringLength(s) == 0;
}

bool on_android_runtime(JNIEnv* env) noexcept {
#if defined(__ANDROID__)
    // Built for Android, the library only ever runs on its runtime, whatever version it reports.
    (void)env;
    return true;
#else
    return env->GetVersion() <= JNI_VERSION_1_6;
#endif
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

StringChars::StringChars(JNIEnv* env, jstring s) noexcept
    : env_(env), string_(s), chars_(env->GetStringUTFChars(s, nullptr)), size_(0) {
    if (chars_ == nullptr) {
        env->ExceptionClear();  // typically an OutOfMemoryError; no JNI call may follow it
        return;
    }
    size_ = std::strlen(chars_);  // modified UTF-8 has no zero byte; this is its length
}

StringChars::~StringChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
}

namespace {

// From this size on, ASCII text goes to Java as a byte[] taken by String's (byte[] ascii,
// int hibyte, int offset, int count) constructor: on HotSpot about twice as fast as NewStringUTF,
// which scans and converts the text again. Below it the lookups cost more than they save. On ART
// (which turns the constructor into a StringFactory call and copies the array once more)
// NewStringUTF is faster at every size (bench/JNI_PATHS.md).
constexpr std::size_t kByteArrayFrom = 4096;

jstring new_ascii_string(JNIEnv* env, const char* p, std::size_t n) {
    const auto len = static_cast<jsize>(n);
    jbyteArray bytes = env->NewByteArray(len);
    if (bytes == nullptr) return nullptr;
    env->SetByteArrayRegion(bytes, 0, len, reinterpret_cast<const jbyte*>(p));
    jclass string_class = env->FindClass("java/lang/String");
    if (string_class == nullptr) return nullptr;
    jmethodID ctor = env->GetMethodID(string_class, "<init>", "([BIII)V");
    if (ctor == nullptr) return nullptr;
    return static_cast<jstring>(env->NewObject(string_class, ctor, bytes, 0, 0, len));
}

// Decodes n bytes (at most INT32_MAX) into UTF-16 and makes the string with NewString: one fast
// pass of ours instead of the VM's validation and conversion. A short text decodes on the stack.
jstring new_decoded_string(JNIEnv* env, const unsigned char* p, std::size_t n) {
    constexpr std::size_t kOnStack = 512;
    char16_t small[kOnStack];
    sys::Buffer large;
    char16_t* out = small;
    if (n > kOnStack) {
        large = sys::Buffer(n * sizeof(char16_t));
        if (!large) return nullptr;
        out = reinterpret_cast<char16_t*>(large.get());
    }
    const std::size_t count = text::decode_utf8(p, n, out);
    return env->NewString(reinterpret_cast<const jchar*>(out), static_cast<jsize>(count));
}

}  // namespace

jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    jstring s = nullptr;
    if (n > static_cast<std::size_t>(INT32_MAX)) {
        if (text::is_modified_utf8(bytes, n)) s = env->NewStringUTF(p);
    } else if (text::is_ascii(bytes, n)) {
        if (n >= kByteArrayFrom && !on_android_runtime(env)) {
            s = new_ascii_string(env, p, n);
        } else if (std::memchr(p, 0, n) == nullptr) {  // ASCII with no zero byte is modified UTF-8
            s = env->NewStringUTF(p);
        } else {
            s = new_decoded_string(env, bytes, n);
        }
    } else {
        s = new_decoded_string(env, bytes, n);
    }
    if (s == nullptr) env->ExceptionClear();
    return s;
}

}  // namespace kiv::jni
