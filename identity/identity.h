#pragma once
// The device identity: a random number followed by a caller's tag, kept scrambled in a file and
// handed back unchanged for as long as the file holds an identity containing the tag.

#include <cstddef>

#include "sys/buffer.h"

namespace kiv::identity {

// Returns in `scrambled` (n bytes plus a zero) the identity stored at path whose plain text
// contains the tag's n bytes, or a new one made and stored there: the stored form, exactly the
// file's bytes. False on any failure, with the file left as it was.
bool get_or_make(const char* path, const unsigned char* tag, std::size_t tag_len,
                 sys::Buffer& scrambled, std::size_t& n) noexcept;

}  // namespace kiv::identity
