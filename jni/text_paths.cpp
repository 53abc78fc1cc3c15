#include "jni/text_paths.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "codec/codec.h"
#include "jni/java_string.h"
#include "jni/scoped.h"
#include "store/store.h"
#include "sys/buffer.h"
#include "text/utf.h"

namespace kiv::jni {
namespace {

// From this length on, an ASCII text is scrambled straight from the string's characters, slice
// by slice, sparing the VM's conversion of the whole text to modified UTF-8 (two passes over it
// and a copy as large as the text).
constexpr jsize kAsciiFrom = 1024;

// From this size on, ASCII text goes to Java as a byte[] taken by String's (byte[] ascii,
// int hibyte, int offset, int count) constructor: on HotSpot about twice as fast as NewStringUTF,
// which scans and converts the text again. Below it the lookups cost more than they save. On ART
// (which turns the constructor into a StringFactory call and copies the array once more)
// NewStringUTF is faster at every size.
constexpr std::size_t kByteArrayFrom = 4096;

// Scrambles a text that arrives in consecutive slices, every one but the last of an even count,
// into the one buffer of its whole scrambled form (size bytes): each slice's halves go to their
// places in the whole's.
class SliceScrambler {
public:
    SliceScrambler(unsigned char* out, std::size_t size) noexcept
        : out_(out), front_(size - size / 2) {}
    void add(const unsigned char* bytes, std::size_t n) noexcept {
        codec::scramble_halves(bytes, n, out_ + done_ / 2, out_ + front_ + done_ / 2);
        done_ += n;
    }

private:
    unsigned char* out_;
    std::size_t front_;
    std::size_t done_ = 0;
};

// Scrambles a text of `length` ASCII characters into out (length bytes). False, with out
// half written, as soon as a character turns out not to be ASCII.
bool scramble_ascii(JNIEnv* env, jstring content, jsize length, unsigned char* out) {
    SliceScrambler scrambler(out, static_cast<std::size_t>(length));
    return for_each_ascii_slice(
        env, content, length,
        [&](const unsigned char* bytes, std::size_t n) { scrambler.add(bytes, n); });
}

// Saves a long text that holds no surrogate from its characters, encoded to modified UTF-8 and
// scrambled slice by slice into the one output buffer: the bytes GetStringUTFChars gives, without
// its passes over the text and its copy. False, with nothing done, for a text with a surrogate
// (where VMs differ in what they give: they keep the VM's own conversion) or when the VM cannot
// hand out the characters.
bool save_encoded(JNIEnv* env, jstring content, jsize length, const char* path,
                  store::Status& status) {
    const auto count = static_cast<std::size_t>(length);
    text::Utf16Size size{0, false};
    sys::Buffer scrambled;
    {
        CriticalChars chars(env, content);
        if (!chars) return false;
        // No JNI call, and nothing that waits, until the characters are released here.
        size = text::measure_utf16(chars.get(), count);
        if (size.surrogates) return false;
        scrambled = sys::Buffer(size.bytes);
        if (scrambled) {
            SliceScrambler scrambler(scrambled.get(), size.bytes);
            text::for_each_modified_utf8_slice(
                chars.get(), count,
                [&](const unsigned char* bytes, std::size_t n) { scrambler.add(bytes, n); });
        }
    }
    status = scrambled ? store::save_scrambled(path, scrambled.get(), size.bytes)
                       : store::Status(store::status::kWriteFailed, ENOMEM);
    return true;
}

jstring new_ascii_string(JNIEnv* env, const char* p, std::size_t n) {
    const auto len = static_cast<jsize>(n);
    LocalRef<jbyteArray> bytes(env, env->NewByteArray(len));
    if (!bytes) return nullptr;
    env->SetByteArrayRegion(bytes.get(), 0, len, reinterpret_cast<const jbyte*>(p));
    LocalRef<jclass> string_class(env, env->FindClass("java/lang/String"));
    if (!string_class) return nullptr;
    jmethodID ctor = env->GetMethodID(string_class.get(), "<init>", "([BIII)V");
    if (ctor == nullptr) return nullptr;
    return static_cast<jstring>(env->NewObject(string_class.get(), ctor, bytes.get(), 0, 0, len));
}

// Decodes n bytes (at most INT32_MAX) into UTF-16 and makes the string with NewString: one fast
// pass of ours instead of the VM's validation and conversion. A short text decodes on the stack.
jstring new_decoded_string(JNIEnv* env, const unsigned char* p, std::size_t n) {
    constexpr std::size_t kOnStack = 512;
    char16_t small[kOnStack];
    sys::Buffer large;
    char16_t* out = small;
    if (n > kOnStack) {
        large = sys::Buffer(n * sizeof(char16_t));
        if (!large) return nullptr;
        out = reinterpret_cast<char16_t*>(large.get());
    }
    const std::size_t count = text::decode_utf8(p, n, out);
    return env->NewString(reinterpret_cast<const jchar*>(out), static_cast<jsize>(count));
}

}  // namespace

store::Status save_text(JNIEnv* env, jstring content, const char* path) noexcept {
    const jsize length = env->GetStringLength(content);
    if (length >= kAsciiFrom) {
        // On ART the slices (which widen its bytes and narrow them again) lose to its own
        // conversion of a text that starts with ASCII, and the encoding only pays off for others.
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

jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    jstring s = nullptr;
    if (n > static_cast<std::size_t>(INT32_MAX)) {
        if (text::is_modified_utf8(bytes, n)) s = env->NewStringUTF(p);
    } else if (text::is_ascii(bytes, n)) {
        if (n >= kByteArrayFrom && !on_android_runtime(env)) {
            s = new_ascii_string(env, p, n);
        } else if (std::memchr(p, 0, n) == nullptr) {  // ASCII with no zero byte is modified UTF-8
            s = env->NewStringUTF(p);
        } else {
            s = new_decoded_string(env, bytes, n);
        }
    } else {
        s = new_decoded_string(env, bytes, n);
    }
    if (s == nullptr) env->ExceptionClear();
    return s;
}

}  // namespace kiv::jni
