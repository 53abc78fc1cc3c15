#pragma once
// Exit codes and the diagnostics that go with them.

#include <string_view>

#include "store/status.h"

namespace kiv::tool {

enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,  // the operation failed; its status code and message were printed
    kExitUsage = 2,   // the command line was wrong; nothing was touched
    kExitIo = 3,      // the tool's own standard input or output failed (or memory ran out)
};

// Prints "kiv: CODE MESSAGE (gloss)" on standard error, the message and its English gloss being
// the library's own (store/status.h), and returns kExitFailed.
int fail(const store::Status& status);

// The same with a gloss of the tool's own, for what it knows better than the status tells (a
// directory, which the library answers as a missing file).
int fail(const store::Status& status, std::string_view gloss);

// Prints "kiv: TEXT" on standard error and returns kExitFailed, for failures that carry no
// status code (an identity that could not be got or made).
int fail(std::string_view text);

// Writes text to standard output: kExitOk, or stream_failure's answer.
int print(std::string_view text);

// Reports a failure of the tool's own stream (`what`: "read standard input", ...) and returns
// kExitIo. A closed pipe on standard output is not worth a message: the reader went away.
int stream_failure(std::string_view what, int err);

}  // namespace kiv::tool
