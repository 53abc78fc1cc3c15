#pragma once
// Internal to the store: saves written where the file stands, not through a temporary file,
// where nothing else will do (see save() in store.h): by path, as fopen("w+") would, or through
// one of the caller's own descriptors.

#include <cstddef>

#include "store/status.h"
#include "store/store.h"
#include "sys/fd.h"

namespace kiv::store {

// Writes the file where it stands, opened by path as fopen("w+") would open it (created if
// missing; with create_new, only if missing): used where no temporary file can stand in for the
// target. A regular file is overwritten as above; anything else gets a stdio stream.
Status write_in_place(const char* path, const unsigned char* p, std::size_t n, SaveMode mode);

// Saves through the caller's own descriptor n: the file it is open on holds exactly the new text
// afterwards, from offset 0, also through an O_APPEND descriptor, and the descriptor's position
// is left where it was. A descriptor that cannot seek (a pipe, a socket) gets the bytes once, in
// order.
Status write_through(int n, const unsigned char* p, std::size_t size);

// Closes fd after a write that ended with `result`; a failed close turns success into 608.
Status close_after(sys::Fd& fd, Status result);

}  // namespace kiv::store
