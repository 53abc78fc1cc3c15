#pragma once
// One real JVM per test process, created by a GoogleTest environment through the JNI invocation
// API, with -Xcheck:jni. Tests call the native methods through Java, so the VM binds them by
// name from libkiv-native-lib.so exactly as on a device. The same suites run on HotSpot and,
// built with KIV_ART_BOOT_CLASSPATH, on the Android Runtime (ART with CheckJNI).

#include <gtest/gtest.h>
#include <jni.h>

#include <functional>
#include <optional>
#include <string>

namespace kiv::test {

#ifdef KIV_ART_BOOT_CLASSPATH
constexpr bool kOnArt = true;
#else
constexpr bool kOnArt = false;
#endif

// The JNIEnv of the calling thread (attached on first use for threads other than the main one).
JNIEnv* env();

// Every test runs inside its own local reference frame and must leave no exception pending.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// What a file operation left in its JniModel record.
struct Report {
    int code = 0;
    std::optional<std::string> msg;  // modified UTF-8 bytes; nullopt for a null msg
};

jstring jstr(const std::string& modified_utf8);  // NewStringUTF
jstring jstr(const std::u16string& units);       // NewString
std::string utf8_of(jstring s);                  // modified UTF-8 bytes of a Java string
std::u16string units_of(jstring s);              // UTF-16 units of a Java string

jobject new_record();
Report report_of(jobject record);

// The native methods, called through the Java class. A nullopt argument passes null.
Report write_file(const std::optional<std::string>& content,
                  const std::optional<std::string>& path);
Report read_file(const std::optional<std::string>& path);
Report query_file(const std::optional<std::string>& path);
std::optional<std::string> identity(const std::optional<std::string>& tag,
                                    const std::optional<std::string>& path);

// Runs fn(i) for i in 0..n-1, each on a thread of its own attached to the VM; joins them all.
void on_threads(int n, const std::function<void(int)>& fn);

// Runs fn with the calling thread's file-system identity switched to an unprivileged user, so
// files owned by root with mode 0644 are readable but not writable. False (and fn not run)
// when the process is not root.
bool as_unprivileged_user(const std::function<void()>& fn);

// Calls a static method of NativeLoader and fails the test if it throws.
jobject call_object(const char* name, const char* sig, ...);

}  // namespace kiv::test
