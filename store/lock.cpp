#include "store/lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
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

}  // namespace kiv::store
