#include "store/store.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The number of the calling process's own descriptor that the proc link `link` (in the directory
// `dir`) stands for, as in /proc/self/fd/N, /proc/<own pid>/fd/N or /dev/fd/N; -1 for a link
// that names another process's descriptor.
int own_descriptor(const char* link, const char* dir) {
    const char* digits = link + dir_prefix_length(link);
    // Decimal, as the kernel reads it: no sign, no leading zero.
    if (digits[0] == '\0' || (digits[0] == '0' && digits[1] != '\0')) return -1;
    long n = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return -1;
        n = n * 10 + (*c - '0');
        if (n > INT_MAX) return -1;
    }
    return sys::lists_own_descriptors(dir) ? static_cast<int>(n) : -1;
}

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

// Temporary files are named ".<stem>.kivtmp-<12 hex digits>" beside their target. The stem is
// the target's name, or for a name over 100 bytes its first whole characters, "~" and 16 hex
// digits of a hash of the whole name: a temporary name never takes more than 121 bytes, so one
// fits beside every file a file system can hold. The digits are 20 random bits and then, in 28
// bits, the seconds since the system started (its monotonic clock, which no one can set) when
// the file was made: the age a leftover is judged by (see sweep_leftovers()).
constexpr char kTempTag[] = ".kivtmp-";
constexpr std::size_t kTempTagLength = sizeof kTempTag - 1;
constexpr std::size_t kTempDigits = 12;
constexpr unsigned kStampBits = 28;
constexpr std::uint64_t kStampMask = (std::uint64_t{1} << kStampBits) - 1;
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
    bool descriptor = false;  // an open file's link: see resolve_links(); only `own` is set
    int own = -1;             // for a descriptor: the caller's own descriptor it stands for
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

bool resolve_links(const char* path, Location& at, int& err) {
    return resolve_links(path, at.name, at.st, at.exists, at.descriptor, at.own, err);
}

