#pragma once
// Inside sys/ only: whether a failable call is to fail. The fault-injection test build
// (KIV_FAULT_INJECTION) links a definition that counts calls and fails the one it is told to;
// in the shipped library nothing ever fails on purpose.

namespace kiv::sys {

#ifdef KIV_FAULT_INJECTION
// Counts failable calls on the calling thread and answers true, with errno set to `err`, for the
// one it was told to fail. `call` names the call.
bool fault(int err, const char* call) noexcept;
#else
constexpr bool fault(int, const char*) noexcept { return false; }
#endif

}  // namespace kiv::sys
