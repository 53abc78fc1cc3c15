#include "store/store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "codec/codec.h"
#include "store/file_io.h"
#include "store/in_place.h"
#include "store/location.h"
#include "store/temp_file.h"
#include "sys/sys.h"

namespace kiv::store {

namespace {

// Moves the finished temporary file to its target. create_new publishes only where nothing is,
// with renameat2's no-replace flag or, where the system lacks it, a hard link; where it has
// neither, a plain rename, and the caller's DirectoryLock is what keeps others out.
Status publish(const Location& at, const char* temp, SaveMode mode) {
    const int dir = at.dir;
    if (mode == SaveMode::create_new) {
        if (sys::rename_noreplace(dir, temp, at.name) == 0) return Status(status::kSaved);
        int err = errno;
        if (err != ENOSYS && err != EINVAL) return Status(status::kWriteFailed, err);
        if (sys::linkat(dir, temp, at.name) == 0) {
            sys::unlinkat(dir, temp);
            return Status(status::kSaved);
        }
        err = errno;
        // Android refuses hard links to apps (EACCES); some file systems have none.
        if (err != EACCES && err != EPERM && err != EOPNOTSUPP && err != ENOSYS && err != EMLINK) {
            return Status(status::kWriteFailed, err);
        }
    }
    if (sys::renameat(dir, temp, at.name) != 0) return Status(status::kWriteFailed, errno);
    return Status(status::kSaved);
}

// Makes the entries of the directory `dir` (relative to `at`) durable, after a save renamed a
// file into it or a delete removed one: the file's own sync keeps its bytes, not its name, and
// without this a power cut can undo the rename or the delete (f2fs keeps either only from its
// next checkpoint). A directory that cannot be opened for reading is left unsynced: the save or
// delete has been made either way.
void sync_entries(int at, const char* dir) {
    sys::Fd fd(sys::openat(at, dir, O_RDONLY | O_DIRECTORY));
    if (fd) sys::sync_directory(fd.get());
}

void sync_entries(const Location& at) {
    char dir[PATH_MAX];
    at.directory(dir);
    sync_entries(at.dir, dir);
}

// Whether a directory that refused a new file did so for good (its permissions, a read-only
// file system), so that only writing in place is left.
bool refuses_new_files(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// Whether a rename over the target was refused where writing the target itself may still be
// allowed: another user's file in a sticky directory (EPERM), a security module's refusal
// (EACCES), a file mounted over its name (EBUSY), a name on another mount (EXDEV).
bool refuses_rename(int err) {
    return err == EPERM || err == EACCES || err == EBUSY || err == EXDEV;
}

// Whether the directory keeps whatever is made in it (append-only or immutable), so that a
// temporary file made there could be neither renamed nor removed.
bool keeps_everything(const Location& at) {
    char dir[PATH_MAX];
    at.directory(dir);
    return sys::refuses_removal(at.dir, dir);
}

// Whether a save failed for lack of room: a full disk or a quota.
bool no_room(const Status& s) { return s.code != kOk && (s.err == ENOSPC || s.err == EDQUOT); }

// One save of a located, existing or missing, non-directory target. Its branches:
//  - not a regular file (a device, a FIFO): written in place;
//  - in a directory that keeps everything made in it: written in place, nothing made beside it;
//  - otherwise through a temporary file beside it, renamed over it; where no temporary file can
//    be made (the directory refuses new files) or the rename is refused, written in place,
//    the temporary file removed first, so that its blocks are free for the target's.
// Every branch that names an entry in a directory which allows removal may then sweep the
// target's leftovers (one save in sixteen).
Status save_at(const char* path, const Location& at, const unsigned char* scrambled, std::size_t n,
               SaveMode mode) {
    // A save refused for room leaves the sweep to its caller, which then sweeps in any case.
    const auto swept = [&](const Status& result, bool sweep) {
        if (sweep && !no_room(result)) sweep_leftovers(at);
        return result;
    };
    if (at.exists && !S_ISREG(at.st.st_mode)) {
        return swept(write_in_place(path, scrambled, n, mode), sweep_due());
    }
    mode_t bits = 0666;
    if (at.exists) {
        // Refuse, as "w+" would, a file that cannot be opened for reading and writing.
        if (sys::access_for_update(path) != 0) return Status(status::kOpenFailed, errno);
        if (mode == SaveMode::create_new) return Status(status::kWriteFailed, EEXIST);
        bits = at.st.st_mode & 07777;
    }
    // Nothing is written past the file-size limit: the signal of a write beyond it kills the
    // process where it is not ignored (on Android's runtime).
    if (!sys::within_file_size_limit(n)) return Status(status::kWriteFailed, EFBIG);
    // A temporary file made where nothing can be removed would stay for good.
    if (keeps_everything(at)) return write_in_place(path, scrambled, n, mode);

    char temp[PATH_MAX];
    std::uint64_t r = 0;
    int err = 0;
    sys::Fd fd = create_temp(at, bits, temp, r, err);
    if (!fd) {
        // Without a temporary file the only way left is writing in place; where an old file
        // exists, take it only when the directory refuses new files, not when the disk is full.
        if (at.exists && !refuses_new_files(err)) return Status(status::kOpenFailed, err);
        return swept(write_in_place(path, scrambled, n, mode), sweep_due());
    }
    if (at.exists) sys::fchmod(fd.get(), bits);  // the umask must not narrow the old file's bits

    Status result(status::kSaved);
    if (!write_all(fd.get(), scrambled, n, err)) {
        result = Status(status::kWriteFailed, err);
    } else if (sys::fsync(fd.get()) != 0) {
        result = Status(status::kCloseFailed, errno);
    }
    result = close_after(fd, result);
    if (result.code == kOk) result = publish(at, temp, mode);
    if (result.code == kOk) {
        sync_entries(at);
    } else {
        sys::unlinkat(at.dir, temp);
        // Where the rename is refused but the file itself may be written, save as a plain write
        // would; if it cannot even be opened, the rename's refusal is the answer.
        if (result.code == status::kWriteFailed.code && refuses_rename(result.err) &&
            mode == SaveMode::replace) {
            const Status written = write_in_place(path, scrambled, n, mode);
            if (written.code != status::kOpenFailed.code) result = written;
        }
    }
    return swept(result, sweeps(r));
}

}  // namespace

Status save_scrambled(const char* path, const unsigned char* scrambled, std::size_t n,
                      SaveMode mode) noexcept {
    Location at;
    int err = 0;
    if (!locate(path, at, err)) {
        // A path whose links resolve to more than PATH_MAX bytes is written in place, through
        // the links, as the system resolves them; anything else that stops the links being
        // followed would stop "w+" too.
        if (err == ENAMETOOLONG) return write_in_place(path, scrambled, n, mode);
        return Status(status::kOpenFailed, err);
    }
    if (at.descriptor) {
        // An open file's link has no directory to make a temporary file in. The caller's own
        // descriptor is written through, with the caller's rights; another process's open file
        // is written through its link, so that the descriptor behind it sees the new text.
        if (mode == SaveMode::create_new) return Status(status::kWriteFailed, EEXIST);
        if (at.own >= 0) return write_through(at.own, scrambled, n);
        return write_in_place(path, scrambled, n, mode);
    }
    if (at.exists && S_ISDIR(at.st.st_mode)) return Status(status::kOpenFailed, EISDIR);
    Status result = save_at(path, at, scrambled, n, mode);
    // Refused for lack of room while leftovers of killed saves of this target take some: they
    // are removed, whatever the size of the directory (it is read only when a save has already
    // failed), and the save is made once more.
    if (no_room(result) && sweep_leftovers(at, true) > 0) {
        result = save_at(path, at, scrambled, n, mode);
    }
    return result;
}

Status save(const char* path, const unsigned char* plain, std::size_t n, SaveMode mode) noexcept {
    sys::Buffer scrambled(n);
    if (!scrambled) return Status(status::kWriteFailed, ENOMEM);
    codec::scramble(plain, n, scrambled.get());
    return save_scrambled(path, scrambled.get(), n, mode);
}

Status remove(const char* path) noexcept {
    char dir[PATH_MAX];
    if (sys::remove(path) == 0) {
        if (directory_of(path, dir)) sync_entries(AT_FDCWD, dir);
        return Status(status::kDeleted);
    }
    const int err = errno;
    // Nothing to delete counts as deleted where the file could have been made: in a directory
    // that exists and takes new files. The file itself is never made, not even for a moment.
    if (err == ENOENT && directory_of(path, dir) && sys::access_for_writing(dir) == 0) {
        return Status(status::kDeleted);
    }
    return Status(status::kDeleteFailed, err);
}

void sync(const char* path) noexcept {
    int err = 0;
    ReadableFile file;
    if (open_to_read(path, file, err)) sys::fsync(file.fd);
    Location at;
    if (locate(path, at, err) && !at.descriptor) sync_entries(at);
}

Status read(const char* path, sys::Buffer& text, std::size_t& n) noexcept {
    int err = 0;
    ReadableFile file;
    if (!open_to_read(path, file, err)) return Status(status::kNoFile, err);
    Status result(status::kRead);
    std::size_t size = 0;
    if (!measure(file.fd, file.st, size, err)) {
        result = Status(status::kReadFailed, err);
    } else {
        sys::Buffer buf(size + 1);
        if (!buf) {
            result = Status(status::kReadFailed, ENOMEM);
        } else if (!read_unscrambled(file.fd, size, buf.get(), err)) {
            result = Status(status::kReadFailed, err);
        } else {
            buf.get()[size] = 0;
            text = std::move(buf);
            n = size;
        }
    }
    // Only a file the library opened is closed; the caller's own descriptor stays open.
    if (file.opened && !close_checked(file.opened, err)) {
        result = Status(status::kReadCloseFailed, err);
    }
    return result;
}

Status query(const char* path) noexcept {
    // A regular file is judged by its status, with no need to open it: present if it could be
    // opened for reading and writing (its permissions allow both, and it is neither append-only
    // nor immutable), empty if its size is 0.
    struct stat st;
    int keeps = -1;  // whether the file is append-only or immutable, where the status told
    if (sys::lstat_contents(path, &st, keeps) != 0) return Status(status::kQueryNoFile, errno);
    bool opened = false;  // a link standing for one of the caller's own descriptors
    if (S_ISLNK(st.st_mode)) {
        Location at;
        int err = 0;
        keeps = -1;
        opened = resolve_links(path, at, err) && at.descriptor && at.own >= 0;
        if (!opened && sys::stat(path, &st) != 0) return Status(status::kQueryNoFile, errno);
    }
    if (!opened) {
        if (S_ISDIR(st.st_mode)) return Status(status::kQueryNoFile, EISDIR);
        if (S_ISREG(st.st_mode)) {
            if (sys::access_for_update(path) != 0) return Status(status::kQueryNoFile, errno);
            if (keeps < 0 ? sys::keeps_contents(path) : keeps == 1) {
                return Status(status::kQueryNoFile, EPERM);
            }
            return Status(st.st_size == 0 ? status::kEmpty : status::kNotEmpty);
        }
    }
    // Anything else is opened as a read would open it; a size that cannot be measured (a pipe)
    // counts as not empty.
    int err = 0;
    ReadableFile file;
    if (!open_to_read(path, file, err)) return Status(status::kQueryNoFile, err);
    std::size_t size = 0;
    Status result(measure(file.fd, file.st, size, err) && size == 0 ? status::kEmpty
                                                                    : status::kNotEmpty);
    if (file.opened && !close_checked(file.opened, err)) {
        result = Status(status::kReadCloseFailed, err);
    }
    return result;
}

}  // namespace kiv::store
