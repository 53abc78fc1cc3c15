// kiv: reads and writes the library's stored files from a desktop. See README.md.
#include <csignal>
#include <new>

#include "tools/kiv/cli.h"
#include "tools/kiv/report.h"
#include "tools/kiv/streams.h"

int main(int argc, char** argv) {
    // A reader that goes away shows up as a failed write (exit 3), not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return kiv::tool::run(argc, argv);
    } catch (const std::bad_alloc&) {
        kiv::tool::write_error("kiv: out of memory\n");
        return kiv::tool::kExitIo;
    }
}
