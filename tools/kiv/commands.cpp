#include "tools/kiv/commands.h"

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codec.h"
#include "identity/identity.h"
#include "store/store.h"
#include "sys/buffer.h"
#include "text/utf.h"
#include "tools/kiv/report.h"
#include "tools/kiv/streams.h"

namespace kiv::tool {

namespace {

const unsigned char* bytes_of(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
const unsigned char* bytes_of(const std::string& s) { return bytes_of(s.data()); }

// Runs all of standard input through a codec function to standard output.
int transform(void (*codec)(const unsigned char*, std::size_t, unsigned char*) noexcept) {
    std::string in;
    int err = 0;
    if (!read_input(in, err)) return stream_failure("read standard input", err);
    std::string out(in.size(), '\0');
    codec(bytes_of(in), in.size(), reinterpret_cast<unsigned char*>(out.data()));
    return print(out);
}

// The n bytes at p as the app receives them in a Java string, written out as UTF-8: bytes the
// VM takes as they are stay as they are; anything else becomes what the library turns it into
// (each invalid byte U+FFFD). A lone surrogate, which UTF-8 cannot carry, prints as U+FFFD.
std::string as_java_string(const unsigned char* p, std::size_t n) {
    if (text::is_modified_utf8(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
    std::vector<char16_t> units(n);
    const std::size_t count = text::decode_utf8(p, n, units.data());
    std::string out(3 * count, '\0');
    out.resize(
        text::encode_utf8(units.data(), count, reinterpret_cast<unsigned char*>(out.data())));
    return out;
}

// The library answers a directory as it answers a missing file (703, 803: it cannot be opened
// for reading and writing); the tool tells the two apart for its user.
bool is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr const char* kDirectoryGloss = "a directory, not a file";

// Fails with the library's status, naming a directory as such.
int fail_at(const char* path, const store::Status& status) {
    if ((status.code == store::status::kNoFile.code ||
         status.code == store::status::kQueryNoFile.code) &&
        is_directory(path)) {
        return fail(status, kDirectoryGloss);
    }
    return fail(status);
}

bool all_digits(std::string_view s) {
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The plain identity split into its number and its tag. Where the tag is known and the plain
// text is digits followed by it, the split is exact; otherwise the number is the leading run
// of digits.
std::string identity_lines(std::string_view plain, const char* tag) {
    std::size_t split = 0;
    std::size_t tag_len = tag == nullptr ? 0 : std::strlen(tag);
    if (tag != nullptr && plain.size() >= tag_len && plain.substr(plain.size() - tag_len) == tag &&
        all_digits(plain.substr(0, plain.size() - tag_len))) {
        split = plain.size() - tag_len;
    } else {
        while (split < plain.size() && plain[split] >= '0' && plain[split] <= '9') ++split;
    }
    std::string out = "number: ";
    out.append(plain.substr(0, split));
    out += "\ntag: ";
    out.append(plain.substr(split));
    out += '\n';
    return out;
}

int show_identity(const char* path) {
    if (*path == '\0') return fail(store::Status(store::status::kReadPathEmpty));
    sys::Buffer plain;
    std::size_t n = 0;
    store::Status status = store::read(path, plain, n);
    if (status.code != store::kOk) return fail_at(path, status);
    if (n == 0) return fail(std::string(path) + " holds no identity: the file is empty");
    // An identity is its number, written without leading zeros, then its tag. (The number 0 has
    // no digits at all: such an identity, one in 2^31, is shown only with its tag.)
    if (plain.chars()[0] < '1' || plain.chars()[0] > '9') {
        return fail(std::string(path) +
                    " holds no identity: its text does not start with a number");
    }
    return print(identity_lines(std::string_view(plain.chars(), n), nullptr));
}

int get_or_make_identity(const char* path, const char* tag) {
    if (*tag == '\0') {
        write_error("kiv: identity: the tag must not be empty\nTry 'kiv identity --help'.\n");
        return kExitUsage;
    }
    if (*path == '\0') return fail("cannot get or make an identity: the path is empty");
    sys::Buffer scrambled;
    std::size_t n = 0;
    if (!identity::get_or_make(path, bytes_of(tag), std::strlen(tag), scrambled, n)) {
        return fail(std::string("cannot get or make an identity at ") + path +
                    (is_directory(path) ? ": it is a directory" : "") +
                    " (the app would receive null)");
    }
    std::string plain(n, '\0');
    codec::unscramble(scrambled.get(), n, reinterpret_cast<unsigned char*>(plain.data()));
    std::string out = "scrambled: " + as_java_string(scrambled.get(), n) + "\n";
    out += identity_lines(plain, tag);
    return print(out);
}

}  // namespace

int run_read(const Invocation& inv) {
    const char* path = inv.args[0];
    if (*path == '\0') return fail(store::Status(store::status::kReadPathEmpty));
    sys::Buffer text;
    std::size_t n = 0;
    store::Status status = store::read(path, text, n);
    if (status.code != store::kOk) return fail_at(path, status);
    int err = 0;
    if (!write_output(text.get(), n, err) || (inv.newline && !write_output("\n", 1, err))) {
        return stream_failure("write standard output", err);
    }
    return kExitOk;
}

int run_write(const Invocation& inv) {
    const char* path = inv.args[0];
    if (*path == '\0') return fail(store::Status(store::status::kSavePathEmpty));
    std::string input;
    const unsigned char* text = bytes_of(inv.args[1]);
    std::size_t n = std::strlen(inv.args[1]);
    if (std::string_view(inv.args[1]) == "-") {
        int err = 0;
        if (!read_input(input, err)) return stream_failure("read standard input", err);
        text = bytes_of(input);
        n = input.size();
    }
    if (n == 0) {
        store::Status status = store::remove(path);
        return status.code == store::status::kDeleted.code ? kExitOk : fail(status);
    }
    store::Status status = store::save(path, text, n);
    return status.code == store::kOk ? kExitOk : fail(status);
}

int run_query(const Invocation& inv) {
    const char* path = inv.args[0];
    if (*path == '\0') return fail(store::Status(store::status::kQueryPathEmpty));
    store::Status status = store::query(path);
    switch (status.code) {
        case store::kOk: return print("present\n");
        case store::status::kEmpty.code: return print("empty\n");
        case store::status::kQueryNoFile.code:
            return print(is_directory(path) ? "directory\n" : "missing\n");
        default: return fail(status);
    }
}

int run_encode(const Invocation&) { return transform(codec::scramble); }

int run_decode(const Invocation&) { return transform(codec::unscramble); }

int run_identity(const Invocation& inv) {
    if (inv.tag == nullptr) return show_identity(inv.args[0]);
    return get_or_make_identity(inv.args[0], inv.tag);
}

}  // namespace kiv::tool
