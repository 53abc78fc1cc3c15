// The one failure the crash-point self-check injects: every directory sync ("fsync(dir)") fails,
// which the library shrugs off (a save still answers 200), so a guest linked with this saves and
// deletes exactly as one that never syncs the directory would. Nothing else fails.

#include <cerrno>
#include <cstring>

#include "sys/fault.h"

namespace kiv::sys {

bool fault(int err, const char* call, int, long) noexcept {
    if (std::strcmp(call, "fsync(dir)") != 0) return false;
    errno = err;
    return true;
}

int opened(int fd) noexcept { return fd; }

}  // namespace kiv::sys
