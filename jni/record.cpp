#include "jni/record.h"

#include "jni/java_string.h"

namespace kiv::jni {

bool Record::bind(JNIEnv* env, jobject record, Record& out) noexcept {
    if (record == nullptr) return false;
    jclass cls = env->FindClass("com/zelk/kiv/jni/JniModel");
    if (cls == nullptr) return false;
    jfieldID code = env->GetFieldID(cls, "code", "I");
    if (code == nullptr) return false;
    jfieldID msg = env->GetFieldID(cls, "msg", "Ljava/lang/String;");
    if (msg == nullptr) return false;
    out = Record();
    out.env_ = env;
    out.record_ = record;
    out.code_ = code;
    out.msg_ = msg;
    return true;
}

void Record::report(const store::Status& status) const noexcept {
    char text[store::kMaxMessage];
    std::size_t n = store::format_message(status, text, sizeof text);
    report(status.code, text, n);
}

bool Record::report(int code, const char* text, std::size_t n) const noexcept {
    env_->SetIntField(record_, code_, code);
    jstring s = new_string(env_, text, n);
    env_->SetObjectField(record_, msg_, s);
    return s != nullptr;
}

}  // namespace kiv::jni
