// The JNI paths the library takes to move text between a Java string and native bytes, each
// timed against the plain JNI call it replaces, on the VM this program was built for: HotSpot,
// or ART when built with KIV_ART_BOOT_CLASSPATH (kiv_jni_bench_art). Both without -Xcheck:jni,
// as an app runs. Only native code and JNI calls are timed; no Java code runs.
//
//   save/<text>/<bytes>/plain     GetStringUTFChars, strlen, scramble (what short texts do)
//   save/ascii/<bytes>/region     GetStringRegion slices narrowed and scrambled (long ASCII)
//   save/<text>/<bytes>/critical  GetStringCritical, modified UTF-8 encoded and scrambled in
//                                 slices (long texts that are not ASCII)
//   save/<text>/<bytes>/probe     the modified UTF-8 length looked at: plain if the text is ASCII,
//                                 else critical (what the library does on ART)
//   read/<text>/<bytes>/plain     NewStringUTF (what short ASCII texts take)
//   read/ascii/<bytes>/bytearray  byte[] and String(byte[], int, int, int) (long ASCII)
//   read/<text>/<bytes>/decode    our UTF-8 decoder, then NewString (every other text)
//
// <bytes> is the size of the text's modified UTF-8 form: 100 B, 4 KiB, 1 MiB; ASCII, or CJK
// (three bytes a character, so a byte or two less). Every path's result is compared with the
// plain path's once before it is timed. bench/jni_paths.py runs both programs and prints the table
// of bench/JNI_PATHS.md.

#include <benchmark/benchmark.h>
#include <jni.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "jni/hotspot_paths.h"
#include "sys/buffer.h"
#include "tests/jvm/vm.h"
#include "text/utf.h"

namespace {

JNIEnv* g_env = nullptr;

#ifdef KIV_ART_BOOT_CLASSPATH
constexpr char kVm[] = "ART";
#else
constexpr char kVm[] = "HotSpot";
#endif

struct Text {
    const char* kind;
    std::size_t nominal;  // the size it is named by
    std::u16string units;
    std::string bytes;  // modified UTF-8, zero-terminated by the string
};

Text make_text(bool cjk, std::size_t bytes) {
    Text t{cjk ? "cjk" : "ascii", bytes, {}, {}};
    for (std::size_t i = 0; i < (cjk ? bytes / 3 : bytes); ++i) {
        t.units.push_back(cjk ? static_cast<char16_t>(0x4E00 + i % 2000)
                              : static_cast<char16_t>('a' + i % 26));
    }
    t.bytes.resize(3 * t.units.size());
    t.bytes.resize(kiv::text::encode_modified_utf8(t.units.data(), t.units.size(),
                                                   reinterpret_cast<unsigned char*>(&t.bytes[0])));
    return t;
}

// A Java string kept for the whole run.
jstring java_string(const Text& t) {
    jstring local = g_env->NewString(reinterpret_cast<const jchar*>(t.units.data()),
                                     static_cast<jsize>(t.units.size()));
    auto global = static_cast<jstring>(g_env->NewGlobalRef(local));
    g_env->DeleteLocalRef(local);
    return global;
}

// --- saves: Java string to scrambled modified UTF-8 in out (room for the whole text) ---

std::size_t save_plain(jstring s, unsigned char* out) {
    const char* chars = g_env->GetStringUTFChars(s, nullptr);
    const std::size_t n = std::strlen(chars);
    kiv::codec::scramble(reinterpret_cast<const unsigned char*>(chars), n, out);
    g_env->ReleaseStringUTFChars(s, chars);
    return n;
}

std::size_t save_region(jstring s, unsigned char* out) {
    const jsize length = g_env->GetStringLength(s);
    const auto n = static_cast<std::size_t>(length);
    const std::size_t front = n - n / 2;
    std::size_t done = 0;
    const bool ascii = kiv::jni::hotspot::for_each_ascii_slice(
        g_env, s, length, [&](const unsigned char* bytes, std::size_t count) {
            kiv::codec::scramble_halves(bytes, count, out + done / 2, out + front + done / 2);
            done += count;
        });
    return ascii ? n : 0;
}

std::size_t save_critical(jstring s, unsigned char* out) {
    const auto count = static_cast<std::size_t>(g_env->GetStringLength(s));
    const jchar* chars = g_env->GetStringCritical(s, nullptr);
    const auto* units = reinterpret_cast<const char16_t*>(chars);
    const kiv::text::Utf16Size size = kiv::text::measure_utf16(units, count);
    const std::size_t front = size.bytes - size.bytes / 2;
    std::size_t done = 0;
    kiv::text::for_each_modified_utf8_slice(
        units, count, [&](const unsigned char* bytes, std::size_t n) {
            kiv::codec::scramble_halves(bytes, n, out + done / 2, out + front + done / 2);
            done += n;
        });
    g_env->ReleaseStringCritical(s, chars);
    return size.bytes;
}

// What the library does on ART: the VM's own conversion for an ASCII text (which ART keeps as
// bytes), the encoding from the characters for any other.
std::size_t save_probed(jstring s, unsigned char* out) {
    return g_env->GetStringUTFLength(s) == g_env->GetStringLength(s) ? save_plain(s, out)
                                                                     : save_critical(s, out);
}

// --- reads: modified UTF-8 bytes to a Java string (a local reference) ---

jstring read_plain(const std::string& b) { return g_env->NewStringUTF(b.c_str()); }

jstring read_bytearray(const std::string& b) {
    const auto len = static_cast<jsize>(b.size());
    jbyteArray bytes = g_env->NewByteArray(len);
    g_env->SetByteArrayRegion(bytes, 0, len, reinterpret_cast<const jbyte*>(b.data()));
    jclass string_class = g_env->FindClass("java/lang/String");
    jmethodID ctor = g_env->GetMethodID(string_class, "<init>", "([BIII)V");
    auto s = static_cast<jstring>(g_env->NewObject(string_class, ctor, bytes, 0, 0, len));
    g_env->DeleteLocalRef(string_class);
    g_env->DeleteLocalRef(bytes);
    return s;
}

jstring read_decode(const std::string& b) {
    constexpr std::size_t kOnStack = 512;
    char16_t small[kOnStack];
    kiv::sys::Buffer large;
    char16_t* out = small;
    if (b.size() > kOnStack) {
        large = kiv::sys::Buffer(b.size() * sizeof(char16_t));
        out = reinterpret_cast<char16_t*>(large.get());
    }
    const std::size_t count =
        kiv::text::decode_utf8(reinterpret_cast<const unsigned char*>(b.data()), b.size(), out);
    return g_env->NewString(reinterpret_cast<const jchar*>(out), static_cast<jsize>(count));
}

std::u16string units_of(jstring s) {
    std::u16string u(static_cast<std::size_t>(g_env->GetStringLength(s)), u'\0');
    g_env->GetStringRegion(s, 0, static_cast<jsize>(u.size()), reinterpret_cast<jchar*>(&u[0]));
    return u;
}

using SaveFn = std::size_t (*)(jstring, unsigned char*);
using ReadFn = jstring (*)(const std::string&);

void register_save(const Text& t, const char* path, SaveFn fn) {
    const std::string name =
        std::string("save/") + t.kind + "/" + std::to_string(t.nominal) + "/" + path;
    benchmark::RegisterBenchmark(name.c_str(), [&t, fn](benchmark::State& state) {
        jstring s = java_string(t);
        std::vector<unsigned char> out(t.bytes.size()), expected(t.bytes.size());
        kiv::codec::scramble(reinterpret_cast<const unsigned char*>(t.bytes.data()), t.bytes.size(),
                             expected.data());
        if (fn(s, out.data()) != t.bytes.size() || out != expected) {
            state.SkipWithError("stored bytes differ from the VM's modified UTF-8");
        }
        for (auto _ : state) {
            benchmark::DoNotOptimize(fn(s, out.data()));
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.bytes.size()));
        g_env->DeleteGlobalRef(s);
    });
}

