// The program that runs inside the power-cut virtual machine, on the file system under test,
// with the library's own store and identity code. Every line it prints goes to the console,
// where the host reads it.
//
//   kiv_powercut_guest check DIR      reads every file with the library and prints what it holds
//   kiv_powercut_guest run DIR RUN    saves, deletes and makes identities until the power is cut,
//                                     printing one line after each answer
//
// Files: "s" (a short name) and a 240-byte name save texts of 100 B, 4 KiB and 1 MiB in turn;
// "d" is saved (4 KiB) and deleted in turn; "id" holds an identity whose tag alternates, so
// every call replaces it. Iteration i of run R uses version R * 100000 + i; every text is
// determined by its file, version and size, and names them in its first line and ends with a
// checksum, so a reader can tell a complete text from a torn, mixed or stale one.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/codec.h"
#include "identity/identity.h"
#include "store/store.h"

namespace {

struct File {
    const char* key;  // what the console calls it
    std::string name;
};

std::string long_name() {
    std::string name = "long-";
    while (name.size() < 239) name += "\xE9\x95\xB7";  // U+9577, three bytes
    name += 'x';
    return name;  // 5 + 78 * 3 + 1 = 240 bytes
}

const File kFiles[] = {{"s", "s"}, {"L", long_name()}, {"d", "d"}};
constexpr const char* kIdentity = "id";
constexpr std::size_t kSizes[] = {100, 4096, 1 << 20};
constexpr std::uint64_t kRunStride = 100000;

void say(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    std::size_t len = std::min(static_cast<std::size_t>(n), sizeof line - 2);
    line[len++] = '\n';
    // One write per line, so a cut never leaves half a line that looks whole.
    if (write(STDOUT_FILENO, line, len) != static_cast<ssize_t>(len)) std::exit(3);
}

std::uint64_t fnv1a(const unsigned char* p, std::size_t n) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

// The one text of file number `file`, version `version`, `size` bytes.
std::string make_text(int file, std::uint64_t version, std::size_t size) {
    char header[96];
    std::snprintf(header, sizeof header, "kiv-powercut file=%d version=%llu size=%zu\n", file,
                  static_cast<unsigned long long>(version), size);
    constexpr std::size_t kTrailer = 22;  // "\nsum=" + 16 hex digits + "\n"
    std::string text(header);
    std::uint64_t x = (version << 8) ^ static_cast<std::uint64_t>(file) ^ 0x9E3779B97F4A7C15ull;
    while (text.size() < size - kTrailer) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        text += static_cast<char>(' ' + x % 95);
    }
    const std::uint64_t sum =
        fnv1a(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    char trailer[kTrailer + 1];
    std::snprintf(trailer, sizeof trailer, "\nsum=%016llx\n", static_cast<unsigned long long>(sum));
    return text + trailer;
}

std::string hex(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string path_of(const std::string& dir, const std::string& name) { return dir + "/" + name; }

void check_text(const std::string& dir, int index) {
    const File& f = kFiles[index];
    kiv::sys::Buffer text;
    std::size_t n = 0;
    const kiv::store::Status read = kiv::store::read(path_of(dir, f.name).c_str(), text, n);
    if (read.code == kiv::store::status::kNoFile.code && read.err == ENOENT) {
        say("STATE %s absent", f.key);
        return;
    }
    if (read.code != kiv::store::kOk) {
        say("STATE %s bad read=%d err=%d", f.key, read.code, read.err);
        return;
    }
    int file = -1;
    unsigned long long version = 0;
    std::size_t size = 0;
    const char* reason = nullptr;
    if (std::sscanf(text.chars(), "kiv-powercut file=%d version=%llu size=%zu\n", &file, &version,
                    &size) != 3) {
        reason = "no-header";
    } else if (file != index) {
        reason = "other-file";
    } else if (size != n) {
        reason = "wrong-size";
    } else if (make_text(index, version, size) != std::string(text.chars(), n)) {
        reason = "wrong-content";
    }
    if (reason == nullptr) {
        say("STATE %s version=%llu size=%zu", f.key, version, n);
        return;
    }
    const std::size_t head = std::min<std::size_t>(n, 96);
    const std::size_t tail = std::min<std::size_t>(n - head, 48);
    say("STATE %s bad %s size=%zu head=%s tail=%s", f.key, reason, n, hex(text.get(), head).c_str(),
        hex(text.get() + n - tail, tail).c_str());
}

void check_identity(const std::string& dir) {
    kiv::sys::Buffer plain;
    std::size_t n = 0;
    const kiv::store::Status read = kiv::store::read(path_of(dir, kIdentity).c_str(), plain, n);
    if (read.code == kiv::store::status::kNoFile.code && read.err == ENOENT) {
        say("STATE id absent");
    } else if (read.code != kiv::store::kOk) {
        say("STATE id bad read=%d err=%d", read.code, read.err);
    } else {
        say("STATE id plain=%s", hex(plain.get(), n).c_str());
    }
}

int check(const std::string& dir) {
    for (int i = 0; i < 3; ++i) check_text(dir, i);
    check_identity(dir);
    // Everything else in the directory: the host allows only the library's temporary files.
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        say("FAIL opendir %s", std::strerror(errno));
        return 1;
    }
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "lost+found" || name == kIdentity) continue;
        bool known = false;
        for (const File& f : kFiles) known = known || name == f.name;
        if (known) continue;
        struct stat st;
        const long long size = lstat(path_of(dir, name).c_str(), &st) == 0 ? st.st_size : -1;
        say("ENTRY %s size=%lld",
            hex(reinterpret_cast<const unsigned char*>(name.data()), name.size()).c_str(), size);
    }
    closedir(d);
    say("CHECKED");
    return 0;
}

