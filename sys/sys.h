#pragma once
// The one place where the file store and the identity call C library functions that can fail,
// and the platform's rules about them. In the fault-injection test build (KIV_FAULT_INJECTION)
// any one of these calls can be made to fail with a chosen errno (sys/fault.h), so every error
// path can be driven without a broken disk. The bodies are in sys.cpp and platform.cpp; the RAII
// types are in buffer.h and fd.h.

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "sys/buffer.h"
#include "sys/fd.h"

struct stat;

namespace kiv::sys {

// The C library's calls, each failable on its own. open and openat add O_CLOEXEC.
int open(const char* path, int flags, mode_t mode = 0) noexcept;
int openat(int dir, const char* name, int flags, mode_t mode = 0) noexcept;
int close(int fd) noexcept;
ssize_t pread(int fd, void* buf, size_t n, off_t offset) noexcept;
ssize_t write(int fd, const void* buf, size_t n) noexcept;
ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) noexcept;
int ftruncate(int fd, off_t size) noexcept;
off_t lseek(int fd, off_t offset, int whence) noexcept;
int fsync(int fd) noexcept;
int sync_directory(int dir) noexcept;  // fsync of a directory, failable on its own
int fstat(int fd, struct stat* st) noexcept;
int stat(const char* path, struct stat* st) noexcept;
int lstat(const char* path, struct stat* st) noexcept;
int fstatat(int dir, const char* name, struct stat* st) noexcept;  // links not followed
ssize_t readlink(const char* path, char* buf, size_t n) noexcept;
ssize_t readlinkat(int dir, const char* name, char* buf, size_t n) noexcept;
int dup(int fd) noexcept;                          // a second descriptor, closed on exec
int status_flags(int fd) noexcept;                 // F_GETFL: access mode, O_APPEND, ...
int set_status_flags(int fd, int flags) noexcept;  // F_SETFL
int renameat(int dir, const char* from, const char* to) noexcept;
int linkat(int dir, const char* from, const char* to) noexcept;
int unlinkat(int dir, const char* name) noexcept;
int remove(const char* path) noexcept;
int fchmod(int fd, mode_t mode) noexcept;
int flock(int fd, int op) noexcept;  // a lock taken here goes when its open file is closed
// A stream over the entries of the directory at path, relative to dir (AT_FDCWD, or a directory
// open even as O_PATH).
DIR* opendir_at(int dir, const char* path) noexcept;
dirent* readdir(DIR* dir) noexcept;
int closedir(DIR* dir) noexcept;
// fallocate(fd, 0, 0, length): the blocks of the first `length` bytes are allocated (the file
// grows to `length` if shorter). EOPNOTSUPP where the file system cannot reserve them.
int reserve(int fd, off_t length) noexcept;
// The seals of an open file (fcntl F_GET_SEALS: F_SEAL_SHRINK, F_SEAL_GROW, ...); 0 for a file
// that takes no seals (anything but a memfd answers EINVAL), -1 with errno on failure.
int seals(int fd) noexcept;
void sleep_for(long nanoseconds) noexcept;  // under a second; a signal may cut it short
// Fills `buf` with `n` bytes from the operating system's entropy source; false if none can be read.
bool entropy(void* buf, size_t n) noexcept;

// The platform's rules (platform.cpp).

// Whether links in the directory at path may name open files rather than directory entries:
// true in the proc file system (/proc/<pid>/fd/N), and where the file system cannot be told.
bool may_link_open_files(const char* path) noexcept;
// Whether the directory at path (in the proc file system, its last slash kept) lists the calling
// process's own descriptors: /proc/self/fd, /proc/<own pid>/fd, /dev/fd, and a thread's table,
// /proc/thread-self/fd or <own process>/task/<tid>/fd, which its threads share.
bool lists_own_descriptors(const char* path) noexcept;
// renameat2(RENAME_NOREPLACE): renames unless `to` exists (EEXIST). ENOSYS where the kernel, or
// on Android the API level, lacks it; EINVAL where the file system does.
int rename_noreplace(int dir, const char* from, const char* to) noexcept;
// Whether the caller may write to path (for a directory taking new files) or open it for reading
// and writing, judged by its effective (on Linux, file-system) ids.
int access_for_writing(const char* dir) noexcept;
int access_for_update(const char* file) noexcept;
// Whether a file of n bytes is within the process's file-size limit (RLIMIT_FSIZE): a write past
// it fails with EFBIG and raises SIGXFSZ, whose default action (kept by Android's runtime) kills
// the process.
bool within_file_size_limit(size_t n) noexcept;
// Whether the directory at path (relative to dir) keeps whatever is made in it: append-only or
// immutable, so that nothing in it can be renamed or removed. False where that cannot be told.
bool refuses_removal(int dir, const char* path) noexcept;
// Whether a regular file is append-only or immutable (chattr +a, +i), so that it cannot be opened
// for writing from its start, as "r+" opens it: the open file fd, or the file at path (its links
// followed) without a descriptor of it. False where that cannot be told.
bool keeps_contents(int fd) noexcept;
bool keeps_contents(const char* path) noexcept;
// lstat of path for its type and size only (st's other fields are left zero where statx is
// allowed), with, in `keeps`, whether it keeps its contents as above: 1 or 0 where the same call
// could tell (statx), -1 where keeps_contents() has still to be asked. Fails as lstat does.
int lstat_contents(const char* path, struct stat* st, int& keeps) noexcept;

}  // namespace kiv::sys
