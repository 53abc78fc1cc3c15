#pragma once
// The device identity: a random number followed by a caller's tag, kept scrambled in a file and
// handed back unchanged for as long as the file holds an identity containing the tag.

#include <jni.h>

#include <cstddef>

#include "sys/sys.h"

namespace kiv::identity {

// Returns in `scrambled` (n bytes plus a zero) the identity stored at path whose plain text
// contains the tag's n bytes, or a new one made and stored there. False on any failure.
bool get_or_make(const char* path, const unsigned char* tag, std::size_t tag_len,
                 sys::Buffer& scrambled, std::size_t& n) noexcept;

// getDeviceIdentification: the scrambled identity as a Java string, or null on any failure.
jstring device_identification(JNIEnv* env, jstring tag, jstring path) noexcept;

}  // namespace kiv::identity
