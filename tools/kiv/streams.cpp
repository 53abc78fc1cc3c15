#include "tools/kiv/streams.h"

#include <unistd.h>

#include <cerrno>

namespace kiv::tool {

namespace {

bool write_fd(int fd, const char* p, std::size_t n, int& err) {
    while (n > 0) {
        ssize_t done = ::write(fd, p, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        p += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

bool read_input(std::string& out, int& err) {
    char buf[65536];
    for (;;) {
        ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        if (got == 0) return true;
        out.append(buf, static_cast<std::size_t>(got));
    }
}

bool write_output(const void* p, std::size_t n, int& err) {
    return write_fd(STDOUT_FILENO, static_cast<const char*>(p), n, err);
}

void write_error(std::string_view s) {
    int ignored = 0;
    write_fd(STDERR_FILENO, s.data(), s.size(), ignored);
}

}  // namespace kiv::tool
