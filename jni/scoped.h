#pragma once
// What the Java layer borrows from the VM, each held for one scope and given back on leaving it:
// a local reference, a string's modified UTF-8 bytes, a string's characters in a critical
// region. No JNI resource is paired by hand anywhere else.

#include <jni.h>

#include <cstddef>
#include <cstring>

namespace kiv::jni {

// Owns a local reference (which may be null) and deletes it on leaving the scope, so that a
// native call that makes references as it goes holds no more of them than it uses, whether the
// VM called it (and frees its references on return) or native code did, in a loop.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) noexcept : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    explicit operator bool() const noexcept { return ref_ != nullptr; }
    T get() const noexcept { return ref_; }

private:
    JNIEnv* env_;
    T ref_;
};

// Borrows the zero-terminated modified-UTF-8 bytes of a non-null Java string for one scope.
// When the VM cannot hand them out, get() is null and the exception it raised is cleared, so the
// caller may go on making JNI calls.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring s) noexcept
        : env_(env), string_(s), chars_(env->GetStringUTFChars(s, nullptr)) {
        if (chars_ == nullptr) {
            env->ExceptionClear();  // typically an OutOfMemoryError; no JNI call may follow it
            return;
        }
        size_ = std::strlen(chars_);  // modified UTF-8 has no zero byte; this is its length
    }
    ~StringChars() {
        if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
    }
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
    std::size_t size_ = 0;
};

// Holds the UTF-16 characters of a non-null Java string in a critical region for one scope
// (GetStringCritical): until the scope ends, no JNI call may be made and nothing may wait on
// another thread. When the VM cannot hand them out, get() is null and its exception is cleared.
class CriticalChars {
public:
    CriticalChars(JNIEnv* env, jstring s) noexcept
        : env_(env), string_(s), chars_(env->GetStringCritical(s, nullptr)) {
        if (chars_ == nullptr) env->ExceptionClear();
    }
    ~CriticalChars() {
        if (chars_ != nullptr) env_->ReleaseStringCritical(string_, chars_);
    }
    CriticalChars(const CriticalChars&) = delete;
    CriticalChars& operator=(const CriticalChars&) = delete;

    explicit operator bool() const noexcept { return chars_ != nullptr; }
    const char16_t* get() const noexcept { return reinterpret_cast<const char16_t*>(chars_); }

private:
    JNIEnv* env_;
    jstring string_;
    const jchar* chars_;
};

}  // namespace kiv::jni
