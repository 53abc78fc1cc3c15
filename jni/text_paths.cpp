#include "jni/text_paths.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "codec/codec.h"
#include "jni/hotspot_paths.h"
#include "jni/scoped.h"
#include "store/store.h"
#include "sys/buffer.h"
#include "text/utf.h"

namespace kiv::jni {
namespace {

// From this length on, a text may take a faster way than the VM's own modified UTF-8 bytes.
constexpr jsize kLongFrom = 1024;

// Saves a long text from its characters, encoded and scrambled slice by slice into the one
// output buffer: the bytes GetStringUTFChars gives, without its passes over the text and its
// copy. VMs differ on surrogate pairs, so `pairs` says what this one writes, if the library
// writes it too: each unit on its own (HotSpot), or joined into four bytes (ART). False, with
// nothing done, for a text with a surrogate when it is not known, and when the VM cannot hand
// out the characters.
bool save_encoded(JNIEnv* env, jstring content, jsize length, const char* path,
                  std::optional<text::Pairs> pairs, store::Status& status) {
    const auto count = static_cast<std::size_t>(length);
    std::size_t size = 0;
    sys::Buffer scrambled;
    {
        CriticalChars chars(env, content);
        if (!chars) return false;
        // No JNI call, and nothing that waits, until the characters are released here.
        const text::Utf16Size measured = text::measure_utf16(chars.get(), count);
        size = measured.bytes;
        if (measured.surrogates() && !pairs) return false;
        const bool joined = measured.surrogates() && *pairs == text::Pairs::joined;
        text::PairList found;
        if (joined) {
            found = text::find_pairs(chars.get(), count, measured.surrogate_chunks);
            size -= 2 * found.count;
        }
        scrambled = sys::Buffer(size);
        if (scrambled) {
            codec::SliceScrambler scrambler(scrambled.get(), size);
            text::for_each_modified_utf8_slice(
                chars.get(), count,
                [&](const unsigned char* bytes, std::size_t n) { scrambler.add(bytes, n); },
                joined ? &found : nullptr);
        }
    }
    status = scrambled ? store::save_scrambled(path, scrambled.get(), size)
                       : store::Status(store::status::kWriteFailed, ENOMEM);
    return true;
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

// Whether a long text (kLongFrom characters or more) looks all ASCII (U+0001 to U+007F): 16
// windows of 64 characters spread over it, the first and the last included, are. Prose with a
// wider character every few hundred rarely passes.
bool looks_ascii(JNIEnv* env, jstring content, jsize length) {
    constexpr jsize kWindows = 16;
    constexpr jsize kWindow = 64;
    jchar window[kWindow];
    jchar any = 0;
    for (jsize k = 0; k < kWindows; ++k) {
        const auto start =
            static_cast<jsize>(std::int64_t{k} * (length - kWindow) / (kWindows - 1));
        env->GetStringRegion(content, start, kWindow, window);
        for (jchar c : window) any |= static_cast<jchar>(c == 0 ? 0x80 : c);
    }
    return (any & 0xFF80) == 0;
}

// How this VM writes surrogate pairs, from its count of the bytes of one pair and one lone
// surrogate: joined (4 + 3, ART), each unit on its own (6 + 3, HotSpot), or neither.
std::optional<text::Pairs> pairs_of_vm(JNIEnv* env) {
    const jchar probe[] = {0xD83D, 0xDE00, 0xD800};
    LocalRef<jstring> s(env, env->NewString(probe, 3));
    if (!s) {
        env->ExceptionClear();
        return std::nullopt;
    }
    switch (env->GetStringUTFLength(s.get())) {
        case 7: return text::Pairs::joined;
        case 9: return text::Pairs::each_unit;
        default: return std::nullopt;
    }
}

// A long text's way other than the VM's own bytes, if it has one: status is set then.
bool save_long(JNIEnv* env, jstring content, jsize length, const char* path,
               store::Status& status) {
    if constexpr (kHotSpotPaths) {
        if (hotspot::vm_is_desktop(env)) {
            return hotspot::save_ascii(env, content, length, path, status) ||
                   save_encoded(env, content, length, path, text::Pairs::each_unit, status);
        }
    }
    // On Android's runtime the slices (which widen its bytes and narrow them again) lose to its
    // own conversion of an ASCII text, which it keeps as bytes; every other text is encoded
    // faster from its characters, mostly ASCII or not (bench/README.md, the languages on ART).
    // ART tells the size of a string it keeps as bytes at once but counts any other in a pass
    // of its own, so it is asked only of a text that looks all ASCII. How it writes pairs (the
    // ART tested here joins them) is asked of a string of three characters.
    if (looks_ascii(env, content, length) && env->GetStringUTFLength(content) == length) {
        return false;
    }
    return save_encoded(env, content, length, path, pairs_of_vm(env), status);
}

jstring make_string(JNIEnv* env, const char* p, std::size_t n) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(p);
    if (n > static_cast<std::size_t>(INT32_MAX)) {
        return text::is_modified_utf8(bytes, n) ? env->NewStringUTF(p) : nullptr;
    }
    if (!text::is_ascii(bytes, n)) return new_decoded_string(env, bytes, n);
    if constexpr (kHotSpotPaths) {
        if (n >= hotspot::kByteArrayFrom && hotspot::vm_is_desktop(env)) {
            return hotspot::new_ascii_string(env, p, n);
        }
    }
    // ASCII with no zero byte is modified UTF-8.
    if (std::memchr(p, 0, n) == nullptr) return env->NewStringUTF(p);
    return new_decoded_string(env, bytes, n);
}

}  // namespace

store::Status save_text(JNIEnv* env, jstring content, const char* path) noexcept {
    const jsize length = env->GetStringLength(content);
    store::Status status(store::status::kWriteFailed);
    if (length >= kLongFrom && save_long(env, content, length, path, status)) return status;
    StringChars text(env, content);
    if (!text) return store::Status(store::status::kContentConversion);
    return store::save(path, text.bytes(), text.size());
}

jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept {
    jstring s = make_string(env, p, n);
    if (s == nullptr) env->ExceptionClear();
    return s;
}

}  // namespace kiv::jni
