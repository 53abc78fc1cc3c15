// The six native methods of com.zelk.kiv.jni.NativeLoader, and nothing but their glue: taking
// the arguments, calling the core (the store, the identity, and text_paths.h for the way a text
// takes) and reporting into the caller's JniModel record. The VM binds them by their exported
// names; the header javac generates (committed, and compared with javac's output by every build
// that has a JDK) makes any drift from the Java declarations a compile error. The receiver is
// never read, so the methods may be static or not on the Java side.

#include <cerrno>

#include "identity/identity.h"
#include "jni/com_zelk_kiv_jni_NativeLoader.h"
#include "jni/java_string.h"
#include "jni/record.h"
#include "jni/scoped.h"
#include "jni/text_paths.h"
#include "store/store.h"
#include "sys/buffer.h"

namespace kiv::jni {
namespace {

constexpr char kDateStamp[] = "2019/11/15 17:38";

// encodeKeyValue's answer for each digit d: the character code of its partner, the digit
// (d + 5) mod 10.
constexpr jint kPartners[10] = {'5', '6', '7', '8', '9', '0', '1', '2', '3', '4'};

// The path arguments' statuses of one operation.
struct PathStatuses {
    const store::StatusKind& empty;
    const store::StatusKind& conversion;
};
constexpr PathStatuses kSavePath{store::status::kSavePathEmpty, store::status::kSavePathConversion};
constexpr PathStatuses kReadPath{store::status::kReadPathEmpty, store::status::kReadPathConversion};
constexpr PathStatuses kQueryPath{store::status::kQueryPathEmpty,
                                  store::status::kQueryPathConversion};

// Runs op(record, path bytes) once the record is bound and the path accepted, reporting an
// empty path or one whose bytes the VM cannot hand out with the operation's own statuses.
template <typename Op>
jobject with_record_and_path(JNIEnv* env, jobject record, jstring path, const PathStatuses& st,
                             Op op) {
    Record rec;
    if (!Record::bind(env, record, rec)) return record;
    if (is_empty(env, path)) {
        rec.report(st.empty);
        return record;
    }
    StringChars chars(env, path);
    if (!chars) {
        rec.report(st.conversion);
        return record;
    }
    op(rec, chars.get());
    return record;
}

jobject write_file(JNIEnv* env, jobject record, jstring content, jstring path) {
    return with_record_and_path(
        env, record, path, kSavePath, [&](const Record& rec, const char* file) {
            rec.report(is_empty(env, content) ? store::remove(file)
                                              : save_text(env, content, file));
        });
}

jobject read_file(JNIEnv* env, jobject record, jstring path) {
    return with_record_and_path(
        env, record, path, kReadPath, [&](const Record& rec, const char* file) {
            sys::Buffer text;
            std::size_t n = 0;
            store::Status status = store::read(file, text, n);
            if (status.code != store::kOk) {
                rec.report(status);
            } else if (!rec.report(store::kOk, text.chars(), n)) {
                // The text does not fit the VM's heap.
                rec.report(store::Status(store::status::kReadFailed, ENOMEM));
            }
        });
}

jobject query_file(JNIEnv* env, jobject record, jstring path) {
    return with_record_and_path(
        env, record, path, kQueryPath,
        [&](const Record& rec, const char* file) { rec.report(store::query(file)); });
}

jstring device_identification(JNIEnv* env, jstring tag, jstring path) {
    if (is_empty(env, path)) return nullptr;
    StringChars path_chars(env, path);
    if (!path_chars || is_empty(env, tag)) return nullptr;
    StringChars tag_chars(env, tag);
    if (!tag_chars) return nullptr;

    sys::Buffer scrambled;
    std::size_t n = 0;
    if (!identity::get_or_make(path_chars.get(), tag_chars.bytes(), tag_chars.size(), scrambled,
                               n)) {
        return nullptr;
    }
    return new_string(env, scrambled.chars(), n);
}

}  // namespace
}  // namespace kiv::jni

extern "C" {

JNIEXPORT jstring JNICALL Java_com_zelk_kiv_jni_NativeLoader_test(JNIEnv* env, jclass) {
    jstring s = env->NewStringUTF(kiv::jni::kDateStamp);
    if (s == nullptr) env->ExceptionClear();
    return s;
}

JNIEXPORT jint JNICALL Java_com_zelk_kiv_jni_NativeLoader_encodeKeyValue(JNIEnv*, jclass,
                                                                         jint digit) {
    return digit < 0 || digit > 9 ? -1 : kiv::jni::kPartners[digit];
}

JNIEXPORT jstring JNICALL Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification(JNIEnv* env,
                                                                                     jclass,
                                                                                     jstring tag,
                                                                                     jstring path) {
    return kiv::jni::device_identification(env, tag, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_writeFile(JNIEnv* env, jclass,
                                                                       jobject record,
                                                                       jstring content,
                                                                       jstring path) {
    return kiv::jni::write_file(env, record, content, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_readFile(JNIEnv* env, jclass,
                                                                      jobject record,
                                                                      jstring path) {
    return kiv::jni::read_file(env, record, path);
}

JNIEXPORT jobject JNICALL Java_com_zelk_kiv_jni_NativeLoader_queryFile(JNIEnv* env, jclass,
                                                                       jobject record,
                                                                       jstring path) {
    return kiv::jni::query_file(env, record, path);
}

}  // extern "C"
