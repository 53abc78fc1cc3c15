#include "store/in_place.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "store/file_io.h"
#include "store/location.h"
#include "sys/sys.h"

namespace kiv::store {

namespace {

// Writes a regular file of old_size bytes where it stands, through fd, from offset 0, without
// moving fd's position. The bytes beyond the old end go first, so that a full disk or a quota,
// which can only refuse growth, fails the save before any old byte is touched, and the file is
// cut back to its old size; then the old bytes are overwritten and the rest cut off. Only an
// error while overwriting (or a crash) can leave a mix. Nothing is written past the file-size
// limit.
Status overwrite(int fd, std::size_t old_size, const unsigned char* p, std::size_t n) {
    if (!sys::within_file_size_limit(n)) return Status(status::kWriteFailed, EFBIG);
    int err = 0;
    if (n > old_size &&
        !write_all(fd, p + old_size, n - old_size, err, static_cast<off_t>(old_size))) {
        sys::ftruncate(fd, static_cast<off_t>(old_size));
        return Status(status::kWriteFailed, err);
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

// Writes anything but a regular file (a device, a FIFO, a pipe or socket handed over as a
// descriptor) with a stdio stream, as "w+" would: the bytes once, in order, at its position;
// nothing is cut off or synced.
Status write_stream(sys::Fd fd, const unsigned char* p, std::size_t n) {
    FILE* f = sys::fdopen(fd.get(), "w");
    if (f == nullptr) return Status(status::kOpenFailed, errno);
    fd.release();  // the stream owns it now
    Status result(status::kSaved);
    if (sys::fwrite(p, 1, n, f) != n) result = Status(status::kWriteFailed, errno);
    if (sys::fclose(f) != 0) result = Status(status::kCloseFailed, errno);
    return result;
}

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

}  // namespace

Status close_after(sys::Fd& fd, Status result) {
    int err = 0;
    if (!close_checked(fd, err) && result.code == kOk) result = Status(status::kCloseFailed, err);
    return result;
}

Status write_in_place(const char* path, const unsigned char* p, std::size_t n, SaveMode mode) {
    const int exclusive = mode == SaveMode::create_new ? O_EXCL : 0;
    sys::Fd fd(sys::open(path, O_RDWR | O_CREAT | O_NOCTTY | exclusive, 0666));
    if (!fd) return Status(status::kOpenFailed, errno);
    struct stat st;
    if (sys::fstat(fd.get(), &st) != 0) return Status(status::kOpenFailed, errno);
    if (!S_ISREG(st.st_mode)) return write_stream(std::move(fd), p, n);
    return close_after(fd, overwrite(fd.get(), static_cast<std::size_t>(st.st_size), p, n));
}

Status write_through(int n, const unsigned char* p, std::size_t size) {
    // Through descriptor n itself, never closed: closing any descriptor of the file would drop
    // the caller's record locks on it.
    Descriptor d;
    int err = 0;
    if (!borrow(n, true, d, err)) return Status(status::kOpenFailed, err);
    if (!S_ISREG(d.st.st_mode)) {
        // At its position, once, in order; a stream over n would close it.
        if (!write_all(d.fd, p, size, err)) return Status(status::kWriteFailed, err);
        return Status(status::kSaved);
    }
    AppendOff append(d.fd, d.flags);
    if (append.err() != 0) return Status(status::kWriteFailed, append.err());
    return overwrite(d.fd, static_cast<std::size_t>(d.st.st_size), p, size);
}

}  // namespace kiv::store
