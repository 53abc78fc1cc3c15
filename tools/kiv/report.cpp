#include "tools/kiv/report.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "tools/kiv/streams.h"

namespace kiv::tool {

int fail(const store::Status& status) { return fail(status, store::gloss(status.code)); }

int fail(const store::Status& status, std::string_view gloss) {
    char message[store::kMaxMessage];
    store::format_message(status, message, sizeof message);
    std::string line = "kiv: " + std::to_string(status.code) + " " + message + " (";
    line.append(gloss);
    line += ")\n";
    write_error(line);
    return kExitFailed;
}

int fail(std::string_view text) {
    std::string line = "kiv: ";
    line.append(text);
    line += '\n';
    write_error(line);
    return kExitFailed;
}

int print(std::string_view text) {
    int err = 0;
    if (!write_output(text, err)) return stream_failure("write standard output", err);
    return kExitOk;
}

int stream_failure(std::string_view what, int err) {
    if (err != EPIPE) {
        std::string line = "kiv: cannot ";
        line.append(what);
        line += ": ";
        line += std::strerror(err);
        line += '\n';
        write_error(line);
    }
    return kExitIo;
}

}  // namespace kiv::tool
