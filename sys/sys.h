#pragma once
// The one place where the file store and the identity call C library functions that can fail.
// In the fault-injection test build (KIV_FAULT_INJECTION) any one of these calls can be made to
// fail with a chosen errno, so every error path can be driven without a broken disk; in the
// shipped library the wrappers are plain inline forwards.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <unistd.h>

#if defined(__ANDROID__)
#include <android/api-level.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

namespace kiv::sys {

#ifdef KIV_FAULT_INJECTION
// Defined by the test support: counts failable calls on the calling thread and answers true,
// with errno set to `err`, for the one it was told to fail. `call` names the call.
bool fault(int err, const char* call) noexcept;
#else
constexpr bool fault(int, const char*) noexcept { return false; }
#endif

inline int open(const char* path, int flags, mode_t mode = 0) noexcept {
    if (fault(EACCES, "open")) return -1;
    return ::open(path, flags | O_CLOEXEC, mode);
}
inline int close(int fd) noexcept {
    if (fault(EIO, "close")) {
        ::close(fd);  // the descriptor is gone either way, as after a real failed close
        return -1;
    }
    return ::close(fd);
}
inline ssize_t pread(int fd, void* buf, size_t n, off_t offset) noexcept {
    if (fault(EIO, "pread")) return -1;
    return ::pread(fd, buf, n, offset);
}
inline ssize_t write(int fd, const void* buf, size_t n) noexcept {
    if (fault(ENOSPC, "write")) return -1;
    return ::write(fd, buf, n);
}
inline ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) noexcept {
    if (fault(ENOSPC, "pwrite")) return -1;
    return ::pwrite(fd, buf, n, offset);
}
inline int ftruncate(int fd, off_t size) noexcept {
    if (fault(EIO, "ftruncate")) return -1;
    return ::ftruncate(fd, size);
}
inline off_t lseek(int fd, off_t offset, int whence) noexcept {
    if (fault(ESPIPE, "lseek")) return -1;
    return ::lseek(fd, offset, whence);
}
inline int fsync(int fd) noexcept {
    if (fault(EIO, "fsync")) return -1;
    return ::fsync(fd);
}
inline int fstat(int fd, struct stat* st) noexcept {
    if (fault(EIO, "fstat")) return -1;
    return ::fstat(fd, st);
}
inline int stat(const char* path, struct stat* st) noexcept {
    if (fault(EIO, "stat")) return -1;
    return ::stat(path, st);
}
inline int lstat(const char* path, struct stat* st) noexcept {
    if (fault(EIO, "lstat")) return -1;
    return ::lstat(path, st);
}
inline ssize_t readlink(const char* path, char* buf, size_t n) noexcept {
    if (fault(EIO, "readlink")) return -1;
    return ::readlink(path, buf, n);
}
// Whether links in the directory at path may name open files rather than directory entries:
// true in the proc file system (/proc/<pid>/fd/N), and where the file system cannot be told.
inline bool may_link_open_files(const char* path) noexcept {
    if (fault(EIO, "statfs")) return true;
    constexpr long kProcMagic = 0x9FA0;  // PROC_SUPER_MAGIC
    struct statfs fs;
    return ::statfs(path, &fs) != 0 || static_cast<long>(fs.f_type) == kProcMagic;
}
// Whether the directory at path (in the proc file system) lists the calling process's own
// descriptors: /proc/self/fd, /proc/<own pid>/fd, /dev/fd.
inline bool lists_own_descriptors(const char* path) noexcept {
    if (std::strcmp(path, "/proc/self/fd/") == 0) return true;
    struct stat dir, own;
    return sys::stat(path, &dir) == 0 && sys::stat("/proc/self/fd", &own) == 0 &&
           dir.st_dev == own.st_dev && dir.st_ino == own.st_ino;
}
// A second descriptor of fd's open file (sharing its offset and status flags), closed on exec.
inline int dup(int fd) noexcept {
    if (fault(EMFILE, "dup")) return -1;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
// The status flags of an open file (its access mode, O_APPEND, ...), and setting them.
inline int status_flags(int fd) noexcept {
    if (fault(EBADF, "fcntl(F_GETFL)")) return -1;
    return ::fcntl(fd, F_GETFL);
}
inline int set_status_flags(int fd, int flags) noexcept {
    if (fault(EPERM, "fcntl(F_SETFL)")) return -1;
    return ::fcntl(fd, F_SETFL, flags);
}
// Whether a file of n bytes is within the process's file-size limit (RLIMIT_FSIZE): a write past
// it fails with EFBIG and raises SIGXFSZ, whose default action (kept by Android's runtime) kills
// the process.
inline bool within_file_size_limit(size_t n) noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    return static_cast<unsigned long long>(n) <= static_cast<unsigned long long>(limit.rlim_cur);
}
// Whether the directory at path (relative to dir) keeps whatever is made in it: append-only or
// immutable, so that nothing in it can be renamed or removed. False where that cannot be told
// (statx is in the app seccomp allow-lists from Android 11, API 30, on; older kernels lack it).
bool refuses_removal(int dir, const char* path) noexcept;
inline int openat(int dir, const char* name, int flags, mode_t mode = 0) noexcept {
    if (fault(EACCES, "openat")) return -1;
    return ::openat(dir, name, flags | O_CLOEXEC, mode);
}
inline int renameat(int dir, const char* from, const char* to) noexcept {
    if (fault(EXDEV, "rename")) return -1;
    return ::renameat(dir, from, dir, to);
}
// renameat2(RENAME_NOREPLACE): renames unless `to` exists (EEXIST). ENOSYS where the kernel
// lacks it; EINVAL where the file system does.
inline int rename_noreplace(int dir, const char* from, const char* to) noexcept {
    if (fault(ENOSYS, "renameat2")) return -1;
#if defined(__ANDROID__)
    // Every app seccomp allow-list from Android 8.0 on has renameat2 (and earlier releases have
    // no filter), so the raw call would be safe on every device. It is made only from API 30,
    // the level at which bionic itself gained renameat2, so that the library relies on it only
    // where the platform offers it to apps; below that, identities are published with a hard link
    // or, where SELinux refuses one, a plain rename under the directory lock.
    if (android_get_device_api_level() < 30) {
        errno = ENOSYS;
        return -1;
    }
#endif
#if defined(SYS_renameat2)
    constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
    return static_cast<int>(::syscall(SYS_renameat2, dir, from, dir, to, kNoReplace));
#else
    (void)dir, (void)from, (void)to;
    errno = ENOSYS;
    return -1;
#endif
}
inline int linkat(int dir, const char* from, const char* to) noexcept {
    if (fault(EPERM, "link")) return -1;
    return ::linkat(dir, from, dir, to, 0);
}
inline int unlinkat(int dir, const char* name) noexcept {
    if (fault(EBUSY, "unlinkat")) return -1;
    return ::unlinkat(dir, name, 0);
}
inline int fstatat(int dir, const char* name, struct stat* st) noexcept {
    if (fault(EIO, "fstatat")) return -1;
    return ::fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW);
}
// A stream over the entries of the directory at path, relative to dir (AT_FDCWD, or a directory
// open even as O_PATH).
inline DIR* opendir_at(int dir, const char* path) noexcept {
    if (fault(EMFILE, "opendir")) return nullptr;
    int fd = ::openat(dir, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* d = ::fdopendir(fd);
    if (d == nullptr) ::close(fd);
    return d;
}
inline dirent* readdir(DIR* dir) noexcept {
    if (fault(EIO, "readdir")) return nullptr;
    return ::readdir(dir);
}
inline int flock(int fd, int op) noexcept {
    if (fault(ENOLCK, "flock")) return -1;
    return ::flock(fd, op);
}
// Gives back a lock taken with flock (nothing to report: the lock is gone either way once every
// descriptor of its open file is closed).
inline void unlock(int fd) noexcept { ::flock(fd, LOCK_UN); }
inline int sync_directory(int dir) noexcept {
    if (fault(EIO, "fsync(dir)")) return -1;
    return ::fsync(dir);
}
inline int remove(const char* path) noexcept {
    if (fault(EBUSY, "remove")) return -1;
    return std::remove(path);
}
// Whether the caller may write to path (W_OK | X_OK, for a directory taking new files) or open it
// for reading and writing (R_OK | W_OK), judged by its effective (on Linux, file-system) ids.
inline int access_effective(const char* path, int mode) noexcept {
    if (fault(EACCES, "access")) return -1;
#if defined(__ANDROID__)
    return ::access(path, mode);  // an app's real and effective ids are the same
#else
    return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS);
#endif
}
inline int access_for_writing(const char* dir) noexcept {
    return access_effective(dir, W_OK | X_OK);
}
inline int access_for_update(const char* file) noexcept {
    return access_effective(file, R_OK | W_OK);
}
inline int fchmod(int fd, mode_t mode) noexcept {
    if (fault(EPERM, "fchmod")) return -1;
    return ::fchmod(fd, mode);
}
// A stream over an open descriptor, which it owns from then on.
inline FILE* fdopen(int fd, const char* mode) noexcept {
    if (fault(ENOMEM, "fdopen")) return nullptr;
    return ::fdopen(fd, mode);
}
inline size_t fwrite(const void* buf, size_t size, size_t count, FILE* f) noexcept {
    if (fault(ENOSPC, "fwrite")) return 0;
    return std::fwrite(buf, size, count, f);
}
inline int fclose(FILE* f) noexcept {
    if (fault(EIO, "fclose")) {
        std::fclose(f);
        return EOF;
    }
    return std::fclose(f);
}
// Sleeps for the given nanoseconds (under a second); a signal may cut it short.
inline void sleep_for(long nanoseconds) noexcept {
    const timespec t{0, nanoseconds};
    ::nanosleep(&t, nullptr);
}
inline void* malloc(size_t n) noexcept {
    if (fault(ENOMEM, "malloc")) return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}

// Fills `buf` with `n` bytes from the operating system's entropy source; false if none can be read.
bool entropy(void* buf, size_t n) noexcept;

// A heap buffer of exactly the size asked for, freed on scope exit.
class Buffer {
public:
    Buffer() = default;
    explicit Buffer(size_t n) noexcept : data_(static_cast<unsigned char*>(sys::malloc(n))) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data_, other.data_);
        return *this;
    }
    ~Buffer() { std::free(data_); }

    explicit operator bool() const noexcept { return data_ != nullptr; }
    unsigned char* get() const noexcept { return data_; }
    char* chars() const noexcept { return reinterpret_cast<char*>(data_); }

private:
    unsigned char* data_ = nullptr;
};

// A file descriptor closed on scope exit unless released first (a close whose result matters
// is made explicitly through release()).
class Fd {
public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace kiv::sys