// Finds where path's file is. With open_flags, the directory is always opened, with them, unless
// the path names an open file (at.descriptor).
bool locate(const char* path, Location& at, int& err, int open_flags = 0) {
    if (!resolve_links(path, at, err)) return false;
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

// One of the caller's own descriptors, duplicated, with what it is open for: through it the
// library has exactly the caller's rights to the file, which may belong to another app (a file
// from a content URI) and could not be opened again by its name.
struct Descriptor {
    sys::Fd fd;
    int flags = 0;  // its status flags: access mode, O_APPEND, ...
    struct stat st {};
};

// Duplicates the caller's descriptor n if it is open for writing (`write`) or for reading; a
// descriptor that is not, or names a directory, fails as a write or read through it would
// (EBADF, EISDIR).
bool duplicate(int n, bool write, Descriptor& out, int& err) {
    out.fd = sys::Fd(sys::dup(n));
    if (!out.fd || (out.flags = sys::status_flags(out.fd.get())) < 0 ||
        sys::fstat(out.fd.get(), &out.st) != 0) {
        err = errno;
        return false;
    }
    const int access = out.flags & O_ACCMODE;
    bool usable = write ? access == O_WRONLY || access == O_RDWR : access != O_WRONLY;
#ifdef O_PATH
    usable = usable && (out.flags & O_PATH) == 0;  // a handle that can neither read nor write
#endif
    err = !usable ? EBADF : S_ISDIR(out.st.st_mode) ? EISDIR : 0;
    return err == 0;
}

// Opens the file at path to read or measure it: as fopen("r+") would (it must exist and be
// writable too), or, where the path stands for one of the caller's own descriptors, a duplicate
// of that descriptor, which needs only to be open for reading. Invalid, with err set, on failure.
sys::Fd open_to_read(const char* path, int& err) {
    // A path whose last part is no symbolic link names no descriptor, and is opened at once.
    sys::Fd fd(sys::open(path, O_RDWR | O_NOCTTY | O_NOFOLLOW));
    if (fd || errno != ELOOP) {
        err = errno;
        return fd;
    }
    Location at;
    Descriptor d;
    if (resolve_links(path, at, err) && at.descriptor && at.own >= 0) {
        if (duplicate(at.own, false, d, err)) fd = std::move(d.fd);
        return fd;
    }
    fd = sys::Fd(open_existing(path));
    if (!fd) err = errno;
    return fd;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t seconds_since_start(const timespec& now) {
    return static_cast<std::uint64_t>(now.tv_sec) & kStampMask;
}

// Creates a temporary file beside the target, exclusively, and puts its name (relative to
// at.dir) in temp and the random number it was made from in r. The name only has to be unlikely
// to collide: O_EXCL settles any collision, and another name is tried.
sys::Fd create_temp(const Location& at, mode_t mode, char (&temp)[PATH_MAX], std::uint64_t& r,
                    int& err) {
    char prefix[kTempPrefixMax + 1];
    temp_prefix(at.file_name(), prefix);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // The time tells saves apart across processes, the stack address threads within one.
    const std::uint64_t seed = mix(static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                                   static_cast<std::uint64_t>(now.tv_nsec)) ^
                               mix(reinterpret_cast<std::uintptr_t>(&now));
    const std::uint64_t stamp = seconds_since_start(now);
    for (int attempt = 0; attempt < 16; ++attempt) {
        r = mix(seed + static_cast<std::uint64_t>(attempt));
        const std::uint64_t digits = ((r & 0xFFFFF) << kStampBits) | stamp;
        std::snprintf(temp, sizeof temp, "%.*s%s%0*llx", static_cast<int>(at.prefix), at.name,
                      prefix, static_cast<int>(kTempDigits),
                      static_cast<unsigned long long>(digits));
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

// Closes fd after a write that ended with `result`; a failed close turns success into 608.
Status close_after(sys::Fd& fd, Status result) {
    int err = 0;
    if (!close_checked(fd, err) && result.code == kOk) result = Status(status::kCloseFailed, err);
    return result;
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

// Writes the file where it stands, opened by path as fopen("w+") would open it (created if
// missing; with create_new, only if missing): used where no temporary file can stand in for the
// target. A regular file is overwritten as above; anything else gets a stdio stream.
Status write_in_place(const char* path, const unsigned char* p, std::size_t n, SaveMode mode) {
    const int exclusive = mode == SaveMode::create_new ? O_EXCL : 0;
    sys::Fd fd(sys::open(path, O_RDWR | O_CREAT | O_NOCTTY | exclusive, 0666));
    if (!fd) return Status(status::kOpenFailed, errno);
    struct stat st;
    if (sys::fstat(fd.get(), &st) != 0) return Status(status::kOpenFailed, errno);
    if (!S_ISREG(st.st_mode)) return write_stream(std::move(fd), p, n);
    return close_after(fd, overwrite(fd.get(), static_cast<std::size_t>(st.st_size), p, n));
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

// Saves through the caller's own descriptor n: the file it is open on holds exactly the new text
// afterwards, from offset 0, also through an O_APPEND descriptor, and the descriptor's position
// is left where it was. A descriptor that cannot seek (a pipe, a socket) gets the bytes once, in
// order.
Status write_through(int n, const unsigned char* p, std::size_t size) {
    Descriptor d;
    int err = 0;
    if (!duplicate(n, true, d, err)) return Status(status::kOpenFailed, err);
    if (!S_ISREG(d.st.st_mode)) return write_stream(std::move(d.fd), p, size);
    Status result(status::kSaved);
    {
        AppendOff append(d.fd.get(), d.flags);
        result = append.err() != 0
                     ? Status(status::kWriteFailed, append.err())
                     : overwrite(d.fd.get(), static_cast<std::size_t>(d.st.st_size), p, size);
    }
    return close_after(d.fd, result);
}

// A temporary file of a save that was killed stays behind. One save in kSweepEvery (chosen by
// its temporary name's random number) looks for those of its target that are older than
// kLeftoverAge by the stamp in their names (no save takes that long), and removes them,
// provided the directory is small enough for a look at it to be cheap. The stamp is the
// monotonic clock's, which never jumps, so a running save's file is never taken for a leftover
// whatever happens to the wall clock; one made before the system last started is removed (its
// stamp looks far in the future or the past), or, by chance, once it looks old.
constexpr std::uint64_t kSweepEvery = 16;
constexpr std::uint64_t kLeftoverAge = 10 * 60;
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
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t today = seconds_since_start(now);
        while (const dirent* e = sys::readdir(d)) {
            if (!is_temp_name(e->d_name, prefix, prefix_len)) continue;
            const std::uint64_t made = std::strtoull(e->d_name + prefix_len, nullptr, 16);
            if (((today - made) & kStampMask) <= kLeftoverAge) continue;
            struct stat left;
            if (sys::fstatat(dirfd(d), e->d_name, &left) == 0 && S_ISREG(left.st_mode)) {
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
    mode_t bits = 0666;
    if (at.exists) {
        if (S_ISDIR(at.st.st_mode)) return Status(status::kOpenFailed, EISDIR);
        if (!S_ISREG(at.st.st_mode)) return write_in_place(path, scrambled, n, mode);
        // Refuse, as "w+" would, a file that cannot be opened for reading and writing.
        if (sys::access_for_update(path) != 0) return Status(status::kOpenFailed, errno);
        if (mode == SaveMode::create_new) return Status(status::kWriteFailed, EEXIST);
        bits = at.st.st_mode & 07777;
    }
    // Nothing is written past the file-size limit: the signal of a write beyond it kills the
    // process where it is not ignored (on Android's runtime).
    if (!sys::within_file_size_limit(n)) return Status(status::kWriteFailed, EFBIG);
    // Writing in place, where nothing else will do; a file it makes is made durable by name too.
    const auto in_place = [&] {
        const Status result = write_in_place(path, scrambled, n, mode);
        if (result.code == kOk && !at.exists) sync_entries(at);
        return result;
    };
    // A temporary file made where nothing can be removed would stay for good.
    if (keeps_everything(at)) return in_place();

    char temp[PATH_MAX];
    std::uint64_t r = 0;
    sys::Fd fd = create_temp(at, bits, temp, r, err);
    if (!fd) {
        // Without a temporary file the only way left is writing in place; where an old file
        // exists, take it only when the directory refuses new files, not when the disk is full.
        if (!at.exists || refuses_new_files(err)) return in_place();
        return Status(status::kOpenFailed, err);
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
    const bool renamed = result.code == kOk;
    if (renamed) {
        sync_entries(at);
    } else if (result.code == status::kWriteFailed.code && refuses_rename(result.err) &&
               mode == SaveMode::replace) {
        // Where the rename is refused but the file itself may be written, save as a plain write
        // would; if it cannot even be opened, the rename's refusal is the answer.
        const Status written = in_place();
        if (written.code != status::kOpenFailed.code) result = written;
    }
    if (!renamed) {
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

void sync(const char* path) noexcept {
    int err = 0;
    sys::Fd fd = open_to_read(path, err);
    if (fd) sys::fsync(fd.get());
    Location at;
    if (locate(path, at, err) && !at.descriptor) sync_entries(at);
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
        // locked, through the caller's own descriptor where it is one.
        at.opened = sys::Fd(at.own >= 0 ? sys::dup(at.own) : sys::open(path, O_RDONLY | O_NOCTTY));
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

DirectoryLock::~DirectoryLock() {
    // A lock taken through a duplicate of the caller's descriptor belongs to the open file they
    // share, which outlives the duplicate: it is given back explicitly.
    if (state_ == State::held) sys::unlock(dir_.get());
}

Status read(const char* path, sys::Buffer& text, std::size_t& n) noexcept {
    int err = 0;
    sys::Fd fd = open_to_read(path, err);
    if (!fd) return Status(status::kNoFile, err);
    Status result(status::kRead);
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
    if (sys::lstat(path, &st) != 0) return Status(status::kQueryNoFile, errno);
    bool opened = false;  // a link standing for one of the caller's own descriptors
    if (S_ISLNK(st.st_mode)) {
        Location at;
        int err = 0;
        opened = resolve_links(path, at, err) && at.descriptor && at.own >= 0;
        if (!opened && sys::stat(path, &st) != 0) return Status(status::kQueryNoFile, errno);
    }
    if (!opened) {
        if (S_ISDIR(st.st_mode)) return Status(status::kQueryNoFile, EISDIR);
        if (S_ISREG(st.st_mode)) {
            if (sys::access_for_update(path) != 0) return Status(status::kQueryNoFile, errno);
            return Status(st.st_size == 0 ? status::kEmpty : status::kNotEmpty);
        }
    }
    // Anything else is opened as a read would open it; a size that cannot be measured (a pipe)
    // counts as not empty.
    int err = 0;
    sys::Fd fd = open_to_read(path, err);
    if (!fd) return Status(status::kQueryNoFile, err);
    std::size_t size = 0;
    Status result(measure(fd.get(), size, err) && size == 0 ? status::kEmpty : status::kNotEmpty);
    if (!close_checked(fd, err)) result = Status(status::kReadCloseFailed, err);
    return result;
}

}  // namespace kiv::store
