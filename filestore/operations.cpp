#include "filestore/operations.h"

#include <cerrno>

#include "codec/codec.h"
#include "filestore/record.h"
#include "filestore/store.h"
#include "jni/java_string.h"
#include "sys/sys.h"

namespace kiv::store {

namespace {

// Runs op(path bytes) once the record is bound and the path accepted: an empty path reports
// `empty_code`, a path whose bytes the VM cannot hand out reports `empty_code + 1`.
template <typename Op>
jobject with_record_and_path(JNIEnv* env, jobject record, jstring path, int empty_code, Op op) {
    Record rec;
    if (!Record::bind(env, record, rec)) return record;
    if (jni::is_empty(env, path)) {
        rec.report({empty_code, msg::kPathEmpty});
        return record;
    }
    jni::StringChars chars(env, path);
    if (!chars) {
        rec.report({empty_code + 1, msg::kPathConversion});
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
    return jni::for_each_ascii_slice(
        env, content, length, [&](const unsigned char* bytes, std::size_t count) {
            scramble_halves(bytes, count, out + done / 2, out + front + done / 2);
            done += count;
        });
}

// The content scrambled into one new buffer of n bytes; false, with the status to report,
// when the VM cannot hand out its bytes (605) or the buffer cannot be had (607, ENOMEM).
bool scramble_content(JNIEnv* env, jstring content, sys::Buffer& out, std::size_t& n,
                      Status& failure) {
    const Status no_memory{607, msg::kWriteFailed, ENOMEM};
    const jsize length = env->GetStringLength(content);
    if (length >= kAsciiFrom) {
        n = static_cast<std::size_t>(length);
        out = sys::Buffer(n);
        if (!out) {
            failure = no_memory;
            return false;
        }
        if (scramble_ascii(env, content, length, out.get())) return true;
        out = sys::Buffer();  // not ASCII after all: free it before the VM makes its copy
    }
    jni::StringChars text(env, content);
    if (!text) {
        failure = {605, msg::kContentConversion};
        return false;
    }
    n = text.size();
    out = sys::Buffer(n);
    if (!out) {
        failure = no_memory;
        return false;
    }
    scramble(text.bytes(), n, out.get());
    return true;
}

}  // namespace

jobject write_file(JNIEnv* env, jobject record, jstring content, jstring path) noexcept {
    return with_record_and_path(env, record, path, 601, [&](const Record& rec, const char* file) {
        if (jni::is_empty(env, content)) {
            rec.report(remove_file(file));
            return;
        }
        sys::Buffer scrambled;
        std::size_t n = 0;
        Status failure{};
        if (!scramble_content(env, content, scrambled, n, failure)) {
            rec.report(failure);
            return;
        }
        rec.report(save(file, scrambled.get(), n));
    });
}

jobject read_file(JNIEnv* env, jobject record, jstring path) noexcept {
    return with_record_and_path(env, record, path, 701, [&](const Record& rec, const char* file) {
        sys::Buffer text;
        std::size_t n = 0;
        Status status = store::read_file(file, text, n);
        if (status.code != kOk) {
            rec.report(status);
        } else if (!rec.report(kOk, text.chars(), n)) {
            rec.report({704, msg::kReadFailed, ENOMEM});  // the text does not fit the VM's heap
        }
    });
}

jobject query_file(JNIEnv* env, jobject record, jstring path) noexcept {
    return with_record_and_path(env, record, path, 801, [&](const Record& rec, const char* file) {
        rec.report(store::query_file(file));
    });
}

}  // namespace kiv::store