void register_read(const Text& t, const char* path, ReadFn fn) {
    const std::string name =
        std::string("read/") + t.kind + "/" + std::to_string(t.nominal) + "/" + path;
    benchmark::RegisterBenchmark(name.c_str(), [&t, fn](benchmark::State& state) {
        jstring check = fn(t.bytes);
        if (check == nullptr || units_of(check) != t.units) {
            state.SkipWithError("the string differs from the text");
        }
        g_env->DeleteLocalRef(check);
        for (auto _ : state) {
            jstring s = fn(t.bytes);
            benchmark::DoNotOptimize(s);
            g_env->DeleteLocalRef(s);
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.bytes.size()));
    });
}

}  // namespace

int main(int argc, char** argv) {
    JavaVM* vm = nullptr;
    std::string error;
    if (!kiv::test::start_vm(false, &vm, &g_env, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    benchmark::AddCustomContext("vm", kVm);
    static std::vector<Text> texts;
    for (bool cjk : {false, true}) {
        for (std::size_t bytes : {std::size_t{100}, std::size_t{4096}, std::size_t{1} << 20}) {
            texts.push_back(make_text(cjk, bytes));
        }
    }
    for (const Text& t : texts) {
        const bool cjk = t.kind[0] == 'c';
        register_save(t, "plain", save_plain);
        if (!cjk) register_save(t, "region", save_region);
        register_save(t, "critical", save_critical);
        register_save(t, "probe", save_probed);
        register_read(t, "plain", read_plain);
        if (!cjk) register_read(t, "bytearray", read_bytearray);
        register_read(t, "decode", read_decode);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The VM stays up: DestroyJavaVM would wait for threads it may still run.
    std::fflush(nullptr);
    return 0;
}
