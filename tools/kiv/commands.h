#pragma once
// The commands. Each takes an accepted command line and returns the tool's exit code, having
// printed its result on standard output and any failure on standard error.

#include "tools/kiv/cli.h"

namespace kiv::tool {

int run_read(const Invocation& inv);      // read FILE
int run_write(const Invocation& inv);     // write FILE TEXT|-
int run_query(const Invocation& inv);     // query FILE
int run_encode(const Invocation& inv);    // encode
int run_decode(const Invocation& inv);    // decode
int run_identity(const Invocation& inv);  // identity FILE [--tag TAG]

}  // namespace kiv::tool
