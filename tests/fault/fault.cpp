#include "tests/fault/fault.h"

#include <cerrno>

#include "sys/sys.h"

namespace kiv::test::fault {

namespace {
thread_local bool armed = false;
thread_local int target = 0;
thread_local Outcome outcome;
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

}  // namespace kiv::test::fault

namespace kiv::sys {

bool fault(int err, const char* call) noexcept {
    using namespace kiv::test::fault;
    if (!armed) return false;
    if (++outcome.calls != target) return false;
    outcome.failed = call;
    outcome.err = err;
    errno = err;
    return true;
}

}  // namespace kiv::sys
