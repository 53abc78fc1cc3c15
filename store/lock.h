#pragma once
// A lock for callers that look at a file and then replace it, and must not be interleaved with
// each other (the identity).

#include "sys/fd.h"

namespace kiv::store {

// An exclusive lock on the directory that holds path's file (its symbolic links followed), for
// callers that look at a file and then replace it and must not be interleaved with each other:
// held until the scope ends, by one caller at a time across threads and processes. For an open
// file's link (/proc/self/fd/N) it is the directory where the file still has its name, so that
// callers through descriptors and callers by that name exclude each other; a file without one
// is not locked through the caller's own descriptor (that would change the caller's own locks:
// see lock_target() in lock.cpp), and another process's open file is locked itself. The lock is
// waited for a quarter of a second at most. Where the file system takes no locks, the directory
// cannot be read, or the lock stays held past that, it is `unsupported` and callers go on without
// it; `failed` means the directory could not be opened (err tells why).
class DirectoryLock {
public:
    enum class State { held, unsupported, failed };

    explicit DirectoryLock(const char* path) noexcept;
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    State state() const noexcept { return state_; }
    int err() const noexcept { return err_; }

private:
    sys::Fd dir_;
    State state_ = State::failed;
    int err_ = 0;
};

}  // namespace kiv::store
