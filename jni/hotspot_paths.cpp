#include "jni/hotspot_paths.h"

#include <cerrno>

#include "codec/codec.h"
#include "jni/scoped.h"
#include "store/store.h"
#include "sys/buffer.h"

namespace kiv::jni::hotspot {

bool vm_is_desktop(JNIEnv* env) noexcept { return env->GetVersion() > JNI_VERSION_1_6; }

bool save_ascii(JNIEnv* env, jstring content, jsize length, const char* path,
                store::Status& status) noexcept {
    const auto n = static_cast<std::size_t>(length);
    sys::Buffer scrambled(n);
    if (!scrambled) {
        status = store::Status(store::status::kWriteFailed, ENOMEM);
        return true;
    }
    codec::SliceScrambler scrambler(scrambled.get(), n);
    if (!for_each_ascii_slice(
            env, content, length,
            [&](const unsigned char* bytes, std::size_t count) { scrambler.add(bytes, count); })) {
        return false;  // not ASCII after all: the buffer is freed before the caller makes another
    }
    status = store::save_scrambled(path, scrambled.get(), n);
    return true;
}

jstring new_ascii_string(JNIEnv* env, const char* p, std::size_t n) noexcept {
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

}  // namespace kiv::jni::hotspot
