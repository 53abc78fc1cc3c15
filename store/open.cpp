#include "store/open.h"

#include <fcntl.h>

#include <cerrno>

#include "store/location.h"
#include "sys/sys.h"

namespace kiv::store {

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

Status open_in_place(const char* path, std::size_t n, SaveMode mode, WritableFile& file) {
    // What is there decides how it is opened. O_NONBLOCK makes a FIFO without a reader and a file
    // under another process's lease answer at once (ENXIO, EWOULDBLOCK); it is off again before
    // any write.
    struct stat& st = file.st;
    const bool exists = sys::stat(path, &st) == 0;
    if (!exists && errno != ENOENT) return Status(status::kOpenFailed, errno);
    // A file that would be made is refused before it is made.
    if ((!exists || S_ISREG(st.st_mode)) && !sys::within_file_size_limit(n)) {
        return Status(status::kWriteFailed, EFBIG);
    }
    const int base = O_NOCTTY | O_NONBLOCK;
    file.flags = exists && !S_ISREG(st.st_mode) ? O_WRONLY : O_RDWR;
    sys::Fd& fd = file.fd;
    bool& made = file.made;
    if (!exists) {
        fd = sys::Fd(sys::open(path, file.flags | base | O_CREAT | O_EXCL, 0666));
        made = static_cast<bool>(fd);
        // EEXIST: made meanwhile, or the path ends in a link to the file still to be made.
        if (!fd && (errno != EEXIST || mode == SaveMode::create_new)) {
            return Status(status::kOpenFailed, errno);
        }
    }
    if (!fd) {
        const int create = mode == SaveMode::create_new ? O_CREAT | O_EXCL : O_CREAT;
        fd = sys::Fd(sys::open(path, file.flags | base | create, 0666));
        if (!fd) return Status(status::kOpenFailed, errno);
    }
    if (sys::fstat(fd.get(), &st) != 0) return Status(status::kOpenFailed, errno);
    // Through a link to a file still to be made, the file is this save's if it is still empty.
    made = made || (!exists && S_ISREG(st.st_mode) && st.st_size == 0);
    return Status(status::kSaved);
}

}  // namespace kiv::store
