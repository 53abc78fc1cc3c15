#include "store/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <utility>

#include "store/location.h"
#include "sys/sys.h"

namespace kiv::store {

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

// What an identity call through an open file's link (at, for path) locks: the directory where the
// file still has a name, the one its callers by that name lock, so that both kinds exclude each
// other; a name is taken only where it is the descriptor's very file (device and inode). A file
// without one (deleted, replaced, in a directory the caller cannot open, a pipe) has no lock
// shared with callers by path. Through the caller's own descriptor it then gets none at all: a
// flock through a duplicate would share the caller's open file, and so its flock, and a
// descriptor of our own, opened and closed again, would drop the record locks (fcntl's) the
// process holds on the file. Another process's open file is locked itself, through a descriptor
// of our own (the links' rule for such files: they are opened by their link).
sys::Fd lock_target(const char* path, const Location& at, int& err) {
    struct stat file, named;
    if ((at.own >= 0 ? sys::fstat(at.own, &file) : sys::stat(path, &file)) != 0) {
        err = errno;
        return sys::Fd();
    }
    char name[PATH_MAX];
    const ssize_t len = sys::readlink(at.name, name, sizeof name - 1);
    char dir[PATH_MAX];
    if (len > 0 && name[0] == '/') {
        name[len] = '\0';
        if (sys::lstat(name, &named) == 0 && named.st_dev == file.st_dev &&
            named.st_ino == file.st_ino && directory_of(name, dir)) {
            sys::Fd fd(sys::open(dir, O_RDONLY | O_DIRECTORY));
            if (fd) return fd;
        }
    }
    if (at.own >= 0) {
        err = ENOLCK;
        return sys::Fd();
    }
    sys::Fd fd(sys::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!fd) err = errno;
    return fd;
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
        at.opened = lock_target(path, at, err_);
        if (!at.opened) {
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

// The lock is the open file's, which only this object holds: it goes with the close.
DirectoryLock::~DirectoryLock() = default;

}  // namespace kiv::store
