#include "store/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "codec/codec.h"
#include "sys/sys.h"

namespace kiv::store {

bool measure(int fd, const struct stat& st, std::size_t& size, int& err) noexcept {
    off_t end = st.st_size;
    if (!S_ISREG(st.st_mode)) {
        // Anything else is measured by seeking to its end, its position put back afterwards: the
        // descriptor may share it with the caller's. A pipe cannot seek (ESPIPE).
        const off_t at = sys::lseek(fd, 0, SEEK_CUR);
        end = at < 0 ? at : sys::lseek(fd, 0, SEEK_END);
        if (end < 0) {
            err = errno;
            return false;
        }
        sys::lseek(fd, at, SEEK_SET);
    }
    // A Java string cannot hold more than 2^31 - 1 bytes; nothing larger is read.
    if (static_cast<std::uint64_t>(end) > static_cast<std::uint64_t>(INT32_MAX)) {
        err = ENOMEM;
        return false;
    }
    size = static_cast<std::size_t>(end);
    return true;
}

bool read_exact(int fd, void* buf, std::size_t n, off_t offset, int& err) noexcept {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        ssize_t got = sys::pread(fd, p, n, offset);
        if (got < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        if (got == 0) {  // the file shrank since it was measured
            err = EIO;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

bool write_all(int fd, const unsigned char* p, std::size_t n, int& err, off_t offset) noexcept {
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

bool read_unscrambled(int fd, std::size_t n, unsigned char* out, int& err) noexcept {
    // The file holds the even-position bytes (the front) first and the odd-position bytes (the
    // back) after them. The front is read straight into the top of out; the back is streamed
    // through a small stack buffer and each slice interleaved into out below the front bytes
    // still to be used, so no second buffer of the file's size is needed.
    constexpr std::size_t kSlice = 8 * 1024;
    constexpr std::size_t kMinSlice = 256;
    if (n <= kSlice) {  // a small file is read whole, in one call
        unsigned char stored[kSlice];
        if (!read_exact(fd, stored, n, 0, err)) return false;
        codec::unscramble(stored, n, out);
        return true;
    }
    const std::size_t pairs = n / 2;
    const std::size_t front = n - pairs;
    unsigned char* f = out + pairs;  // front[k] is at out[pairs + k]
    if (!read_exact(fd, f, front, 0, err)) return false;

    unsigned char back[kSlice];
    std::size_t k = 0;
    for (;;) {
        // Pairs k to k + m - 1 land in out[2k, 2k + 2m), which must end where their front
        // bytes begin: m <= (pairs - k) / 2.
        const std::size_t m = std::min(kSlice, (pairs - k) / 2);
        if (m < kMinSlice) break;
        if (!read_exact(fd, back, m, static_cast<off_t>(front + k), err)) return false;
        codec::unscramble_pairs(f + k, back, m, out + 2 * k);
        k += m;
    }
    // The last pairs overlap their own front bytes: one at a time, each front byte read before
    // its pair is written.
    const std::size_t rest = pairs - k;
    if (!read_exact(fd, back, rest, static_cast<off_t>(front + k), err)) return false;
    for (std::size_t j = 0; j < rest; ++j, ++k) {
        const unsigned char even = f[k];
        out[2 * k] = static_cast<unsigned char>(even - 1);
        out[2 * k + 1] = static_cast<unsigned char>(back[j] + 1);
    }
    if (n % 2 != 0) out[n - 1] = static_cast<unsigned char>(out[n - 1] - 1);  // already in place
    return true;
}

bool close_checked(sys::Fd& fd, int& err) noexcept {
    if (sys::close(fd.release()) != 0) {
        err = errno;
        return false;
    }
    return true;
}

}  // namespace kiv::store
