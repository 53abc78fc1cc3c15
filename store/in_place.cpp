#include "store/in_place.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "store/file_io.h"
#include "store/location.h"
#include "sys/sys.h"

namespace kiv::store {

namespace {

// Seals a memfd can carry (fcntl.h has them only with newer C libraries).
constexpr int kSealShrink = 0x0002;
constexpr int kSealGrow = 0x0004;
constexpr int kSealWrite = 0x0008;
constexpr int kSealFutureWrite = 0x0010;

// Turns O_APPEND off on an open file for as long as the scope lasts, so that writes land at the
// offsets asked for; the flag belongs to the open file, shared by every descriptor of it.
class AppendOff {
public:
    AppendOff(int fd, int flags) noexcept : fd_(fd), flags_(flags) {
        if ((flags_ & O_APPEND) != 0 && sys::set_status_flags(fd_, flags_ & ~O_APPEND) != 0) {
            err_ = errno;
        }
    }
    ~AppendOff() {
        if ((flags_ & O_APPEND) != 0 && err_ == 0) sys::set_status_flags(fd_, flags_);
    }
    AppendOff(const AppendOff&) = delete;
    AppendOff& operator=(const AppendOff&) = delete;
    int err() const noexcept { return err_; }

private:
    int fd_;
    int flags_;
    int err_ = 0;
};

bool open_for_writing(int flags) {
    const int access = flags & O_ACCMODE;
#ifdef O_PATH
    if ((flags & O_PATH) != 0) return false;  // a handle that can neither read nor write
#endif
    return access == O_WRONLY || access == O_RDWR;
}

// Step 1: every refusal of a regular file's save that can be known before a byte is written and
// that the system would otherwise make only part-way, as the errno the write itself gives.
// Append-only and immutable files need no look of their own (and SELinux may refuse an app the
// ioctl that asks for a provider's file's flags): the system refuses them before any byte
// changes, an append-only file when O_APPEND is turned off (step 2, EPERM), an immutable one at
// the reservation or the first write (EPERM).
int refusal(int fd, std::size_t old_size, std::size_t n) {
    if (!sys::within_file_size_limit(n)) return EFBIG;
    const int seals = sys::seals(fd);
    if (seals < 0) return errno;
    if ((seals & (kSealWrite | kSealFutureWrite)) != 0 || (n > old_size && (seals & kSealGrow)) ||
        (n < old_size && (seals & kSealShrink))) {
        return EPERM;
    }
    return 0;
}

// The in-place protocol for a regular file of old_size bytes, through fd, from offset 0, without
// moving fd's position. Its steps, in order; nothing the file held is changed before step 5:
//  1. refuse what the file would refuse part-way (refusal()): a text past the file-size limit,
//     a sealed memfd that may not be written, grown or cut as the new text needs;
//  2. turn O_APPEND off while writing (AppendOff), which an append-only file refuses;
//  3. reserve the blocks of the new length (fallocate) where the file system can, so that a
//     full disk or a quota refuses the save here;
//  4. write the bytes beyond the old end; a refusal (the disk full where nothing could be
//     reserved) cuts the file back to its old size;
//  5. overwrite the old bytes: only an I/O error, or a copy-on-write file system out of space,
//     can fail this step, and it leaves a mix (607);
//  6. cut off the rest, if the new text is shorter;
//  7. sync (a failure is 608: the whole new text was written).
Status overwrite(int fd, int flags, std::size_t old_size, const unsigned char* p, std::size_t n) {
    const off_t old_end = static_cast<off_t>(old_size);
    if (const int err = refusal(fd, old_size, n)) return Status(status::kWriteFailed, err);
    AppendOff append(fd, flags);
    if (append.err() != 0) return Status(status::kWriteFailed, append.err());
    int err = 0;
    const auto cut_back = [&](int e) {
        if (n > old_size) sys::ftruncate(fd, old_end);
        return Status(status::kWriteFailed, e);
    };
    int reserved;
    while ((reserved = sys::reserve(fd, static_cast<off_t>(n))) != 0 && errno == EINTR) {
    }
    if (reserved != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return cut_back(errno);
    if (n > old_size && !write_all(fd, p + old_size, n - old_size, err, old_end)) {
        return cut_back(err);
    }
    if (!write_all(fd, p, std::min(n, old_size), err, 0)) {
        return Status(status::kWriteFailed, err);
    }
    if (n < old_size && sys::ftruncate(fd, static_cast<off_t>(n)) != 0) {
        return Status(status::kWriteFailed, errno);
    }
    if (sys::fsync(fd) != 0) return Status(status::kCloseFailed, errno);
    return Status(status::kSaved);
}

#ifdef O_PATH
constexpr int kDirectoryHandle = O_PATH | O_DIRECTORY;
#else
constexpr int kDirectoryHandle = O_RDONLY | O_DIRECTORY;
#endif

// The directory entry that names `file`, found by following path's links one at a time, each
// relative to the directory of the one before, so that no path longer than one link's text is
// ever put together (the file may lie past PATH_MAX). The directory is opened for reading where
// it can be (to be synced), else as a handle (to remove the entry). False if no entry is found.
bool find_entry(const char* path, const struct stat& file, sys::Fd& dir, char (&name)[PATH_MAX]) {
    char link[PATH_MAX];
    if (std::strlen(path) >= sizeof link) return false;
    std::strcpy(link, path);
    for (int links = 0; links <= 40; ++links) {
        char part[PATH_MAX];
        if (!directory_of(link, part)) return false;
        const int from = dir ? dir.get() : AT_FDCWD;  // relative links go on from the last one
        sys::Fd next(sys::openat(from, part, O_RDONLY | O_DIRECTORY));
        if (!next) next = sys::Fd(sys::openat(from, part, kDirectoryHandle));
        if (!next) return false;
        dir = std::move(next);
        const char* leaf = link + dir_prefix_length(link);
        std::memcpy(name, leaf, std::strlen(leaf) + 1);
        struct stat st;
        if (sys::fstatat(dir.get(), name, &st) != 0) return false;
        if (st.st_dev == file.st_dev && st.st_ino == file.st_ino) return true;
        if (!S_ISLNK(st.st_mode)) return false;
        const ssize_t len = sys::readlinkat(dir.get(), name, link, sizeof link - 1);
        if (len <= 0) return false;
        link[len] = '\0';
    }
    return false;
}

}  // namespace

Status close_after(sys::Fd& fd, Status result) {
    int err = 0;
    if (!close_checked(fd, err) && result.code == kOk) result = Status(status::kCloseFailed, err);
    return result;
}

Status write_open(int fd, const struct stat& st, int flags, const unsigned char* p, std::size_t n) {
    if (!open_for_writing(flags)) return Status(status::kOpenFailed, EBADF);
    if (S_ISREG(st.st_mode))
        return overwrite(fd, flags, static_cast<std::size_t>(st.st_size), p, n);
    // Anything else is written at its position, every byte, through interrupted and short writes;
    // nothing is cut off or synced. A reader that keeps a pipe open but stops reading holds the
    // save until it reads again: the one wait the app, which chose the reader, has to bound.
    int err = 0;
    if (!write_all(fd, p, n, err)) return Status(status::kWriteFailed, err);
    return Status(status::kSaved);
}

Status write_in_place(const char* path, const unsigned char* p, std::size_t n, SaveMode mode) {
    // What is there decides how it is opened: a FIFO for writing only, so that the library never
    // holds its own read end (its bytes would be thrown away when it closes it); anything else for
    // reading and writing, as "w+" opens it. O_NONBLOCK makes a FIFO without a reader and a file
    // under another process's lease answer at once (ENXIO, EWOULDBLOCK); it is off again before
    // any write.
    struct stat st;
    const bool exists = sys::stat(path, &st) == 0;
    if (!exists && errno != ENOENT) return Status(status::kOpenFailed, errno);
    // A file that would be made is refused before it is made.
    if ((!exists || S_ISREG(st.st_mode)) && !sys::within_file_size_limit(n)) {
        return Status(status::kWriteFailed, EFBIG);
    }
    const int base = O_NOCTTY | O_NONBLOCK;
    int flags = exists && !S_ISREG(st.st_mode) ? O_WRONLY : O_RDWR;
    sys::Fd fd;
    bool made = false;
    if (!exists) {
        fd = sys::Fd(sys::open(path, flags | base | O_CREAT | O_EXCL, 0666));
        made = static_cast<bool>(fd);
        // EEXIST: made meanwhile, or the path ends in a link to the file still to be made.
        if (!fd && (errno != EEXIST || mode == SaveMode::create_new)) {
            return Status(status::kOpenFailed, errno);
        }
    }
    if (!fd) {
        const int create = mode == SaveMode::create_new ? O_CREAT | O_EXCL : O_CREAT;
        fd = sys::Fd(sys::open(path, flags | base | create, 0666));
        if (!fd) return Status(status::kOpenFailed, errno);
    }
    if (sys::fstat(fd.get(), &st) != 0) return Status(status::kOpenFailed, errno);
    // Through a link to a file still to be made, the file is this save's if it is still empty.
    made = made || (!exists && S_ISREG(st.st_mode) && st.st_size == 0);
    const Status result = sys::set_status_flags(fd.get(), flags) != 0
                              ? Status(status::kOpenFailed, errno)
                              : write_open(fd.get(), st, flags, p, n);
    if (made) {
        // A file this save made is made durable by name too, or, if the save failed, removed
        // again (provided its name still names it), so that a failed save leaves nothing.
        sys::Fd dir;
        char name[PATH_MAX];
        if (find_entry(path, st, dir, name)) {
            if (result.code != kOk) {
                sys::unlinkat(dir.get(), name);
            } else {
                sys::sync_directory(dir.get());
            }
        }
    }
    return close_after(fd, result);
}

Status write_through(int n, const unsigned char* p, std::size_t size) {
    // Through descriptor n itself, never closed: closing any descriptor of the file would drop
    // the caller's record locks on it.
    Descriptor d;
    int err = 0;
    if (!borrow(n, true, d, err)) return Status(status::kOpenFailed, err);
    return write_open(d.fd, d.st, d.flags, p, size);
}

}  // namespace kiv::store
