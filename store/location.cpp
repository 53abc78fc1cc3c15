#include "store/location.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sys/sys.h"

namespace kiv::store {

namespace {

// Copies s into out[size]; false (ENAMETOOLONG) if it does not fit.
bool copy_path(char* out, std::size_t size, const char* dir, std::size_t dir_len, const char* s) {
    std::size_t len = std::strlen(s);
    if (dir_len + len + 1 > size) return false;
    std::memmove(out + dir_len, s, len + 1);
    if (dir != out) std::memcpy(out, dir, dir_len);
    return true;
}

}  // namespace

std::size_t dir_prefix_length(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

bool directory_of(const char* path, char (&out)[PATH_MAX]) {
    const std::size_t len = dir_prefix_length(path);
    if (len == 0) return copy_path(out, sizeof out, out, 0, ".");
    if (len >= sizeof out) return false;
    std::memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

int own_descriptor(const char* link, const char* dir) {
    const char* digits = link + dir_prefix_length(link);
    // Decimal, as the kernel reads it: no sign, no leading zero.
    if (digits[0] == '\0' || (digits[0] == '0' && digits[1] != '\0')) return -1;
    int n = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || n > (INT_MAX - (*c - '0')) / 10) return -1;
        n = n * 10 + (*c - '0');
    }
    return sys::lists_own_descriptors(dir) ? n : -1;
}

namespace {

// Follows symbolic links from path to the name of the file they end at, which need not exist
// (`exists` tells, and `st` holds its status if it does), giving up as the system does after 40
// links. `descriptor` tells that the path names an open file rather than a directory entry: a
// link in the proc file system (/proc/self/fd/N, which may name a deleted file or one in a
// directory the caller cannot search; also any link where that file system cannot be told), or
// links whose text leads elsewhere than the system goes. Such a file has no name to make a file
// beside. `own` is then the number of the caller's own descriptor the path stands for, or -1
// (another process's descriptor, or links that lead elsewhere), left to be opened by path.
bool resolve_links(const char* path, char (&out)[PATH_MAX], struct stat& st, bool& exists,
                   bool& descriptor, int& own, int& err) {
    constexpr int kMaxLinks = 40;
    descriptor = false;
    own = -1;
    if (!copy_path(out, sizeof out, out, 0, path)) {
        err = ENAMETOOLONG;
        return false;
    }
    int links = 0;
    for (;; ++links) {
        if (sys::lstat(out, &st) != 0) {
            exists = false;
            if (errno != ENOENT) {
                err = errno;
                return false;
            }
            break;  // a dangling link names the file to create
        }
        exists = true;
        if (!S_ISLNK(st.st_mode)) break;
        if (links == kMaxLinks) {
            err = ELOOP;
            return false;
        }
        char dir[PATH_MAX];
        if (directory_of(out, dir) && sys::may_link_open_files(dir)) {
            descriptor = true;
            own = own_descriptor(out, dir);
            return true;
        }
        char link[PATH_MAX];
        ssize_t len = sys::readlink(out, link, sizeof link - 1);
        if (len < 0) {
            err = errno;
            return false;
        }
        link[len] = '\0';
        std::size_t keep = link[0] == '/' ? 0 : dir_prefix_length(out);
        if (!copy_path(out, sizeof out, out, keep, link)) {
            err = ENAMETOOLONG;
            return false;
        }
    }
    // Only a path that went through links can lead elsewhere than its links' text says; a plain
    // path costs nothing more.
    struct stat followed;
    if (links > 0 && sys::stat(path, &followed) == 0 &&
        (!exists || followed.st_dev != st.st_dev || followed.st_ino != st.st_ino)) {
        descriptor = true;
    }
    return true;
}

#ifdef O_PATH
constexpr int kDirectoryHandle = O_PATH | O_DIRECTORY;  // needs no permission to read it
#else
constexpr int kDirectoryHandle = O_RDONLY | O_DIRECTORY;
#endif

}  // namespace

bool resolve_links(const char* path, Location& at, int& err) {
    return resolve_links(path, at.name, at.st, at.exists, at.descriptor, at.own, err);
}

bool locate(const char* path, Location& at, int& err, int open_flags) {
    if (!resolve_links(path, at, err)) return false;
    if (at.descriptor) return true;
    at.prefix = dir_prefix_length(at.name);
    if (open_flags == 0 && at.prefix + kNameRoom < sizeof at.name) return true;
    char dir[PATH_MAX];
    if (!directory_of(at.name, dir)) {
        err = ENAMETOOLONG;
        return false;
    }
    at.opened = sys::Fd(sys::open(dir, open_flags != 0 ? open_flags : kDirectoryHandle));
    if (!at.opened) {
        err = errno;
        return false;
    }
    at.dir = at.opened.get();
    std::memmove(at.name, at.name + at.prefix, std::strlen(at.name + at.prefix) + 1);
    at.prefix = 0;
    return true;
}

bool borrow(int n, bool write, Descriptor& out, int& err) {
    if ((out.flags = sys::status_flags(n)) < 0 || sys::fstat(n, &out.st) != 0) {
        err = errno;
        return false;
    }
    out.fd = n;
    const int access = out.flags & O_ACCMODE;
    bool usable = write ? access == O_WRONLY || access == O_RDWR : access != O_WRONLY;
#ifdef O_PATH
    usable = usable && (out.flags & O_PATH) == 0;  // a handle that can neither read nor write
#endif
    err = !usable ? EBADF : S_ISDIR(out.st.st_mode) ? EISDIR : 0;
    return err == 0;
}

bool open_to_read(const char* path, ReadableFile& file, int& err) {
    // Read-only, so that another process's read lease is not broken (an open for writing waits
    // up to the lease-break time, 45 s, for its holder), and without waiting for anything: a FIFO
    // opens at once, a write lease refuses at once (EWOULDBLOCK).
    constexpr int kReadOnly = O_RDONLY | O_NONBLOCK | O_NOCTTY;
    // A path whose last part is no symbolic link names no descriptor, and is opened at once.
    file.opened = sys::Fd(sys::open(path, kReadOnly | O_NOFOLLOW));
    if (!file.opened) {
        err = errno;
        Location at;
        if (err != ELOOP || !resolve_links(path, at, err)) return false;
        if (at.descriptor && at.own >= 0) {
            Descriptor d;
            if (!borrow(at.own, false, d, err)) return false;
            file.fd = d.fd;
            file.st = d.st;
            return true;
        }
        file.opened = sys::Fd(sys::open(path, kReadOnly));
        if (!file.opened) {
            err = errno;
            return false;
        }
    }
    file.fd = file.opened.get();
    if (sys::fstat(file.fd, &file.st) != 0) {
        err = errno;
        return false;
    }
    // What "r+" would refuse: a directory, a file the caller may not write, a regular file that
    // keeps its contents (append-only, immutable; EPERM, as an open for writing gives).
    if (S_ISDIR(file.st.st_mode)) {
        err = EISDIR;
        return false;
    }
    if (sys::access_for_update(path) != 0) {
        err = errno;
        return false;
    }
    if (S_ISREG(file.st.st_mode)) {
        if (!sys::keeps_contents(file.fd)) return true;
        err = EPERM;
        return false;
    }
    // Anything else is read as before, blocking: O_NONBLOCK was only for the open.
    if (sys::set_status_flags(file.fd, 0) != 0) {
        err = errno;
        return false;
    }
    return true;
}

}  // namespace kiv::store
