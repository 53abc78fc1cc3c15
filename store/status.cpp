#include "store/status.h"

#include <cstring>

namespace kiv::store {

namespace {

// strerror_r comes in two shapes: the XSI one returns an int and fills the buffer, the GNU one
// (glibc with _GNU_SOURCE, and bionic from API 23 with it) returns the text.
[[maybe_unused]] const char* strerror_result(int rc, const char* buf) noexcept {
    return rc == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char* strerror_result(const char* text, const char*) noexcept {
    return text;
}

constexpr const StatusKind* kTable[] = {
    &status::kSaved,
    &status::kSavePathEmpty,
    &status::kSavePathConversion,
    &status::kDeleted,
    &status::kDeleteFailed,
    &status::kContentConversion,
    &status::kOpenFailed,
    &status::kWriteFailed,
    &status::kCloseFailed,
    &status::kReadPathEmpty,
    &status::kReadPathConversion,
    &status::kNoFile,
    &status::kReadFailed,
    &status::kReadCloseFailed,
    &status::kQueryPathEmpty,
    &status::kQueryPathConversion,
    &status::kQueryNoFile,
    &status::kEmpty,
};

bool ends_with_colon(const char* text) noexcept {
    constexpr char kColon[] = "：";  // U+FF1A
    const std::size_t n = std::strlen(text);
    const std::size_t c = sizeof kColon - 1;
    return n >= c && std::memcmp(text + n - c, kColon, c) == 0;
}

}  // namespace

const char* gloss(int code) noexcept {
    if (code == kOk) return "done";
    for (const StatusKind* kind : kTable) {
        if (kind->code == code) return kind->gloss;
    }
    return "unknown status";
}

std::size_t format_message(const Status& status, char* out, std::size_t size) noexcept {
    if (size == 0) return 0;
    std::size_t len = 0;
    auto append = [&](const char* s) {
        std::size_t n = std::strlen(s);
        if (n > size - 1 - len) n = size - 1 - len;
        std::memcpy(out + len, s, n);
        len += n;
    };
    append(status.text);
    if (status.err != 0 && ends_with_colon(status.text)) {
        char buf[256];
        buf[0] = '\0';
        append(strerror_result(strerror_r(status.err, buf, sizeof buf), buf));
    }
    out[len] = '\0';
    return len;
}

}  // namespace kiv::store
