#pragma once
// Which way a text takes between a Java string and the bytes the store keeps, chosen by its
// length, its characters and the VM it runs on. Every way gives the same bytes, and the same
// string, as the plain JNI calls they replace; bench/JNI_PATHS.md times each against them.

#include <jni.h>

#include <cstddef>

#include "store/status.h"

namespace kiv::jni {

// Saves the text of a non-empty string at path, scrambled: store::save's statuses, or 605 when
// the VM cannot hand out the text's bytes. On a desktop VM a long ASCII text is scrambled
// straight from its characters, slice by slice, and any other long text is encoded to modified
// UTF-8 from its characters (GetStringCritical) and scrambled as it goes; a short one takes the
// VM's own modified UTF-8 bytes (GetStringUTFChars). On Android's runtime, which keeps ASCII
// strings as bytes, a long ASCII text takes the VM's own bytes, and every other long text is
// encoded from its characters, each surrogate pair in four bytes as ART writes it.
store::Status save_text(JNIEnv* env, jstring content, const char* path) noexcept;

// Makes a Java string of the n bytes at p, where p[n] is 0. Large ASCII text goes through a
// byte[] (except on Android's runtime, where NewStringUTF is faster), other ASCII text without
// zero bytes to NewStringUTF unchanged; anything else (other modified UTF-8, standard four-byte
// UTF-8, stray bytes, zero bytes) is decoded as UTF-8 with U+FFFD for each invalid byte and made
// with NewString, which gives the units NewStringUTF would for valid modified UTF-8. Needs at
// most 2n bytes besides the text. Returns null, with no exception left pending, when the VM or
// the heap runs out of memory.
jstring new_string(JNIEnv* env, const char* p, std::size_t n) noexcept;

}  // namespace kiv::jni
