#pragma once
// Makes the Nth failable C library call of the calling thread fail, in the library built with
// KIV_FAULT_INJECTION (every such call goes through sys/sys.h), and can make chosen calls fail
// on every thread, the way a platform refuses them (Android's SELinux refusing link(), an old
// kernel without renameat2).

#include <cerrno>
#include <string>
#include <vector>

namespace kiv::test::fault {

// A failable call, as made while armed.
struct Call {
    std::string name;
    int fd = -1;          // the descriptor it acts on, or the one it made (open, openat, dup)
    long arg = 0;         // open flags, a write's offset, a truncation's length
    bool failed = false;  // made to fail, or refused
};

struct Outcome {
    int calls = 0;                 // failable calls made while armed
    const char* failed = nullptr;  // the call made to fail, or null if the operation made fewer
    int err = 0;                   // the errno it failed with
    std::vector<Call> log;         // every call made while armed, in order
    std::size_t failed_at = 0;     // the failed call's place in the log

    // Whether a call named `name` was made and not failed, after log[from] if given.
    bool made(const std::string& name, long arg = -1, std::size_t from = 0) const {
        for (std::size_t i = from; i < log.size(); ++i)
            if (log[i].name == name && !log[i].failed && (arg < 0 || log[i].arg == arg))
                return true;
        return false;
    }
};

// Arms the calling thread: its nth failable call from now on fails.
void arm(int nth);
// Disarms the calling thread and tells what happened since arm().
Outcome disarm();

// A call the platform refuses every time, on every thread, with err; with flags, only a call
// made with all of them (an openat that creates: a directory refusing new files).
struct Refusal {
    const char* call;
    int err;
    long flags = 0;
};

// Refuses the calls named, until the scope ends. Make one only while no other thread runs.
class Platform {
public:
    explicit Platform(std::vector<Refusal> refusals);
    ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;
};

// The platforms an identity must be made right on: a desktop, Android (SELinux refuses hard
// links to apps, and before API 30 there is no renameat2), and file systems without locks (NFS
// refuses an exclusive lock of a directory with EBADF; injected, as no NFS mount is at hand).
struct PlatformCase {
    const char* what;
    std::vector<Refusal> refusals;
    bool locks;
};
inline const std::vector<PlatformCase> kPlatforms = {
    {"desktop", {}, true},
    {"Android", {{"link", EACCES}, {"renameat2", ENOSYS}}, true},
    {"no locks", {{"flock", ENOLCK}}, false},
    {"NFS", {{"flock", EBADF}}, false},
};

}  // namespace kiv::test::fault
