#pragma once
// Makes the Nth failable C library call of the calling thread fail, in the library built with
// KIV_FAULT_INJECTION (every such call goes through sys/sys.h), and can make chosen calls fail
// on every thread, the way a platform refuses them (Android's SELinux refusing link(), an old
// kernel without renameat2).

#include <set>
#include <string>
#include <vector>

namespace kiv::test::fault {

struct Outcome {
    int calls = 0;                 // failable calls made while armed
    const char* failed = nullptr;  // the call made to fail, or null if the operation made fewer
    int err = 0;                   // the errno it failed with
    std::set<std::string> made;    // the names of the calls made while armed
};

// Arms the calling thread: its nth failable call from now on fails.
void arm(int nth);
// Disarms the calling thread and tells what happened since arm().
Outcome disarm();

// A call the platform refuses every time, on every thread, with err.
struct Refusal {
    const char* call;
    int err;
};

// Refuses the calls named, until the scope ends. Make one only while no other thread runs.
class Platform {
public:
    explicit Platform(std::vector<Refusal> refusals);
    ~Platform();
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;
};

}  // namespace kiv::test::fault
