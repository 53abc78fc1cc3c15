#pragma once
// Internal to the store: opening, measuring, reading and writing stored files.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "sys/fd.h"

namespace kiv::store {

// The size of an open file, from its status `st`, or for anything but a regular file by seeking
// to its end and back, so that its position is left as it was. False, with err set, when it
// cannot be determined (a pipe: ESPIPE) or is too large to be held in memory and handed to Java
// (ENOMEM).
bool measure(int fd, const struct stat& st, std::size_t& size, int& err) noexcept;

// Reads exactly n bytes at offset into buf. False with err set on failure; a file that ends
// early counts as an I/O error (EIO).
bool read_exact(int fd, void* buf, std::size_t n, off_t offset, int& err) noexcept;

// Writes all n bytes at p to fd: at the file position, or from `offset` on where one is given.
// False with err set on failure; a write that makes no progress counts as a full disk (ENOSPC).
bool write_all(int fd, const unsigned char* p, std::size_t n, int& err, off_t offset = -1) noexcept;

// Reads the n stored bytes of a scrambled file and writes its n plain bytes to out, using no
// other heap memory.
bool read_unscrambled(int fd, std::size_t n, unsigned char* out, int& err) noexcept;

// Closes fd, reporting whether the close succeeded.
bool close_checked(sys::Fd& fd, int& err) noexcept;

}  // namespace kiv::store
