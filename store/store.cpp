#include "store/store.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "codec/codec.h"
#include "store/file_io.h"

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

std::size_t dir_prefix_length(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// The directory part of path ("." for none), in out; false (ENAMETOOLONG) if it does not fit.
bool directory_of(const char* path, char (&out)[PATH_MAX]) {
    const std::size_t len = dir_prefix_length(path);
    if (len == 0) return copy_path(out, sizeof out, out, 0, ".");
    if (len >= sizeof out) return false;
    std::memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

// Follows symbolic links from path to the name of the file they end at, which need not exist
// (`exists` tells, and `st` holds its status if it does), giving up as the system does after 40
// links. `descriptor` tells that the path names an open file rather than a directory entry: a
// link in the proc file system (/proc/self/fd/N, which may name a deleted file or one in a
// directory the caller cannot search; also any link where that file system cannot be told), or
// links whose text leads elsewhere than the system goes. Such a file has no name to make a file
// beside, and is left for the caller to open by path.
bool resolve_links(const char* path, char (&out)[PATH_MAX], struct stat& st, bool& exists,
                   bool& descriptor, int& err) {
    constexpr int kMaxLinks = 40;
    descriptor = false;
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

// Temporary files are named ".<stem>.kivtmp-<12 hex digits>" beside their target. The stem is
// the target's name, or for a name over 100 bytes its first whole characters, "~" and 16 hex
// digits of a hash of the whole name: a temporary name never takes more than 121 bytes, so one
// fits beside every file a file system can hold.
constexpr char kTempTag[] = ".kivtmp-";
constexpr std::size_t kTempTagLength = sizeof kTempTag - 1;
constexpr std::size_t kTempDigits = 12;
constexpr std::size_t kWholeNameMax = 100;
constexpr std::size_t kHashDigits = 16;
constexpr std::size_t kCutNameMax = kWholeNameMax - 1 - kHashDigits;
constexpr std::size_t kTempPrefixMax = 1 + kWholeNameMax + kTempTagLength;
constexpr std::size_t kTempNameMax = kTempPrefixMax + kTempDigits;
static_assert(kTempNameMax <= 121, "temporary names stay short");

std::uint64_t fnv1a(const char* s) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (; *s != '\0'; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 0x100000001B3ull;
    return h;
}

// Writes ".<stem>.kivtmp-" for the target named `name` into out; returns its length.
std::size_t temp_prefix(const char* name, char (&out)[kTempPrefixMax + 1]) {
    std::size_t len = std::strlen(name);
    int n;
    if (len <= kWholeNameMax) {
        n = std::snprintf(out, sizeof out, ".%s%s", name, kTempTag);
    } else {
        len = kCutNameMax;
        while (len > 0 && (static_cast<unsigned char>(name[len]) & 0xC0) == 0x80) --len;
        n = std::snprintf(out, sizeof out, ".%.*s~%0*llx%s", static_cast<int>(len), name,
                          static_cast<int>(kHashDigits),
                          static_cast<unsigned long long>(fnv1a(name)), kTempTag);
    }
    return static_cast<std::size_t>(n);
}

bool is_temp_name(const char* entry, const char* prefix, std::size_t prefix_len) {
    if (std::strncmp(entry, prefix, prefix_len) != 0) return false;
    const char* digits = entry + prefix_len;
    std::size_t i = 0;
    for (; digits[i] != '\0'; ++i) {
        const char c = digits[i];
        if (i == kTempDigits || !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return i == kTempDigits;
}

// The file a path stands for once its symbolic links are followed, and whether it exists (its
// status in `st`). Whatever a save does beside the file goes through `dir` and names relative
// to it: where the file's path leaves room for a temporary name beside it, `dir` is AT_FDCWD and
// `name` the file's whole path, its first `prefix` bytes naming the directory; elsewhere the
// directory is opened and `name` is the file's name in it. So no temporary name ever has to fit
// in a path, and short paths need no system call to open and close their directory.
struct Location {
    sys::Fd opened;
    int dir = AT_FDCWD;
    std::size_t prefix = 0;
    char name[PATH_MAX];
    bool exists = false;
    bool descriptor = false;  // an open file's link: see resolve_links(); nothing else is set
    struct stat st {};

    const char* file_name() const noexcept { return name + prefix; }
    // The file's directory, relative to `dir`, in out.
    void directory(char (&out)[PATH_MAX]) const noexcept {
        if (prefix == 0 || !directory_of(name, out)) std::memcpy(out, ".", 2);
    }
};

#ifdef O_PATH
constexpr int kDirectoryHandle = O_PATH | O_DIRECTORY;  // needs no permission to read it
#else
constexpr int kDirectoryHandle = O_RDONLY | O_DIRECTORY;
#endif

// Finds where path's file is. With open_flags, the directory is always opened, with them, unless
// the path names an open file (at.descriptor).
bool locate(const char* path, Location& at, int& err, int open_flags = 0) {
    if (!resolve_links(path, at.name, at.st, at.exists, at.descriptor, err)) return false;
    if (at.descriptor) return true;
    at.prefix = dir_prefix_length(at.name);
    if (open_flags == 0 && at.prefix + kTempNameMax < sizeof at.name) return true;
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

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Creates a temporary file beside the target, exclusively, and puts its name (relative to
// at.dir) in temp and the random number it was made from in r. The name only has to be unlikely
// to collide: O_EXCL settles any collision, and another name is tried.
sys::Fd create_temp(const Location& at, mode_t mode, char (&temp)[PATH_MAX], std::uint64_t& r,
                    int& err) {
    char prefix[kTempPrefixMax + 1];
    temp_prefix(at.file_name(), prefix);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The time tells saves apart across processes, the stack address threads within one.
    const std::uint64_t seed = mix(static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                                   static_cast<std::uint64_t>(now.tv_nsec)) ^
                               mix(reinterpret_cast<std::uintptr_t>(&now));
    for (int attempt = 0; attempt < 16; ++attempt) {
        r = mix(seed + static_cast<std::uint64_t>(attempt));
        std::snprintf(temp, sizeof temp, "%.*s%s%0*llx", static_cast<int>(at.prefix), at.name,
                      prefix, static_cast<int>(kTempDigits),
                      static_cast<unsigned long long>(r & ((1ull << (4 * kTempDigits)) - 1)));
        sys::Fd fd(sys::openat(at.dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, mode));
        if (fd) return fd;
        err = errno;
        if (err != EEXIST) break;
    }
    return sys::Fd();
}

// Writes all n bytes at p to fd: at the file position, or from `offset` on where one is given.
bool write_all(int fd, const unsigned char* p, std::size_t n, int& err, off_t offset = -1) {
    while (n > 0) {
        ssize_t done = offset < 0 ? sys::write(fd, p, n) : sys::pwrite(fd, p, n, offset);
        if (done < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        if (done == 0) {
            err = ENOSPC;
            return false;
        }
        p += done;
        n -= static_cast<std::size_t>(done);
        if (offset >= 0) offset += done;
    }
    return true;
}

// Writes a regular file of old_size bytes where it stands, opened as fd at offset 0. The bytes
// beyond the old end go first, so that a full disk or a file-size limit, which can only refuse
// growth, fails the save before any old byte is touched, and the file is cut back to its old
// size; then the old bytes are overwritten and the rest cut off. Only an error while
// overwriting (or a crash) can leave a mix.
Status overwrite(int fd, std::size_t old_size, const unsigned char* p, std::size_t n) {
    int err = 0;
    if (n > old_size &&
        !write_all(fd, p + old_size, n - old_size, err, static_cast<off_t>(old_size))) {
        sys::ftruncate(fd, static_cast<off_t>(old_size));
        return Status(status::kWriteFailed, err);
    }
    if (!write_all(fd, p, std::min(n, old_size), err)) return Status(status::kWriteFailed, err);
    if (n < old_size && sys::ftruncate(fd, static_cast<off_t>(n)) != 0) {
        return Status(status::kWriteFailed, errno);
    }
    if (sys::fsync(fd) != 0) return Status(status::kCloseFailed, errno);
    return Status(status::kSaved);
}

// Writes the file where it stands, opened by path as fopen("w+") would open it (created if
// missing): used where no temporary file can stand in for the target. A regular file is
// overwritten as above; anything else (a device, a FIFO) gets a stdio stream, as "w+" would.
Status write_in_place(const char* path, const unsigned char* p, std::size_t n) {
    sys::Fd fd(sys::open(path, O_RDWR | O_CREAT | O_NOCTTY, 0666));
    if (!fd) return Status(status::kOpenFailed, errno);
    struct stat st;
    if (sys::fstat(fd.get(), &st) != 0) return Status(status::kOpenFailed, errno);
    if (S_ISREG(st.st_mode)) {
        Status result = overwrite(fd.get(), static_cast<std::size_t>(st.st_size), p, n);
        int err = 0;
        if (!close_checked(fd, err) && result.code == kOk) {
            result = Status(status::kCloseFailed, err);
        }
        return result;
    }
    FILE* f = sys::fdopen(fd.get(), "w");
    if (f == nullptr) return Status(status::kOpenFailed, errno);
    fd.release();  // the stream owns it now
    Status result(status::kSaved);
    if (sys::fwrite(p, 1, n, f) != n) result = Status(status::kWriteFailed, errno);
    if (sys::fclose(f) != 0) result = Status(status::kCloseFailed, errno);
    return result;
}

// A temporary file of a save that was killed stays behind. One save in kSweepEvery (chosen by
// its temporary name's random number) looks for those of its target that are older than
// kLeftoverAge (no save takes that long) and removes them, provided the directory is small
// enough for a look at it to be cheap.
constexpr std::uint64_t kSweepEvery = 16;
constexpr time_t kLeftoverAge = 10 * 60;
constexpr off_t kCheapDirectory = 64 * 1024;  // bytes of directory entries

void sweep_leftovers(const Location& at) {
    char prefix[kTempPrefixMax + 1];
    const std::size_t prefix_len = temp_prefix(at.file_name(), prefix);
    char dir[PATH_MAX];
    at.directory(dir);
    DIR* d = sys::opendir_at(at.dir, dir);
    if (d == nullptr) return;
    struct stat st;
    if (sys::fstat(dirfd(d), &st) == 0 && st.st_size <= kCheapDirectory) {
        const time_t now = time(nullptr);
        while (const dirent* e = sys::readdir(d)) {
            if (!is_temp_name(e->d_name, prefix, prefix_len)) continue;
            struct stat left;
            if (sys::fstatat(dirfd(d), e->d_name, &left) == 0 && S_ISREG(left.st_mode) &&
                left.st_mtime + kLeftoverAge < now) {
                sys::unlinkat(dirfd(d), e->d_name);
            }
        }
    }
    closedir(d);
}

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

}  // namespace

Status save_scrambled(const char* path, const unsigned char* scrambled, std::size_t n,
                      SaveMode mode) noexcept {
    Location at;
    int err = 0;
    if (!locate(path, at, err)) {
        // A path whose links resolve to more than PATH_MAX bytes is written in place, through
        // the links, as the system resolves them; anything else that stops the links being
        // followed would stop "w+" too.
        if (err == ENAMETOOLONG) return write_in_place(path, scrambled, n);
        return Status(status::kOpenFailed, err);
    }
    if (at.descriptor) {
        // An open file's link has no directory to make a temporary file in: the file is written
        // through the link, so that the descriptor behind it sees the new text.
        if (mode == SaveMode::create_new) return Status(status::kWriteFailed, EEXIST);
        return write_in_place(path, scrambled, n);
    }
    mode_t bits = 0666;
    if (at.exists) {
        if (S_ISDIR(at.st.st_mode)) return Status(status::kOpenFailed, EISDIR);
        if (!S_ISREG(at.st.st_mode)) return write_in_place(path, scrambled, n);
        // Refuse, as "w+" would, a file that cannot be opened for reading and writing.
        if (sys::access_for_update(path) != 0) return Status(status::kOpenFailed, errno);
        if (mode == SaveMode::create_new) return Status(status::kWriteFailed, EEXIST);
        bits = at.st.st_mode & 07777;
    }

    char temp[PATH_MAX];
    std::uint64_t r = 0;
    sys::Fd fd = create_temp(at, bits, temp, r, err);
    if (!fd) {
        // Without a temporary file the only way left is writing in place; where an old file
        // exists, take it only when the directory refuses new files, not when the disk is full.
        if (!at.exists || refuses_new_files(err)) return write_in_place(path, scrambled, n);
        return Status(status::kOpenFailed, err);
    }
    if (at.exists) sys::fchmod(fd.get(), bits);  // the umask must not narrow the old file's bits

    Status result(status::kSaved);
    if (!write_all(fd.get(), scrambled, n, err)) {
        result = Status(status::kWriteFailed, err);
    } else if (sys::fsync(fd.get()) != 0) {
        result = Status(status::kCloseFailed, errno);
    }
    if (!close_checked(fd, err) && result.code == kOk) {
        result = Status(status::kCloseFailed, err);
    }
    if (result.code == kOk) result = publish(at, temp, mode);
    if (result.code == kOk) sync_entries(at);
    if (result.code != kOk) {
        sys::unlinkat(at.dir, temp);
    } else if ((r >> (4 * kTempDigits)) % kSweepEvery == 0) {
        sweep_leftovers(at);
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

namespace {

// How long a caller waits for another's lock before going on as where locks are unsupported. The
// holder only ever reads the file and, at most, makes and saves one identity: a few milliseconds
// with its syncs, some tens on slow flash under load. Waiting longer would not wait for a
// caller like us but for a process holding the lock for its own reasons (any app that can open
// a directory on shared storage can lock it), and would cost a main thread that much of the five
// seconds after which Android reports it not responding.
constexpr std::int64_t kLockDeadlineNs = 250'000'000;
constexpr long kLockRetryNs = 2'000'000;

std::int64_t nanoseconds_since(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec - start.tv_sec) * 1'000'000'000 +
           (now.tv_nsec - start.tv_nsec);
}

}  // namespace

DirectoryLock::DirectoryLock(const char* path) noexcept {
    Location at;
    if (!locate(path, at, err_, O_RDONLY | O_DIRECTORY)) {
        // A directory that may be searched but not read cannot be locked; one that is not
        // there, or cannot be opened for any other reason, fails the caller.
        state_ = err_ == EACCES ? State::unsupported : State::failed;
        return;
    }
    if (at.descriptor) {
        // An open file's link: its directory may be out of reach or gone, so the file itself is
        // locked, which every caller reaching it through any link locks alike.
        at.opened = sys::Fd(sys::open(path, O_RDONLY | O_NOCTTY));
        if (!at.opened) {
            err_ = errno;
            state_ = State::unsupported;
            return;
        }
    }
    dir_ = std::move(at.opened);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (sys::flock(dir_.get(), LOCK_EX | LOCK_NB) == 0) {
            state_ = State::held;
            return;
        }
        err_ = errno;
        const bool busy = err_ == EWOULDBLOCK || err_ == EINTR;
        if (!busy || nanoseconds_since(start) >= kLockDeadlineNs) break;
        if (err_ == EWOULDBLOCK) sys::sleep_for(kLockRetryNs);
    }
    // A lock not had by the deadline counts as no lock at all. NFS refuses an exclusive lock of
    // a directory with EBADF.
    const bool no_locks = err_ == EWOULDBLOCK || err_ == EINTR || err_ == ENOLCK ||
                          err_ == EOPNOTSUPP || err_ == EINVAL || err_ == ENOSYS ||
                          err_ == EACCES || err_ == EPERM || err_ == EBADF;
    state_ = no_locks ? State::unsupported : State::failed;
}

Status read(const char* path, sys::Buffer& text, std::size_t& n) noexcept {
    sys::Fd fd(open_existing(path));
    if (!fd) return Status(status::kNoFile, errno);
    Status result(status::kRead);
    int err = 0;
    std::size_t size = 0;
    if (!measure(fd.get(), size, err)) {
        result = Status(status::kReadFailed, err);
    } else {
        sys::Buffer buf(size + 1);
        if (!buf) {
            result = Status(status::kReadFailed, ENOMEM);
        } else if (!read_unscrambled(fd.get(), size, buf.get(), err)) {
            result = Status(status::kReadFailed, err);
        } else {
            buf.get()[size] = 0;
            text = std::move(buf);
            n = size;
        }
    }
    if (!close_checked(fd, err)) result = Status(status::kReadCloseFailed, err);
    return result;
}

Status query(const char* path) noexcept {
    // A regular file is judged by its status, with no need to open it: present if it can be
    // opened for reading and writing, empty if its size is 0.
    struct stat st;
    if (sys::stat(path, &st) != 0) return Status(status::kQueryNoFile, errno);
    if (S_ISDIR(st.st_mode)) return Status(status::kQueryNoFile, EISDIR);
    if (S_ISREG(st.st_mode)) {
        if (sys::access_for_update(path) != 0) return Status(status::kQueryNoFile, errno);
        return Status(st.st_size == 0 ? status::kEmpty : status::kNotEmpty);
    }
    // Anything else is opened as a read would open it; a size that cannot be measured (a pipe)
    // counts as not empty.
    sys::Fd fd(open_existing(path));
    if (!fd) return Status(status::kQueryNoFile, errno);
    Status result(sys::lseek(fd.get(), 0, SEEK_END) == 0 ? status::kEmpty : status::kNotEmpty);
    int err = 0;
    if (!close_checked(fd, err)) result = Status(status::kReadCloseFailed, err);
    return result;
}

}  // namespace kiv::store
