#include "store/temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sys/sys.h"

namespace kiv::store {

namespace {

std::uint64_t fnv1a(const char* s) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (; *s != '\0'; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 0x100000001B3ull;
    return h;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t seconds_since_start(const timespec& now) {
    return static_cast<std::uint64_t>(now.tv_sec) & kStampMask;
}

constexpr std::uint64_t kSweepEvery = 16;
constexpr std::uint64_t kLeftoverAge = 10 * 60;
constexpr off_t kCheapDirectory = 64 * 1024;  // bytes of directory entries

// A number unlikely to repeat: the time tells saves apart across processes, the stack address
// threads within one.
std::uint64_t seed(timespec& now) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    return mix(static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull +
               static_cast<std::uint64_t>(now.tv_nsec)) ^
           mix(reinterpret_cast<std::uintptr_t>(&now));
}

}  // namespace

std::size_t temp_prefix(const char* name, char (&out)[kTempPrefixMax + 1]) {
    std::size_t len = std::strlen(name);
    int n;
    if (len <= kWholeNameMax) {
        n = std::snprintf(out, sizeof out, ".%s%s", name, kTempTag);
    } else {
        len = kCutNameMax;
        while (len > 0 && (static_cast<unsigned char>(name[len]) & 0xC0) == 0x80) --len;
        n = std::snprintf(out, sizeof out, ".%.*s~%0*llx%s", static_cast<int>(len), name,
                          static_cast<int>(kHashDigits),
                          static_cast<unsigned long long>(fnv1a(name)), kTempTag);
    }
    return static_cast<std::size_t>(n);
}

bool is_temp_name(const char* entry, const char* prefix, std::size_t prefix_len) {
    if (std::strncmp(entry, prefix, prefix_len) != 0) return false;
    const char* digits = entry + prefix_len;
    std::size_t i = 0;
    for (; digits[i] != '\0'; ++i) {
        const char c = digits[i];
        if (i == kTempDigits || !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return i == kTempDigits;
}

sys::Fd create_temp(const Location& at, mode_t mode, char (&temp)[PATH_MAX], std::uint64_t& r,
                    int& err) {
    char prefix[kTempPrefixMax + 1];
    temp_prefix(at.file_name(), prefix);
    timespec now{};
    const std::uint64_t base = seed(now);
    const std::uint64_t stamp = seconds_since_start(now);
    for (int attempt = 0; attempt < 16; ++attempt) {
        r = mix(base + static_cast<std::uint64_t>(attempt));
        const std::uint64_t digits = ((r & 0xFFFFF) << kStampBits) | stamp;
        std::snprintf(temp, sizeof temp, "%.*s%s%0*llx", static_cast<int>(at.prefix), at.name,
                      prefix, static_cast<int>(kTempDigits),
                      static_cast<unsigned long long>(digits));
        sys::Fd fd(sys::openat(at.dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, mode));
        if (fd) return fd;
        err = errno;
        if (err != EEXIST) break;
    }
    return sys::Fd();
}

bool sweeps(std::uint64_t r) { return (r >> (4 * kTempDigits)) % kSweepEvery == 0; }

bool sweep_due() {
    timespec now{};
    return sweeps(mix(seed(now)));
}

int sweep_leftovers(const Location& at, bool forced) {
    char prefix[kTempPrefixMax + 1];
    const std::size_t prefix_len = temp_prefix(at.file_name(), prefix);
    char dir[PATH_MAX];
    at.directory(dir);
    DIR* d = sys::opendir_at(at.dir, dir);
    if (d == nullptr) return 0;
    int removed = 0;
    struct stat st;
    if (forced || (sys::fstat(dirfd(d), &st) == 0 && st.st_size <= kCheapDirectory)) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t today = seconds_since_start(now);
        while (const dirent* e = sys::readdir(d)) {
            if (!is_temp_name(e->d_name, prefix, prefix_len)) continue;
            const std::uint64_t made = std::strtoull(e->d_name + prefix_len, nullptr, 16);
            if (((today - made) & kStampMask) <= kLeftoverAge) continue;
            struct stat left;
            if (sys::fstatat(dirfd(d), e->d_name, &left) == 0 && S_ISREG(left.st_mode) &&
                sys::unlinkat(dirfd(d), e->d_name) == 0) {
                ++removed;
            }
        }
    }
    sys::closedir(d);
    return removed;
}

}  // namespace kiv::store
