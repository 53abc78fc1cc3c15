#include "tests/jvm/vm.h"

#include <vector>

#ifdef KIV_ART_BOOT_CLASSPATH
// ART's own loader: a member of the JavaVMExt that JNI_CreateJavaVM hands out as its JavaVM,
// declared here as ART exports it. ART's jni.h calls the JNIEnv struct _JNIEnv (the JDK's, used
// here, JNIEnv_); the layout is the same.
struct _JNIEnv;
namespace art {
class JavaVMExt {
public:
    bool LoadNativeLibrary(_JNIEnv* env, const std::string& path, jobject class_loader,
                           jclass caller_class, std::string* error_msg);
};
}  // namespace art
#endif

namespace kiv::test {

namespace {

std::vector<std::string> vm_options(bool check_jni) {
    std::vector<std::string> options;
#ifdef KIV_ART_BOOT_CLASSPATH
    const std::string boot = KIV_ART_BOOT_CLASSPATH;
    const std::string dir = boot.substr(0, boot.find_last_of('/', boot.find(':')) + 1);
    options = {
        "-Xbootclasspath:" + boot,
        "-Xbootclasspath-locations:" + boot,
        "-Ximage:" + dir + "no-such-boot.art",  // ART then starts without a boot image
        "-Xnoimage-dex2oat",
        "-Xusejit:false",
        "-Xint",
        "-Xms16m",
        "-Xmx512m",
    };
#else
#ifdef KIV_TEST_CLASSPATH
    options.push_back(std::string("-Djava.class.path=") + KIV_TEST_CLASSPATH);
#endif
#ifdef KIV_TEST_LIBRARY_DIR
    options.push_back(std::string("-Djava.library.path=") + KIV_TEST_LIBRARY_DIR);
#endif
    options.push_back("-Xss4m");
#endif
    if (check_jni) options.push_back("-Xcheck:jni");
    return options;
}

}  // namespace

bool start_vm(bool check_jni, JavaVM** vm, JNIEnv** env, std::string* error) {
    const std::vector<std::string> strings = vm_options(check_jni);
    std::vector<JavaVMOption> options;
    for (const std::string& s : strings) options.push_back({const_cast<char*>(s.c_str()), nullptr});
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_6;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_FALSE;
    if (JNI_CreateJavaVM(vm, reinterpret_cast<void**>(env), &args) != JNI_OK) {
        *error = "JNI_CreateJavaVM failed";
        return false;
    }
#if defined(KIV_ART_BOOT_CLASSPATH) && defined(KIV_TEST_LIBRARY)
    JNIEnv* e = *env;
    jclass cls = e->FindClass("com/zelk/kiv/jni/NativeLoader");
    if (cls == nullptr) {
        e->ExceptionClear();
        *error = "NativeLoader is not on the boot classpath";
        return false;
    }
    std::string why;
    const bool loaded = reinterpret_cast<art::JavaVMExt*>(*vm)->LoadNativeLibrary(
        reinterpret_cast<_JNIEnv*>(e), KIV_TEST_LIBRARY, nullptr, cls, &why);
    e->DeleteLocalRef(cls);
    if (!loaded) {
        *error = std::string("ART could not load ") + KIV_TEST_LIBRARY + ": " + why;
        return false;
    }
#endif
    return true;
}

}  // namespace kiv::test
