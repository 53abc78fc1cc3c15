#include "sys/sys.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "sys/fault.h"

namespace kiv::sys {

Fd::~Fd() {
    if (fd_ >= 0) close(fd_);
}

int open(const char* path, int flags, mode_t mode) noexcept {
    if (fault(EACCES, "open", -1, flags)) return -1;
    return opened(::open(path, flags | O_CLOEXEC, mode));
}

int close(int fd) noexcept {
    if (fault(EIO, "close", fd)) {
        ::close(fd);  // the descriptor is gone either way, as after a real failed close
        return -1;
    }
    return ::close(fd);
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) noexcept {
    if (fault(EIO, "pread")) return -1;
    return ::pread(fd, buf, n, offset);
}

ssize_t write(int fd, const void* buf, size_t n) noexcept {
    if (fault(ENOSPC, "write", fd)) return -1;
    return ::write(fd, buf, n);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) noexcept {
    if (fault(ENOSPC, "pwrite", fd, offset)) return -1;
    return ::pwrite(fd, buf, n, offset);
}

int ftruncate(int fd, off_t size) noexcept {
    if (fault(EIO, "ftruncate", fd, size)) return -1;
    return ::ftruncate(fd, size);
}

off_t lseek(int fd, off_t offset, int whence) noexcept {
    if (fault(ESPIPE, "lseek")) return -1;
    return ::lseek(fd, offset, whence);
}

int fsync(int fd) noexcept {
    if (fault(EIO, "fsync", fd)) return -1;
    return ::fsync(fd);
}

int fstat(int fd, struct stat* st) noexcept {
    if (fault(EIO, "fstat")) return -1;
    return ::fstat(fd, st);
}

int stat(const char* path, struct stat* st) noexcept {
    if (fault(EIO, "stat")) return -1;
    return ::stat(path, st);
}

int lstat(const char* path, struct stat* st) noexcept {
    if (fault(EIO, "lstat")) return -1;
    return ::lstat(path, st);
}

ssize_t readlink(const char* path, char* buf, size_t n) noexcept {
    if (fault(EIO, "readlink")) return -1;
    return ::readlink(path, buf, n);
}

ssize_t readlinkat(int dir, const char* name, char* buf, size_t n) noexcept {
    if (fault(EIO, "readlinkat")) return -1;
    return ::readlinkat(dir, name, buf, n);
}

int dup(int fd) noexcept {
    if (fault(EMFILE, "dup")) return -1;
    return opened(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

int status_flags(int fd) noexcept {
    if (fault(EBADF, "fcntl(F_GETFL)")) return -1;
    return ::fcntl(fd, F_GETFL);
}

int set_status_flags(int fd, int flags) noexcept {
    if (fault(EPERM, "fcntl(F_SETFL)")) return -1;
    return ::fcntl(fd, F_SETFL, flags);
}

int openat(int dir, const char* name, int flags, mode_t mode) noexcept {
    if (fault(EACCES, "openat", -1, flags)) return -1;
    return opened(::openat(dir, name, flags | O_CLOEXEC, mode));
}

int renameat(int dir, const char* from, const char* to) noexcept {
    if (fault(EXDEV, "rename")) return -1;
    return ::renameat(dir, from, dir, to);
}

int linkat(int dir, const char* from, const char* to) noexcept {
    if (fault(EPERM, "link")) return -1;
    return ::linkat(dir, from, dir, to, 0);
}

int unlinkat(int dir, const char* name) noexcept {
    if (fault(EBUSY, "unlinkat")) return -1;
    return ::unlinkat(dir, name, 0);
}

int fstatat(int dir, const char* name, struct stat* st) noexcept {
    if (fault(EIO, "fstatat")) return -1;
    return ::fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW);
}

DIR* opendir_at(int dir, const char* path) noexcept {
    if (fault(EMFILE, "opendir")) return nullptr;
    int fd = opened(::openat(dir, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) return nullptr;
    DIR* d = ::fdopendir(fd);
    if (d == nullptr) close(fd);
    return d;
}

int closedir(DIR* dir) noexcept {
    if (fault(EBADF, "closedir", ::dirfd(dir))) {
        ::closedir(dir);  // freed either way
        return -1;
    }
    return ::closedir(dir);
}

dirent* readdir(DIR* dir) noexcept {
    if (fault(EIO, "readdir")) return nullptr;
    return ::readdir(dir);
}

int flock(int fd, int op) noexcept {
    if (fault(ENOLCK, "flock")) return -1;
    return ::flock(fd, op);
}

int sync_directory(int dir) noexcept {
    if (fault(EIO, "fsync(dir)", dir)) return -1;
    return ::fsync(dir);
}

int remove(const char* path) noexcept {
    if (fault(EBUSY, "remove")) return -1;
    return std::remove(path);
}

int fchmod(int fd, mode_t mode) noexcept {
    if (fault(EPERM, "fchmod")) return -1;
    return ::fchmod(fd, mode);
}

int reserve(int fd, off_t length) noexcept {
    if (fault(ENOSPC, "fallocate")) return -1;
    return ::fallocate(fd, 0, 0, length);
}

int seals(int fd) noexcept {
    if (fault(EBADF, "fcntl(F_GET_SEALS)")) return -1;
#ifndef F_GET_SEALS
    constexpr int F_GET_SEALS = 1024 + 10;  // F_LINUX_SPECIFIC_BASE + 10, from Linux 3.17
#endif
    const int s = ::fcntl(fd, F_GET_SEALS);
    return s < 0 && errno == EINVAL ? 0 : s;  // EINVAL: no memfd (or a kernel before 3.17)
}

void sleep_for(long nanoseconds) noexcept {
    const timespec t{0, nanoseconds};
    ::nanosleep(&t, nullptr);
}

void* malloc(size_t n) noexcept {
    if (fault(ENOMEM, "malloc")) return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}

}  // namespace kiv::sys
