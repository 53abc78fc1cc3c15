#pragma once
// Makes the Nth failable C library call of the calling thread fail, in the library built with
// KIV_FAULT_INJECTION (every such call goes through sys/sys.h).

namespace kiv::test::fault {

struct Outcome {
    int calls = 0;                 // failable calls made while armed
    const char* failed = nullptr;  // the call made to fail, or null if the operation made fewer
    int err = 0;                   // the errno it failed with
};

// Arms the calling thread: its nth failable call from now on fails.
void arm(int nth);
// Disarms the calling thread and tells what happened since arm().
Outcome disarm();

}  // namespace kiv::test::fault
