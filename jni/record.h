#pragma once
// The Java result record (com.zelk.kiv.jni.JniModel) the file operations report into.

#include <jni.h>

#include <cstddef>

#include "store/status.h"

namespace kiv::jni {

class Record {
public:
    // Finds the two fields of the record's class, anew on every call. False when the record is
    // null (nothing else is touched) or when a field cannot be found (the VM's exception is
    // then left pending, for the caller to see).
    static bool bind(JNIEnv* env, jobject record, Record& out) noexcept;

    // Sets `code`, then `msg` to the status's full message.
    void report(const store::Status& status) const noexcept;
    // Sets `code`, then `msg` to the Java string of the n bytes at text (text[n] is 0). False
    // when the VM could not make the string (msg is then null).
    bool report(int code, const char* text, std::size_t n) const noexcept;

private:
    JNIEnv* env_ = nullptr;
    jobject record_ = nullptr;
    jfieldID code_ = nullptr;
    jfieldID msg_ = nullptr;
};

}  // namespace kiv::jni
