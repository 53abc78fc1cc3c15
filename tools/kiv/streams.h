#pragma once
// The tool's own standard streams, used byte for byte: no text mode, no locale, no buffering
// that could hide a failed write until exit.

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv::tool {

// Reads standard input to its end, appending to out. False, with err set, on a read error.
bool read_input(std::string& out, int& err);

// Writes all n bytes to standard output. False, with err set, on a write error.
bool write_output(const void* p, std::size_t n, int& err);
inline bool write_output(std::string_view s, int& err) {
    return write_output(s.data(), s.size(), err);
}

// Writes a diagnostic to standard error. A failure there has nowhere to be reported.
void write_error(std::string_view s);

}  // namespace kiv::tool
