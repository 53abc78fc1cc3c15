// The six native methods of com.zelk.kiv.jni.NativeLoader, and everything they do on the Java
// side of the line: taking their arguments, calling the store or the identity, and reporting
// into the caller's JniModel record. The VM binds them by their exported names; the header javac
// generates (committed, and compared with javac's output by every build that has a JDK) makes
// any drift from the Java declarations a compile error. The receiver is never read, so the
// methods may be static or not on the Java side.

#include <cerrno>

#include "codec/codec.h"
#include "identity/identity.h"
#include "jni/com_zelk_kiv_jni_NativeLoader.h"
#include "jni/java_string.h"
#include "jni/record.h"
#include "store/store.h"
#include "sys/sys.h"
#include "text/utf.h"

namespace kiv::jni {
namespace {

constexpr char kDateStamp[] = "2019/11/15 17:38";

// The character code of each digit's partner: digit d maps to digit (d + 5) mod 10.
constexpr jint kDigits[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};

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

// From this length on, an ASCII text is scrambled straight from the string's characters, slice
// by slice, sparing the VM's conversion of the whole text to modified UTF-8 (two passes over it
// and a copy as large as the text).
constexpr jsize kAsciiFrom = 1024;

// Scrambles a text of `length` ASCII characters into out (length bytes). False, with out
// half written, as soon as a character turns out not to be ASCII.
bool scramble_ascii(JNIEnv* env, jstring content, jsize length, unsigned char* out) {
    const std::size_t front =
        static_cast<std::size_t>(length) - static_cast<std::size_t>(length) / 2;
    std::size_t done = 0;  // even at every slice but the last
    return for_each_ascii_slice(
        env, content, length, [&](const unsigned char* bytes, std::size_t count) {
            codec::scramble_halves(bytes, count, out + done / 2, out + front + done / 2);
            done += count;
        });
}

// Saves a long text that holds no surrogate from its characters, encoded to modified UTF-8 and
// scrambled slice by slice into the one output buffer: the bytes GetStringUTFChars gives, without
// its passes over the text and its copy. False, with nothing done, for a text with a surrogate
// (where VMs differ in what they give: they keep the VM's own conversion) or when the VM cannot
// hand out the characters.
bool save_encoded(JNIEnv* env, jstring content, jsize length, const char* path,
                  store::Status& status) {
    const jchar* chars = env->GetStringCritical(content, nullptr);
    if (chars == nullptr) {
        env->ExceptionClear();
        return false;
    }
    // No JNI call until the characters are released.
    const auto* units = reinterpret_cast<const char16_t*>(chars);
    const auto count = static_cast<std::size_t>(length);
    const text::Utf16Size size = text::measure_utf16(units, count);
    sys::Buffer scrambled;
    if (!size.surrogates) {
        scrambled = sys::Buffer(size.bytes);
        if (scrambled) {
            unsigned char* out = scrambled.get();
            const std::size_t front = size.bytes - size.bytes / 2;
            std::size_t done = 0;  // even at every slice but the last
            text::for_each_modified_utf8_slice(
                units, count, [&](const unsigned char* bytes, std::size_t n) {
                    codec::scramble_halves(bytes, n, out + done / 2, out + front + done / 2);
                    done += n;
                });
        }
    }
    env->ReleaseStringCritical(content, chars);
    if (size.surrogates) return false;
    status = scrambled ? store::save_scrambled(path, scrambled.get(), size.bytes)
                       : store::Status(store::status::kWriteFailed, ENOMEM);
    return true;
}

// Saves a non-empty text: a long ASCII one scrambled straight from its characters, a long one
// without surrogates encoded from them, any other from the VM's modified UTF-8 bytes. On
// Android's runtime, which keeps ASCII strings as bytes, its own conversion of a long text that
// starts with ASCII is faster than the slices (which widen the bytes and narrow them again), and
// the encoding only pays off for the others (bench/JNI_PATHS.md).
store::Status save_content(JNIEnv* env, jstring content, const char* path) {
    const jsize length = env->GetStringLength(content);
    if (length >= kAsciiFrom) {
        const bool art = on_android_runtime(env);
        if (!art) {
            const auto n = static_cast<std::size_t>(length);
            sys::Buffer scrambled(n);
            if (!scrambled) return store::Status(store::status::kWriteFailed, ENOMEM);
            if (scramble_ascii(env, content, length, scrambled.get())) {
                return store::save_scrambled(path, scrambled.get(), n);
            }
        }  // not ASCII after all: the buffer is freed before the next one is made
        store::Status status(store::status::kWriteFailed);
        if ((!art || !starts_ascii(env, content, length)) &&
            save_encoded(env, content, length, path, status)) {
            return status;
        }
    }
    StringChars text(env, content);
    if (!text) return store::Status(store::status::kContentConversion);
    return store::save(path, text.bytes(), text.size());
}

jobject write_file(JNIEnv* env, jobject record, jstring content, jstring path) {
    return with_record_and_path(
        env, record, path, kSavePath, [&](const Record& rec, const char* file) {
            rec.report(is_empty(env, content) ? store::remove(file)
                                              : save_content(env, content, file));
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
    if (digit < 0 || digit > 9) return -1;
    return digit < 5 ? kiv::jni::kDigits[digit] + 5 : kiv::jni::kDigits[digit] - 5;
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
