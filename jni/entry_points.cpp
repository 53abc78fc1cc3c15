// The six native methods of com.zelk.kiv.jni.NativeLoader. The VM binds them by their exported
// names; the header javac generates (committed, and compared with javac's output by every build
// that has a JDK) makes any drift from the Java declarations a compile error. The receiver is
// never read, so the methods may be static or not on the Java side.

#include "jni/com_zelk_kiv_jni_NativeLoader.h"
#include "filestore/operations.h"
#include "identity/identity.h"

namespace {

constexpr char kDateStamp[] = "2019/11/15 17:38";

// The character code of each digit's partner: digit d maps to digit (d + 5) mod 10.
constexpr jint kDigits[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_zelk_kiv_jni_NativeLoader_test(JNIEnv* env, jclass) {
    jstring s = env->NewStringUTF(kDateStamp);
    if (s == nullptr) env->ExceptionClear();
    return s;
}

JNIEXPORT jint JNICALL Java_com_zelk_kiv_jni_NativeLoader_encodeKeyValue(JNIEnv*, jclass,
                                                                         jint digit) {
    if (digit < 0 || digit > 9) return -1;
    return digit < 5 ? kDigits[digit] + 5 : kDigits[digit] - 5;
}

JNIEXPORT jstring JNICALL Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification(JNIEnv* env,
                                                                                     jclass,
                                                                                     jstring tag,
                                                                                     jstring path) {
    return kiv::identity::device_identification(env, tag, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_writeFile(JNIEnv* env, jclass,
                                                                       jobject record,
                                                                       jstring content,
                                                                       jstring path) {
    return kiv::store::write_file(env, record, content, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_readFile(JNIEnv* env, jclass,
                                                                      jobject record,
                                                                      jstring path) {
    return kiv::store::read_file(env, record, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_queryFile(JNIEnv* env, jclass,
                                                                       jobject record,
                                                                       jstring path) {
    return kiv::store::query_file(env, record, path);
}

}  // extern "C"
