#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sys/sys.h"

#if defined(__ANDROID__)
#include <stdlib.h>  // arc4random_buf
#elif defined(__linux__)
#include <sys/random.h>
#endif

#include "sys/fault.h"

namespace kiv::sys {

namespace {

#if !defined(__ANDROID__)
bool read_urandom(unsigned char* out, size_t n) noexcept {
    Fd fd(sys::open("/dev/urandom", O_RDONLY));
    if (!fd) return false;
    while (n > 0) {
        ssize_t got = ::read(fd.get(), out, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}
#endif

}  // namespace

bool entropy(void* buf, size_t n) noexcept {
    if (fault(ENOSYS, "entropy")) return false;
#if defined(__ANDROID__)
    // bionic's generator is seeded from the kernel and never fails.
    arc4random_buf(buf, n);
    return true;
#else
    auto* out = static_cast<unsigned char*>(buf);
#if defined(__linux__)
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::getrandom(out + done, n - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            break;  // ENOSYS on old kernels: try the device instead
        }
        done += static_cast<size_t>(got);
    }
    if (done == n) return true;
#endif
    return read_urandom(out, n);
#endif
}

}  // namespace kiv::sys
