#include "sys/sys.h"

namespace kiv::sys {

bool refuses_removal(int dir, const char* path) noexcept {
#if defined(SYS_statx) && defined(STATX_ATTR_APPEND)
#if defined(__ANDROID__)
    // Apps may make this call from Android 11 (API 30) on; before that the seccomp filter kills
    // the process for it.
    if (android_get_device_api_level() < 30) return false;
#endif
    if (fault(EIO, "statx")) return false;
    struct statx st {};
    if (::syscall(SYS_statx, dir, path, 0, 0u, &st) != 0) return false;
    constexpr unsigned long long kKeeps = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    return (st.stx_attributes & st.stx_attributes_mask & kKeeps) != 0;
#else
    (void)dir, (void)path;
    return false;
#endif
}

}  // namespace kiv::sys
