#include "filestore/file_io.h"

#include <algorithm>
#include <cstdint>

#include "codec/codec.h"

namespace kiv::store {

int open_existing(const char* path) noexcept { return sys::open(path, O_RDWR | O_NOCTTY); }

bool measure(int fd, std::size_t& size, int& err) noexcept {
    off_t end = sys::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        err = errno;
        return false;
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

bool read_unscrambled(int fd, std::size_t n, unsigned char* out, int& err) noexcept {
    // The file holds the even-position bytes first and the odd-position bytes after them, so
    // matching slices of the two halves are read side by side and interleaved into out.
    constexpr std::size_t kSlice = 64 * 1024;
    const std::size_t front = n - n / 2;
    const std::size_t pairs = n / 2;
    sys::Buffer scratch(std::min(n, 2 * kSlice));
    if (!scratch) {
        err = ENOMEM;
        return false;
    }
    unsigned char* f = scratch.get();
    for (std::size_t k = 0; k < pairs; k += kSlice) {
        const std::size_t m = std::min(kSlice, pairs - k);
        unsigned char* b = f + m;
        if (!read_exact(fd, f, m, static_cast<off_t>(k), err) ||
            !read_exact(fd, b, m, static_cast<off_t>(front + k), err)) {
            return false;
        }
        unscramble_pairs(f, b, m, out + 2 * k);
    }
    if (n % 2 != 0) {  // the last even-position byte has no partner
        if (!read_exact(fd, f, 1, static_cast<off_t>(front - 1), err)) return false;
        out[n - 1] = static_cast<unsigned char>(f[0] - 1);
    }
    return true;
}

bool read_all(int fd, std::size_t n, sys::Buffer& out, int& err) noexcept {
    sys::Buffer buf(n + 1);
    if (!buf) {
        err = ENOMEM;
        return false;
    }
    if (!read_exact(fd, buf.get(), n, 0, err)) return false;
    buf.get()[n] = 0;
    out = std::move(buf);
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