int run(const std::string& dir, std::uint64_t run_number) {
    say("RUN %llu", static_cast<unsigned long long>(run_number));
    for (std::uint64_t i = 0;; ++i) {
        const std::uint64_t version = run_number * kRunStride + i;
        for (int index = 0; index < 3; ++index) {
            const File& f = kFiles[index];
            const std::string path = path_of(dir, f.name);
            if (index == 2 && i % 2 == 1) {
                const kiv::store::Status s = kiv::store::remove(path.c_str());
                if (s.code != kiv::store::status::kDeleted.code) {
                    say("FAIL delete %s code=%d err=%d", f.key, s.code, s.err);
                    return 1;
                }
                say("OK %s %llu deleted", f.key, static_cast<unsigned long long>(version));
                continue;
            }
            const std::size_t size = index == 2 ? 4096 : kSizes[(i + index) % 3];
            const std::string text = make_text(index, version, size);
            const kiv::store::Status s = kiv::store::save(
                path.c_str(), reinterpret_cast<const unsigned char*>(text.data()), text.size());
            if (s.code != kiv::store::kOk) {
                say("FAIL save %s code=%d err=%d", f.key, s.code, s.err);
                return 1;
            }
            say("OK %s %llu saved", f.key, static_cast<unsigned long long>(version));
        }
        if (i % 5 == 0) {
            const char* tag = (i / 5) % 2 == 0 ? "pc-even" : "pc-odd";
            kiv::sys::Buffer id;
            std::size_t n = 0;
            if (!kiv::identity::get_or_make(path_of(dir, kIdentity).c_str(),
                                            reinterpret_cast<const unsigned char*>(tag),
                                            std::strlen(tag), id, n)) {
                say("FAIL identity %s", tag);
                return 1;
            }
            kiv::sys::Buffer plain(n);
            kiv::codec::unscramble(id.get(), n, plain.get());
            say("OK id %llu tag=%s plain=%s", static_cast<unsigned long long>(version), tag,
                hex(plain.get(), n).c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "run") == 0) {
        return run(argv[2], std::strtoull(argv[3], nullptr, 10));
    }
    std::fprintf(stderr, "usage: %s check DIR | run DIR RUN\n", argv[0]);
    return 2;
}
