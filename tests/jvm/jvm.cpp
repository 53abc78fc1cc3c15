#include "tests/jvm/jvm.h"

#include <sys/fsuid.h>
#include <unistd.h>

#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include "tests/jvm/vm.h"

namespace kiv::test {

namespace {

JavaVM* g_vm = nullptr;

class JvmEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        JNIEnv* e = nullptr;
        std::string error;
        ASSERT_TRUE(start_vm(true, &g_vm, &e, &error)) << error;
    }
    // The VM stays up until the process exits: a VM cannot be created again once destroyed,
    // and DestroyJavaVM would wait for every attached thread.
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new JvmEnvironment);

jclass loader_class(JNIEnv* e) {
    jclass cls = e->FindClass("com/zelk/kiv/jni/NativeLoader");
    if (cls == nullptr) {
        e->ExceptionDescribe();
        ADD_FAILURE() << "NativeLoader not found";
    }
    return cls;
}

jstring opt_str(const std::optional<std::string>& s) { return s ? jstr(*s) : nullptr; }

}  // namespace

JNIEnv* env() {
    JNIEnv* e = nullptr;
    if (g_vm->GetEnv(reinterpret_cast<void**>(&e), JNI_VERSION_1_6) == JNI_EDETACHED) {
        g_vm->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr);
    }
    return e;
}

void JvmTest::SetUp() { ASSERT_EQ(env()->PushLocalFrame(256), 0); }

void JvmTest::TearDown() {
    JNIEnv* e = env();
    if (e->ExceptionCheck()) {
        e->ExceptionDescribe();
        ADD_FAILURE() << "a Java exception was left pending";
    }
    e->PopLocalFrame(nullptr);
}

void on_threads(int n, const std::function<void(int)>& fn) {
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&fn, i] {
            JNIEnv* e = env();
            e->PushLocalFrame(64);
            fn(i);
            e->PopLocalFrame(nullptr);
            g_vm->DetachCurrentThread();
        });
    }
    for (auto& t : threads) t.join();
}

bool as_unprivileged_user(const std::function<void()>& fn) {
    if (geteuid() != 0) return false;
    setfsuid(65534);
    setfsgid(65534);
    fn();
    setfsgid(0);
    setfsuid(0);
    return true;
}

jstring jstr(const std::string& s) { return env()->NewStringUTF(s.c_str()); }

jstring jstr(const std::u16string& units) {
    return env()->NewString(reinterpret_cast<const jchar*>(units.data()),
                            static_cast<jsize>(units.size()));
}

std::string utf8_of(jstring s) {
    JNIEnv* e = env();
    const char* chars = e->GetStringUTFChars(s, nullptr);
    std::string out(chars, static_cast<std::size_t>(e->GetStringUTFLength(s)));
    e->ReleaseStringUTFChars(s, chars);
    return out;
}

std::u16string units_of(jstring s) {
    JNIEnv* e = env();
    std::u16string out(static_cast<std::size_t>(e->GetStringLength(s)), u'\0');
    e->GetStringRegion(s, 0, static_cast<jsize>(out.size()), reinterpret_cast<jchar*>(&out[0]));
    return out;
}

jobject new_record() {
    JNIEnv* e = env();
    jclass cls = e->FindClass("com/zelk/kiv/jni/JniModel");
    jobject r = e->NewObject(cls, e->GetMethodID(cls, "<init>", "()V"));
    e->DeleteLocalRef(cls);
    return r;
}

Report report_of(jobject record) {
    JNIEnv* e = env();
    jclass cls = e->FindClass("com/zelk/kiv/jni/JniModel");
    Report r;
    r.code = e->GetIntField(record, e->GetFieldID(cls, "code", "I"));
    auto msg = static_cast<jstring>(
        e->GetObjectField(record, e->GetFieldID(cls, "msg", "Ljava/lang/String;")));
    if (msg != nullptr) r.msg = utf8_of(msg);
    e->DeleteLocalRef(msg);
    e->DeleteLocalRef(cls);
    return r;
}

jobject call_object(const char* name, const char* sig, ...) {
    JNIEnv* e = env();
    jclass cls = loader_class(e);
    jmethodID m = e->GetStaticMethodID(cls, name, sig);
    va_list args;
    va_start(args, sig);
    jobject result = e->CallStaticObjectMethodV(cls, m, args);
    va_end(args);
    if (e->ExceptionCheck()) {
        e->ExceptionDescribe();
        e->ExceptionClear();
        ADD_FAILURE() << name << " threw";
    }
    e->DeleteLocalRef(cls);
    return result;
}

namespace {

constexpr char kWriteSig[] =
    "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;";
constexpr char kReadSig[] =
    "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;";

struct LocalFrame {
    LocalFrame() { env()->PushLocalFrame(16); }
    ~LocalFrame() { env()->PopLocalFrame(nullptr); }
};

Report returned_report(const char* name, jobject record, jobject returned) {
    EXPECT_TRUE(env()->IsSameObject(returned, record))
        << name << " must return the record passed in";
    return report_of(record);
}

}  // namespace

Report write_file(const std::optional<std::string>& content,
                  const std::optional<std::string>& path) {
    LocalFrame frame;
    jobject record = new_record();
    return returned_report(
        "writeFile", record,
        call_object("writeFile", kWriteSig, record, opt_str(content), opt_str(path)));
}

Report read_file(const std::optional<std::string>& path) {
    LocalFrame frame;
    jobject record = new_record();
    return returned_report("readFile", record,
                           call_object("readFile", kReadSig, record, opt_str(path)));
}

Report query_file(const std::optional<std::string>& path) {
    LocalFrame frame;
    jobject record = new_record();
    return returned_report("queryFile", record,
                           call_object("queryFile", kReadSig, record, opt_str(path)));
}

std::optional<std::string> identity(const std::optional<std::string>& tag,
                                    const std::optional<std::string>& path) {
    LocalFrame frame;
    auto s = static_cast<jstring>(call_object(
        "getDeviceIdentification", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
        opt_str(tag), opt_str(path)));
    std::optional<std::string> out;
    if (s != nullptr) out = utf8_of(s);
    return out;
}

}  // namespace kiv::test
