#include "tools/kiv/streams.h"

#include <unistd.h>

#include <cerrno>

#include "store/file_io.h"

namespace kiv::tool {

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
    return store::write_all(STDOUT_FILENO, static_cast<const unsigned char*>(p), n, err);
}

void write_error(std::string_view s) {
    int ignored = 0;
    store::write_all(STDERR_FILENO, reinterpret_cast<const unsigned char*>(s.data()), s.size(),
                     ignored);
}

}  // namespace kiv::tool
