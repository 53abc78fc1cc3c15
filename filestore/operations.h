#pragma once
// The Java-facing bodies of writeFile, readFile and queryFile: argument checks, the work of the
// file store, and the report into the caller's JniModel record, which is returned.

#include <jni.h>

namespace kiv::store {

jobject write_file(JNIEnv* env, jobject record, jstring content, jstring path) noexcept;
jobject read_file(JNIEnv* env, jobject record, jstring path) noexcept;
jobject query_file(JNIEnv* env, jobject record, jstring path) noexcept;

}  // namespace kiv::store
