#include "jni/record.h"

#include "jni/scoped.h"
#include "jni/text_paths.h"

namespace kiv::jni {

bool Record::bind(JNIEnv* env, jobject record, Record& out) noexcept {
    if (record == nullptr) return false;
    // The record's own class, whichever class loader it came from: cheaper than a lookup by
    // name, and the field IDs always belong to the class of the object they are used on.
    LocalRef<jclass> cls(env, env->GetObjectClass(record));
    jfieldID code = env->GetFieldID(cls.get(), "code", "I");
    jfieldID msg =
        code == nullptr ? nullptr : env->GetFieldID(cls.get(), "msg", "Ljava/lang/String;");
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
    LocalRef<jstring> s(env_, new_string(env_, text, n));
    env_->SetObjectField(record_, msg_, s.get());
    return static_cast<bool>(s);
}

}  // namespace kiv::jni
