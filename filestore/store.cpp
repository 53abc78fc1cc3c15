#include "filestore/store.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "filestore/file_io.h"

namespace kiv::store {

namespace {

constexpr int kSaveOpenFailed = 606;
constexpr int kSaveWriteFailed = 607;
constexpr int kSaveCloseFailed = 608;

// Temporary files are named ".<name>.kivtmp-<12 hex digits>", beside their target.
constexpr char kTempTag[] = ".kivtmp-";
constexpr std::size_t kTempTagLength = sizeof kTempTag - 1;
constexpr std::size_t kTempDigits = 12;

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

// Follows symbolic links from path to the name of the file they end at, which need not exist.
bool resolve_links(const char* path, char (&out)[PATH_MAX], int& err) {
    if (!copy_path(out, sizeof out, out, 0, path)) {
        err = ENAMETOOLONG;
        return false;
    }
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (sys::lstat(out, &st) != 0) {
            if (errno == ENOENT) return true;  // a dangling link names the file to create
            err = errno;
            return false;
        }
        if (!S_ISLNK(st.st_mode)) return true;
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
    err = ELOOP;
    return false;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Creates ".<name>.kivtmp-<12 hex digits>" beside target, exclusively, and puts its name in
// temp. The name only has to be unlikely to collide: O_EXCL settles any collision, and another
// name is tried.
sys::Fd create_temp(const char* target, mode_t mode, char (&temp)[PATH_MAX], int& err) {
    const std::size_t dir_len = dir_prefix_length(target);
    const char* base = target + dir_len;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t seed = mix(static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
                             static_cast<std::uint64_t>(now.tv_nsec)) ^
                         mix(static_cast<std::uint64_t>(getpid())) ^
                         mix(reinterpret_cast<std::uintptr_t>(&now));
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto r =
            static_cast<unsigned long long>(mix(seed + static_cast<std::uint64_t>(attempt)));
        const int len = std::snprintf(
            temp, sizeof temp, "%.*s.%s%s%0*llx", static_cast<int>(dir_len), target, base, kTempTag,
            static_cast<int>(kTempDigits), r & ((1ull << (4 * kTempDigits)) - 1));
        if (len < 0 || static_cast<std::size_t>(len) >= sizeof temp) {
            err = ENAMETOOLONG;
            return sys::Fd();
        }
        sys::Fd fd(sys::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, mode));
        if (fd) return fd;
        err = errno;
        if (err != EEXIST) break;
    }
    return sys::Fd();
}

bool write_all(int fd, const unsigned char* p, std::size_t n, int& err) {
    while (n > 0) {
        ssize_t done = sys::write(fd, p, n);
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
    }
    return true;
}

// Writes the file where it stands, through a stdio stream opened with "w+": used where no
// temporary file can stand in for the target.
Status write_in_place(const char* path, const unsigned char* p, std::size_t n) {
    FILE* f = sys::fopen(path, "w+");
    if (f == nullptr) return {kSaveOpenFailed, msg::kOpenFailed, errno};
    Status status{kOk, msg::kSaved};
    if (sys::fwrite(p, 1, n, f) != n) status = {kSaveWriteFailed, msg::kWriteFailed, errno};
    if (sys::fclose(f) != 0) status = {kSaveCloseFailed, msg::kCloseFailed, errno};
    return status;
}

// A temporary file of a save that was killed stays behind. After each save, those of its
// target that are older than kLeftoverAge (no save takes that long) are removed, provided the
// directory is small enough for a look at it to be cheap.
constexpr time_t kLeftoverAge = 10 * 60;
constexpr off_t kCheapDirectory = 64 * 1024;  // bytes of directory entries

void sweep_leftovers(const char* target) {
    const std::size_t dir_len = dir_prefix_length(target);
    const char* base = target + dir_len;
    char dir[PATH_MAX] = ".";
    char prefix[NAME_MAX + 1];
    const std::size_t prefix_len = 1 + std::strlen(base) + kTempTagLength;
    if (prefix_len + kTempDigits > NAME_MAX) return;
    std::snprintf(prefix, sizeof prefix, ".%s%s", base, kTempTag);
    if (dir_len > 0) {
        std::memcpy(dir, target, dir_len);
        dir[dir_len] = '\0';
    }
    DIR* d = sys::opendir(dir);
    if (d == nullptr) return;
    struct stat st;
    if (sys::fstat(dirfd(d), &st) == 0 && st.st_size <= kCheapDirectory) {
        const time_t now = time(nullptr);
        while (const dirent* e = sys::readdir(d)) {
            if (std::strncmp(e->d_name, prefix, prefix_len) != 0 ||
                std::strlen(e->d_name) != prefix_len + kTempDigits) {
                continue;
            }
            struct stat left;
            if (sys::fstatat(dirfd(d), e->d_name, &left) == 0 && S_ISREG(left.st_mode) &&
                left.st_mtime + kLeftoverAge < now) {
                sys::unlinkat(dirfd(d), e->d_name);
            }
        }
    }
    closedir(d);
}

// Moves the finished temporary file to target. create_new publishes with link(), which fails
// if target appeared meanwhile; file systems without hard links fall back to rename().
Status publish(const char* temp, const char* target, SaveMode mode) {
    if (mode == SaveMode::create_new) {
        if (sys::link(temp, target) == 0) {
            sys::unlink(temp);
            return {kOk, msg::kSaved};
        }
        int err = errno;
        if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS && err != EMLINK) {
            return {kSaveWriteFailed, msg::kWriteFailed, err};
        }
    }
    if (sys::rename(temp, target) != 0) return {kSaveWriteFailed, msg::kWriteFailed, errno};
    return {kOk, msg::kSaved};
}

}  // namespace

