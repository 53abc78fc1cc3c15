// Shows that the sanitizer lane's leak suppressions (lsan.supp) hide only the JVM's own
// allocations. A VM is started as the JVM tests start it, libkiv-native-lib.so is loaded and
// called, and then a native method called from Java leaks one 4096-byte block. Run through
// run-leak-check.cmake, which expects LeakSanitizer to report exactly that block and nothing else.

#include <jni.h>

#include <cstdio>
#include <string>

namespace {

void* volatile g_block = nullptr;

// The native method itself allocates, so its frame is the one right above operator new[]: the
// closest a leak of ours can be to the JVM's frames (the native-method wrapper and the call stub,
// then libjvm.so at frame 4). Not inlined, so the report names it.
extern "C" __attribute__((noinline)) void JNICALL kiv_leak_on_purpose(JNIEnv*, jclass) {
    g_block = new char[4096];
    g_block = nullptr;
}

bool failed(JNIEnv* env, const char* what) {
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    std::fprintf(stderr, "leak check: %s\n", what);
    return true;
}

}  // namespace

int main() {
    std::string cp = std::string("-Djava.class.path=") + KIV_LEAK_CHECK_CLASSPATH;
    std::string lib = std::string("-Djava.library.path=") + KIV_LEAK_CHECK_LIBRARY_DIR;
    JavaVMOption options[] = {
        {const_cast<char*>(cp.c_str()), nullptr},
        {const_cast<char*>(lib.c_str()), nullptr},
        {const_cast<char*>("-Xcheck:jni"), nullptr},
        {const_cast<char*>("-Xss4m"), nullptr},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = sizeof options / sizeof options[0];
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
        std::fprintf(stderr, "leak check: no VM\n");
        return 2;
    }

    // The library, loaded by the VM and called once, as in the JVM tests.
    jclass loader = env->FindClass("com/zelk/kiv/jni/NativeLoader");
    if (loader == nullptr) return failed(env, "NativeLoader not found") ? 2 : 0;
    jmethodID test = env->GetStaticMethodID(loader, "test", "()Ljava/lang/String;");
    if (test == nullptr) return failed(env, "NativeLoader.test not found") ? 2 : 0;
    jobject stamp = env->CallStaticObjectMethod(loader, test);
    if (env->ExceptionCheck() || stamp == nullptr)
        return failed(env, "NativeLoader.test gave null") ? 2 : 0;

    // The deliberate leak, in a native method the VM calls.
    jclass probe = env->FindClass("LeakProbe");
    if (probe == nullptr) return failed(env, "LeakProbe not found") ? 2 : 0;
    JNINativeMethod method{const_cast<char*>("leak"), const_cast<char*>("()V"),
                           reinterpret_cast<void*>(&kiv_leak_on_purpose)};
    if (env->RegisterNatives(probe, &method, 1) != JNI_OK)
        return failed(env, "RegisterNatives") ? 2 : 0;
    env->CallStaticVoidMethod(probe, env->GetStaticMethodID(probe, "leak", "()V"));
    if (env->ExceptionCheck()) return failed(env, "LeakProbe.leak threw") ? 2 : 0;

    std::puts("leak check: VM up, library called, one block leaked; LeakSanitizer reports at exit");
    return 0;
}
