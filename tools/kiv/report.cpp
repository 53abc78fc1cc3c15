#include "tools/kiv/report.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "tools/kiv/streams.h"

namespace kiv::tool {

const char* gloss(int code) {
    switch (code) {
        case 200: return "done";
        case 601:
        case 701:
        case 801: return "path is empty";
        case 603: return "content is empty, file deleted";
        case 604: return "content is empty, but the file could not be deleted";
        case 605: return "content could not be converted";
        case 606: return "could not open the file";
        case 607: return "could not write the file";
        case 608: return "could not sync or close the file";
        case 703:
        case 803: return "does not exist or cannot be opened for reading and writing";
        case 704: return "could not read the content";
        case 705: return "could not close the file";
        case 804: return "file is present and empty";
        default: return "unknown status";
    }
}

int fail(const store::Status& status) {
    char message[store::kMaxMessage];
    store::format_message(status, message, sizeof message);
    std::string line =
        "kiv: " + std::to_string(status.code) + " " + message + " (" + gloss(status.code) + ")\n";
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
