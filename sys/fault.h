#pragma once
// Inside sys/ only: whether a failable call is to fail. The fault-injection test build
// (KIV_FAULT_INJECTION) links a definition that counts calls and fails the one it is told to;
// in the shipped library nothing ever fails on purpose.

namespace kiv::sys {

#ifdef KIV_FAULT_INJECTION
// Counts failable calls on the calling thread and answers true, with errno set to `err`, for the
// one it was told to fail. `call` names the call, `fd` the descriptor it acts on and `arg` its
// flags or length, where a test checks them.
bool fault(int err, const char* call, int fd = -1, long arg = 0) noexcept;
// Notes the descriptor that the call just let through made (or -1); returns it.
int opened(int fd) noexcept;
#else
constexpr bool fault(int, const char*, int = -1, long = 0) noexcept { return false; }
constexpr int opened(int fd) noexcept { return fd; }
#endif

}  // namespace kiv::sys
