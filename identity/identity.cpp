#include "identity/identity.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "codec/codec.h"
#include "store/lock.h"
#include "store/store.h"
#include "sys/sys.h"

namespace kiv::identity {

namespace {

enum class Lookup {
    found,    // a stored identity contains the tag
    no_file,  // nothing at the path: a new identity may only be published if still nothing is
    replace,  // an identity for another tag, or an empty file
    failed,   // the file could not be opened, measured or read: leave it alone
};

// The stored form of n plain bytes, in a new buffer with a zero after them.
bool scrambled_copy(const unsigned char* plain, std::size_t n, sys::Buffer& out) {
    sys::Buffer buf(n + 1);
    if (!buf) return false;
    codec::scramble(plain, n, buf.get());
    buf.get()[n] = 0;
    out = std::move(buf);
    return true;
}

Lookup lookup(const char* path, const unsigned char* tag, std::size_t tag_len,
              sys::Buffer& scrambled, std::size_t& n) {
    sys::Buffer plain;
    std::size_t size = 0;
    const store::Status read = store::read(path, plain, size);
    // Only a missing file lets a new identity be made; any other failure to open it (a file we
    // may not write, a directory, a transient error) must not cost the stored identity.
    if (read.code == store::status::kNoFile.code) {
        return read.err == ENOENT ? Lookup::no_file : Lookup::failed;
    }
    if (read.code != store::kOk) return Lookup::failed;
    const unsigned char* begin = plain.get();
    const unsigned char* end = begin + size;
    if (size == 0 || std::search(begin, end, tag, tag + tag_len) == end) return Lookup::replace;
    if (!scrambled_copy(begin, size, scrambled)) return Lookup::failed;
    n = size;
    return Lookup::found;
}

// A value uniform over 0 to 2^31 - 1 from the system's entropy source. Only where none can be
// read does it fall back to the C library's 48-bit generator, on a state of its own seeded with
// the time in nanoseconds, so that the process's own lrand48 sequence is left alone.
std::uint32_t draw() {
    std::uint32_t r = 0;
    if (sys::entropy(&r, sizeof r)) return r & 0x7FFFFFFFu;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto ns = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(now.tv_nsec);
    unsigned short state[3] = {static_cast<unsigned short>(ns),
                               static_cast<unsigned short>(ns >> 16),
                               static_cast<unsigned short>(ns >> 32)};
    return static_cast<std::uint32_t>(nrand48(state));
}

// The plain identity: the decimal digits of r (none for 0) followed by the tag.
bool make_plain(const unsigned char* tag, std::size_t tag_len, sys::Buffer& plain, std::size_t& n) {
    char digits[10];
    std::size_t d = 0;
    for (std::uint32_t r = draw(); r != 0; r /= 10) digits[d++] = static_cast<char>('0' + r % 10);
    sys::Buffer buf(d + tag_len);
    if (!buf) return false;
    std::reverse_copy(digits, digits + d, buf.get());
    std::memcpy(buf.get() + d, tag, tag_len);
    plain = std::move(buf);
    n = d + tag_len;
    return true;
}

}  // namespace

bool get_or_make(const char* path, const unsigned char* tag, std::size_t tag_len,
                 sys::Buffer& scrambled, std::size_t& n) noexcept {
    // Looking and making are one step for every caller on this path, in any thread or process:
    // under the directory's lock, which a maker holds until its identity is durable, look, and
    // make one only if still nobody has. So no identity is handed out that a power cut could take
    // back, not even one another process has only just published.
    store::DirectoryLock lock(path);
    if (lock.state() == store::DirectoryLock::State::failed) return false;
    // An identity found without the lock may be one its maker has not yet made durable.
    const auto found_one = [&] {
        if (lock.state() != store::DirectoryLock::State::held) store::sync(path);
        return true;
    };
    Lookup found = lookup(path, tag, tag_len, scrambled, n);
    if (found == Lookup::found) return found_one();
    if (found == Lookup::failed) return false;

    sys::Buffer plain;
    std::size_t len = 0;
    sys::Buffer made;
    if (!make_plain(tag, tag_len, plain, len) || !scrambled_copy(plain.get(), len, made)) {
        return false;
    }

    // Where there is no file, the identity is also published only where nothing is, so that
    // callers on a file system without locks still agree: if another one published first and
    // it carries the tag, that one is everybody's identity.
    store::SaveMode mode =
        found == Lookup::no_file ? store::SaveMode::create_new : store::SaveMode::replace;
    store::Status saved = store::save(path, plain.get(), len, mode);
    if (saved.code != store::kOk && mode == store::SaveMode::create_new && saved.err == EEXIST) {
        found = lookup(path, tag, tag_len, scrambled, n);
        if (found == Lookup::found) return found_one();
        if (found == Lookup::failed) return false;
        saved = store::save(path, plain.get(), len, store::SaveMode::replace);
    }
    // A save that answered 200 has synced its directory too: the identity survives a power cut.
    if (saved.code != store::kOk) return false;
    scrambled = std::move(made);
    n = len;
    return true;
}

}  // namespace kiv::identity