Status save(const char* path, const unsigned char* scrambled, std::size_t n,
            SaveMode mode) noexcept {
    // Refuse, as "w+" would, a target that cannot be opened for reading and writing, and find
    // out what it is.
    bool exists = false;
    mode_t bits = 0666;
    {
        sys::Fd old(sys::open(path, O_RDWR | O_NOCTTY));
        if (old) {
            struct stat st;
            if (sys::fstat(old.get(), &st) != 0) return {kSaveOpenFailed, msg::kOpenFailed, errno};
            if (!S_ISREG(st.st_mode)) return write_in_place(path, scrambled, n);
            exists = true;
            bits = st.st_mode & 07777;
        } else if (errno != ENOENT) {
            return {kSaveOpenFailed, msg::kOpenFailed, errno};
        }
    }
    if (exists && mode == SaveMode::create_new)
        return {kSaveWriteFailed, msg::kWriteFailed, EEXIST};

    char target[PATH_MAX];
    char temp[PATH_MAX];
    int err = 0;
    sys::Fd fd;
    if (resolve_links(path, target, err)) fd = create_temp(target, bits, temp, err);
    if (!fd) {
        // Without a temporary file the only way left is writing in place; where an old file
        // exists, take it only when the directory refuses new files, not when the disk is full.
        if (!exists || err == EACCES || err == EPERM || err == EROFS || err == ENAMETOOLONG) {
            return write_in_place(path, scrambled, n);
        }
        return {kSaveOpenFailed, msg::kOpenFailed, err};
    }
    if (exists) sys::fchmod(fd.get(), bits);  // the umask must not narrow the old file's bits

    Status status{kOk, msg::kSaved};
    if (!write_all(fd.get(), scrambled, n, err)) {
        status = {kSaveWriteFailed, msg::kWriteFailed, err};
    } else if (sys::fsync(fd.get()) != 0) {
        status = {kSaveCloseFailed, msg::kCloseFailed, errno};
    }
    if (!close_checked(fd, err) && status.code == kOk) {
        status = {kSaveCloseFailed, msg::kCloseFailed, err};
    }
    if (status.code == kOk) status = publish(temp, target, mode);
    if (status.code != kOk) {
        sys::unlink(temp);
    } else {
        sweep_leftovers(target);
    }
    return status;
}

Status remove_file(const char* path) noexcept {
    // The file is opened first, so a missing file in a writable directory is created and then
    // removed (603); unlike "w+" the open does not truncate, so a failed removal keeps the data.
    sys::Fd fd(sys::open(path, O_RDWR | O_CREAT | O_NOCTTY, 0666));
    Status status{603, msg::kDeleted};
    if (sys::remove(path) != 0) status = {604, msg::kDeleteFailed, errno};
    int err = 0;
    if (fd && !close_checked(fd, err)) status = {kSaveCloseFailed, msg::kCloseFailed, err};
    return status;
}

Status read_file(const char* path, sys::Buffer& text, std::size_t& n) noexcept {
    sys::Fd fd(open_existing(path));
    if (!fd) return {703, msg::kNoFile};
    Status status{kOk, ""};
    int err = 0;
    std::size_t size = 0;
    if (!measure(fd.get(), size, err)) {
        status = {704, msg::kReadFailed, err};
    } else {
        sys::Buffer buf(size + 1);
        if (!buf) {
            status = {704, msg::kReadFailed, ENOMEM};
        } else if (!read_unscrambled(fd.get(), size, buf.get(), err)) {
            status = {704, msg::kReadFailed, err};
        } else {
            buf.get()[size] = 0;
            text = std::move(buf);
            n = size;
        }
    }
    if (!close_checked(fd, err)) status = {705, msg::kCloseFailed, err};
    return status;
}

Status query_file(const char* path) noexcept {
    sys::Fd fd(open_existing(path));
    if (!fd) return {803, msg::kNoFile};
    // A size that cannot be measured (a pipe) counts as not empty.
    Status status = sys::lseek(fd.get(), 0, SEEK_END) == 0 ? Status{804, msg::kEmpty}
                                                           : Status{kOk, msg::kNotEmpty};
    int err = 0;
    if (!close_checked(fd, err)) status = {705, msg::kCloseFailed, err};
    return status;
}

}  // namespace kiv::store
