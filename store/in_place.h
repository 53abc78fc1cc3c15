#pragma once
// Internal to the store: saves written where the file stands, not through a temporary file,
// where nothing else will do (see save() in store.h): by path, or through one of the caller's
// own descriptors. One writer, one protocol (write_open() in in_place.cpp), for every such save.

#include <sys/stat.h>

#include <cstddef>

#include "store/status.h"
#include "store/store.h"
#include "sys/fd.h"

namespace kiv::store {

// Writes through an open descriptor, which it never closes: the caller's own or one the writer
// opened. `st` is the file's status and `flags` its status flags (F_GETFL). A regular file holds
// exactly the new text from offset 0 afterwards, also through an O_APPEND descriptor, and fd's
// position is left where it was; every refusal that can be known in advance is ruled out before
// the first byte is overwritten. Anything else (a device, a FIFO, a pipe or socket) gets the
// bytes once, in order, at its position.
Status write_open(int fd, const struct stat& st, int flags, const unsigned char* p, std::size_t n);

// Opens the file at path where it stands (created if missing; with create_new, only if missing)
// and writes it with write_open(). A FIFO is opened for writing only, and one nobody reads is
// refused at once (ENXIO); an open another process's lease holds back answers at once
// (EWOULDBLOCK). A file it made is made durable by name too, and removed again if the save fails.
Status write_in_place(const char* path, const unsigned char* p, std::size_t n, SaveMode mode);

// Saves through the caller's own descriptor n with write_open().
Status write_through(int n, const unsigned char* p, std::size_t size);

// Closes fd after a write that ended with `result`; a failed close turns success into 608.
Status close_after(sys::Fd& fd, Status result);

}  // namespace kiv::store
