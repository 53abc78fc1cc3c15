#pragma once
// The command line: the table of commands, their help, and the parsing of their arguments.

#include <cstddef>
#include <vector>

namespace kiv::tool {

// What a command is run with once its command line has been accepted.
struct Invocation {
    std::vector<const char*> args;  // the operands, in order
    bool newline = false;           // -n, --newline
    const char* tag = nullptr;      // -t, --tag TAG; null when not given
};

// Runs the tool: argv[0] is the program, argv[1] the command. Returns the exit code.
int run(int argc, char** argv);

}  // namespace kiv::tool
