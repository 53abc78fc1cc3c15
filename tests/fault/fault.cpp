#include "tests/fault/fault.h"

#include <cerrno>
#include <cstring>

#include "sys/fault.h"

namespace kiv::test::fault {

namespace {
thread_local bool armed = false;
thread_local int target = 0;
thread_local Outcome outcome;
// Written only while a single thread runs (Platform's contract), read by any.
std::vector<Refusal> refused;
}  // namespace

void arm(int nth) {
    armed = true;
    target = nth;
    outcome = Outcome{};
}

Outcome disarm() {
    armed = false;
    return outcome;
}

Platform::Platform(std::vector<Refusal> refusals) { refused = std::move(refusals); }
Platform::~Platform() { refused.clear(); }

}  // namespace kiv::test::fault

namespace kiv::sys {

bool fault(int err, const char* call, int fd, long arg) noexcept {
    using namespace kiv::test::fault;
    if (armed) outcome.log.push_back(Call{call, fd, arg});
    for (const Refusal& r : refused) {
        if (std::strcmp(r.call, call) == 0 && (arg & r.flags) == r.flags) {
            if (armed) outcome.log.back().failed = true;
            errno = r.err;
            return true;
        }
    }
    if (!armed || ++outcome.calls != target) return false;
    outcome.log.back().failed = true;
    outcome.failed_at = outcome.log.size() - 1;
    outcome.failed = call;
    outcome.err = err;
    errno = err;
    return true;
}

int opened(int fd) noexcept {
    using namespace kiv::test::fault;
    if (armed) outcome.log.back().fd = fd;
    return fd;
}

}  // namespace kiv::sys
