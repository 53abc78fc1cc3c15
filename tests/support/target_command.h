#pragma once
// The command line that runs a program built for the target: prefixed with the emulator a
// cross build runs its tests under (KIV_TEST_EMULATOR, e.g. "qemu-aarch64","-L","/usr/..."),
// or the program alone on a native build.

#include <string>
#include <vector>

#ifndef KIV_TEST_EMULATOR
#define KIV_TEST_EMULATOR
#endif

namespace kiv::test {

inline std::vector<std::string> target_command(const std::string& program,
                                               const std::vector<std::string>& args) {
    std::vector<std::string> cmd = {KIV_TEST_EMULATOR};
    cmd.push_back(program);
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
}

// argv for exec/posix_spawn, pointing into cmd (which must outlive it).
inline std::vector<char*> argv_of(std::vector<std::string>& cmd) {
    std::vector<char*> argv;
    for (std::string& s : cmd) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

}  // namespace kiv::test
