#include "jni/java_string.h"

#include "jni/utf.h"

#include <cstdint>
#include "sys/sys.h"

namespace kiv::jni {

bool is_empty(JNIEnv* env, jstring s) noexcept {
    return s == nullptr || env->GetStringUTFLength(s) == 0;
}

StringChars::StringChars(JNIEnv* env, jstring s) noexcept
    : env_(env), string_(s), chars_(env->GetStringUTFChars(s, nullptr)), size_(0) {
    if (chars_ == nullptr) {
        env->ExceptionClear();  // typically an OutOfMemoryError; no JNI call may follow it
        return;
    }
    size_ = static_cast<std::size_t>(env->GetStringUTFLength(s));
}

StringChars::~StringChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
}

jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    jstring s = nullptr;
    if (utf::is_modified_utf8(bytes, n)) {
        s = env->NewStringUTF(p);
    } else if (n <= static_cast<std::size_t>(INT32_MAX)) {
        sys::Buffer units(n * sizeof(char16_t));
        if (units) {
            auto* out = reinterpret_cast<char16_t*>(units.get());
            std::size_t count = utf::decode_utf8(bytes, n, out);
            s = env->NewString(reinterpret_cast<const jchar*>(out), static_cast<jsize>(count));
        }
    }
    if (s == nullptr) env->ExceptionClear();
    return s;
}

}  // namespace kiv::jni
