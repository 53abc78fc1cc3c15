#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "sys/sys.h"

#if defined(__ANDROID__)
#include <android/api-level.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "sys/fault.h"

namespace kiv::sys {

bool may_link_open_files(const char* path) noexcept {
    if (fault(EIO, "statfs")) return true;
    constexpr long kProcMagic = 0x9FA0;  // PROC_SUPER_MAGIC
    struct statfs fs;
    return ::statfs(path, &fs) != 0 || static_cast<long>(fs.f_type) == kProcMagic;
}

bool lists_own_descriptors(const char* path) noexcept {
    if (std::strcmp(path, "/proc/self/fd/") == 0) return true;
    struct stat dir, own;
    if (sys::stat(path, &dir) != 0) return false;
    if (sys::stat("/proc/self/fd", &own) == 0 && dir.st_dev == own.st_dev &&
        dir.st_ino == own.st_ino) {
        return true;
    }
    // A thread's table, <process>/task/<tid>/fd (also /proc/thread-self/fd): the process's
    // directory is three levels up, and a task directory of another thread group is never found
    // in this process's. The kernel resolves ".." by the directories themselves, not by the
    // text of the links on the way. A thread that unshared its table (CLONE_FILES) counts as
    // the process's.
    char up[PATH_MAX];
    const int len = std::snprintf(up, sizeof up, "%s../../..", path);
    return len > 0 && static_cast<std::size_t>(len) < sizeof up && sys::stat(up, &dir) == 0 &&
           sys::stat("/proc/self", &own) == 0 && dir.st_dev == own.st_dev &&
           dir.st_ino == own.st_ino;
}

bool within_file_size_limit(size_t n) noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    return static_cast<unsigned long long>(n) <= static_cast<unsigned long long>(limit.rlim_cur);
}

int rename_noreplace(int dir, const char* from, const char* to) noexcept {
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

int access_effective(const char* path, int mode) noexcept {
    if (fault(EACCES, "access")) return -1;
#if defined(__ANDROID__)
    return ::access(path, mode);  // an app's real and effective ids are the same
#else
    return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS);
#endif
}

int access_for_writing(const char* dir) noexcept { return access_effective(dir, W_OK | X_OK); }

int access_for_update(const char* file) noexcept { return access_effective(file, R_OK | W_OK); }

namespace {

// Whether the inode flags (chattr's) of the open file fd say append-only or immutable. SELinux
// checks FS_IOC_GETFLAGS as reading the file's attributes, which apps may do to their files.
bool flags_keep(int fd) noexcept {
    if (fault(EIO, "ioctl(FS_IOC_GETFLAGS)")) return false;
    int flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// The same for the file at path, relative to dir, opened for the question with open_flags.
bool flags_keep(int dir, const char* path, int open_flags) noexcept {
    const Fd fd(sys::openat(dir, path, open_flags));
    return fd && flags_keep(fd.get());
}

// Whether the file at path (relative to dir, its links followed) is append-only or immutable:
// statx's attributes where the platform allows it, else its inode flags, opened with open_flags
// (a directory's, or a regular file's read-only, which breaks no lease).
bool attributes_keep(int dir, const char* path, int open_flags) noexcept {
#if defined(SYS_statx) && defined(STATX_ATTR_APPEND)
#if defined(__ANDROID__)
    // Apps may call statx from Android 11 (API 30) on; before that the seccomp filter kills the
    // process for it, and the inode flags are asked for instead.
    if (android_get_device_api_level() < 30) return flags_keep(dir, path, open_flags);
#endif
    struct statx st {};
    if (fault(EIO, "statx") || ::syscall(SYS_statx, dir, path, 0, 0u, &st) != 0) {
        return errno == ENOSYS && flags_keep(dir, path, open_flags);  // a kernel before 4.11
    }
    constexpr unsigned long long kKeeps = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    return (st.stx_attributes & st.stx_attributes_mask & kKeeps) != 0;
#else
    return flags_keep(dir, path, open_flags);
#endif
}

}  // namespace

bool refuses_removal(int dir, const char* path) noexcept {
    return attributes_keep(dir, path, O_RDONLY | O_DIRECTORY);
}

bool keeps_contents(int fd) noexcept { return flags_keep(fd); }

bool keeps_contents(const char* path) noexcept {
    return attributes_keep(AT_FDCWD, path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
}

int lstat_contents(const char* path, struct stat* st, int& keeps) noexcept {
    keeps = -1;
#if defined(SYS_statx) && defined(STATX_ATTR_APPEND)
    bool allowed = true;
#if defined(__ANDROID__)
    allowed = android_get_device_api_level() >= 30;  // as in attributes_keep()
#endif
    if (allowed) {
        if (fault(EIO, "lstat")) return -1;
        struct statx sx {};
        constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_SIZE;
        if (::syscall(SYS_statx, AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, kWanted, &sx) == 0) {
            *st = {};
            st->st_mode = sx.stx_mode;
            st->st_size = static_cast<off_t>(sx.stx_size);
            constexpr unsigned long long kKeeps = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
            keeps = (sx.stx_attributes & sx.stx_attributes_mask & kKeeps) != 0 ? 1 : 0;
            return 0;
        }
        if (errno != ENOSYS) return -1;  // a kernel before 4.11 has only lstat
    }
#endif
    return sys::lstat(path, st);
}

}  // namespace kiv::sys
