// The program that runs inside the power-cut virtual machine, on the file system under test,
// with the library's own store and identity code. Every line it prints goes to the console,
// where the host reads it.
//
//   kiv_powercut_guest check DIR      reads every file with the library and prints what it holds
//   kiv_powercut_guest run DIR RUN    saves, deletes and makes identities until the power is cut,
//                                     printing one line after each answer
//   kiv_powercut_guest record DISK LOG DIR FS OPTIONS RUN ITERATIONS
//                                     mounts DISK through a dm-log-writes target that logs every
//                                     write, flush and FUA write to LOG, runs ITERATIONS of the
//                                     workload with a mark in the log after each answer ("a<n>"
//                                     after the n-th), marks "end" and unmounts
//   kiv_powercut_guest replay LOG DISK COW DIR FS OPTIONS FROM
//                                     replays the log onto DISK (a copy of the recording's
//                                     starting image) entry by entry; at every flush, FUA write
//                                     and mark from entry FROM up to "end" it mounts a snapshot
//                                     of DISK (its changes go to COW, so the replay never sees
//                                     them), which recovers the file system as after a power cut
//                                     there, and checks the files as `check` does
//
// Files: "s" (a short name) and a 240-byte name save texts of 100 B, 4 KiB and 1 MiB in turn;
// "d" is saved (4 KiB) and deleted in turn; "id" holds an identity whose tag alternates, so
// every call replaces it. Iteration i of run R uses version R * 100000 + i; every text is
// determined by its file, version and size, and names them in its first line and ends with a
// checksum, so a reader can tell a complete text from a torn, mixed or stale one.

#include <dirent.h>
#include <fcntl.h>
#include <linux/dm-ioctl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "identity/identity.h"
#include "store/store.h"
#include "sys/fd.h"

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

// --- device-mapper, as much as the recording and the replay need ---------------------------

// The device-mapper ioctls dmsetup would make: a device with one target, a message to it, its
// removal. Each failure is printed as a FAIL line.
class DeviceMapper {
public:
    DeviceMapper() : control_(::open("/dev/mapper/control", O_RDWR | O_CLOEXEC)) {
        if (!control_) say("FAIL open /dev/mapper/control: %s", std::strerror(errno));
    }
    explicit operator bool() const { return static_cast<bool>(control_); }

    // Makes device `name`, `sectors` 512-byte sectors of one `type` target, active, with a
    // block node at `node`.
    bool create(const char* name, std::uint64_t sectors, const char* type,
                const std::string& params, const char* node) {
        dm_ioctl created{};
        if (!call(DM_DEV_CREATE, "create", name, nullptr, 0, &created)) return false;
        std::vector<char> table(sizeof(dm_target_spec) + (params.size() + 8) / 8 * 8, 0);
        dm_target_spec target{};
        target.sector_start = 0;
        target.length = sectors;
        target.next = static_cast<std::uint32_t>(table.size());
        std::snprintf(target.target_type, sizeof target.target_type, "%s", type);
        std::memcpy(table.data(), &target, sizeof target);
        std::memcpy(table.data() + sizeof target, params.c_str(), params.size());
        if (!call(DM_TABLE_LOAD, "load", name, table.data(), table.size(), nullptr, 1) ||
            !call(DM_DEV_SUSPEND, "resume", name, nullptr, 0, nullptr)) {
            remove(name);
            return false;
        }
        ::unlink(node);
        if (::mknod(node, S_IFBLK | 0600, static_cast<dev_t>(created.dev)) != 0) {
            say("FAIL mknod %s: %s", node, std::strerror(errno));
            return false;
        }
        return true;
    }

    bool message(const char* name, const std::string& text) {
        // A dm_target_msg for sector 0: the sector, then the text with its terminating zero.
        const std::string msg = std::string(sizeof(dm_target_msg), '\0') + text + '\0';
        return call(DM_TARGET_MSG, "message", name, msg.data(), msg.size(), nullptr);
    }

    // A device is busy for a moment after the last close of a file system on it.
    bool remove(const char* name) {
        for (int tries = 0; tries < 100; ++tries) {
            if (call(DM_DEV_REMOVE, nullptr, name, nullptr, 0, nullptr)) return true;
            if (errno != EBUSY) break;
            usleep(10000);
        }
        say("FAIL remove %s: %s", name, std::strerror(errno));
        return false;
    }

private:
    // One ioctl with `payload` after the header; `what` names it in a FAIL line (none if null).
    bool call(unsigned long request, const char* what, const char* name, const void* payload,
              std::size_t size, dm_ioctl* out, std::uint32_t targets = 0) {
        std::vector<std::uint64_t> words((sizeof(dm_ioctl) + size + 7) / 8);
        auto* io = reinterpret_cast<dm_ioctl*>(words.data());
        io->version[0] = DM_VERSION_MAJOR;
        io->data_size = static_cast<std::uint32_t>(words.size() * 8);
        io->data_start = sizeof(dm_ioctl);
        io->target_count = targets;
        std::snprintf(io->name, sizeof io->name, "%s", name);
        if (size > 0) std::memcpy(reinterpret_cast<char*>(io) + sizeof(dm_ioctl), payload, size);
        if (::ioctl(control_.get(), request, io) != 0) {
            const int err = errno;
            if (what != nullptr) say("FAIL dm %s %s: %s", what, name, std::strerror(err));
            errno = err;
            return false;
        }
        if (out != nullptr) *out = *io;
        return true;
    }

    kiv::sys::Fd control_;
};

std::uint64_t sectors_of(const char* device) {
    kiv::sys::Fd fd(::open(device, O_RDONLY | O_CLOEXEC));
    std::uint64_t bytes = 0;
    if (!fd || ::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0) {
        say("FAIL size of %s: %s", device, std::strerror(errno));
        return 0;
    }
    return bytes / 512;
}

// A file system type and mount options as mount(8) takes them ("noatime,nosuid,nodev,...").
struct Mount {
    std::string type;
    unsigned long flags = 0;
    std::string data;

    Mount(const char* fs, const char* options) : type(fs) {
        std::string rest = options;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string word = rest.substr(0, comma);
            rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            if (word == "noatime") {
                flags |= MS_NOATIME;
            } else if (word == "nosuid") {
                flags |= MS_NOSUID;
            } else if (word == "nodev") {
                flags |= MS_NODEV;
            } else {
                data += (data.empty() ? "" : ",") + word;
            }
        }
    }
    int at(const char* device, const std::string& dir) const {
        return ::mount(device, dir.c_str(), type.c_str(), flags, data.c_str());
    }
};

// --- the workload ---------------------------------------------------------------------------

// The marks of a recorded run: "a<n>" in the log after the n-th answer.
class Marks {
public:
    Marks(DeviceMapper& dm, const char* device) : dm_(dm), device_(device) {}
    bool answered() { return dm_.message(device_, "mark a" + std::to_string(++answers_)); }
    bool end() { return dm_.message(device_, "mark end"); }

private:
    DeviceMapper& dm_;
    const char* device_;
    unsigned answers_ = 0;
};

// The workload: `iterations` of it (0: until the power is cut), with a mark after each answer
// when `marks` is given.
int run(const std::string& dir, std::uint64_t run_number, std::uint64_t iterations, Marks* marks) {
    say("RUN %llu", static_cast<unsigned long long>(run_number));
    const auto answered = [&] { return marks == nullptr || marks->answered(); };
    for (std::uint64_t i = 0; iterations == 0 || i < iterations; ++i) {
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
                if (!answered()) return 1;
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
            if (!answered()) return 1;
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
            if (!answered()) return 1;
        }
    }
    return 0;
}

// --- crash points ---------------------------------------------------------------------------

constexpr const char* kLogDevice = "kivlog";
constexpr const char* kStateDevice = "kivstate";

int record(const char* disk, const char* log, const std::string& dir, const Mount& mount,
           std::uint64_t run_number, std::uint64_t iterations) {
    DeviceMapper dm;
    const std::uint64_t sectors = sectors_of(disk);
    const std::string node = std::string("/dev/") + kLogDevice;
    if (!dm || sectors == 0 ||
        !dm.create(kLogDevice, sectors, "log-writes", std::string(disk) + " " + log,
                   node.c_str())) {
        return 1;
    }
    if (mount.at(node.c_str(), dir) != 0) {
        say("FAIL mount %s: %s", mount.type.c_str(), std::strerror(errno));
        return 1;
    }
    Marks marks(dm, kLogDevice);
    if (run(dir, run_number, iterations, &marks) != 0 || !marks.end()) return 1;
    if (::umount(dir.c_str()) != 0) {
        say("FAIL umount: %s", std::strerror(errno));
        return 1;
    }
    // Removing the target writes out what it still holds and the log's final entry count.
    if (!dm.remove(kLogDevice)) return 1;
    say("RECORDED");
    return 0;
}

// The on-disk log of dm-log-writes, little-endian as this machine: a header sector (magic,
// version, entry count, sector size), then per entry a sector holding {sector, sector count,
// flags, mark length} and a mark's text, followed by the written sectors (none for a flush, a
// mark or a discard). Sectors count in the header's sector size.
constexpr std::uint64_t kLogMagic = 0x6a736677736872ull;
constexpr std::uint64_t kLogFlush = 1, kLogFua = 2, kLogDiscard = 4, kLogMark = 8;

struct LogEntry {
    std::uint64_t sector, sectors, flags, mark_length;
};

class Replay {
public:
    Replay(const char* log, const char* disk, const char* cow, const std::string& dir,
           const Mount& mount)
        : log_(::open(log, O_RDONLY | O_CLOEXEC)),
          disk_(log_ ? ::open(disk, O_RDWR | O_CLOEXEC) : -1),
          open_err_(errno),
          disk_name_(disk),
          cow_(cow),
          dir_(dir),
          mount_(mount) {}

    // Checks the points from log entry `from` on (the earlier ones were checked by a machine
    // that stalled).
    int from(std::uint64_t first) {
        if (!log_ || !disk_) {
            say("FAIL open the %s: %s", log_ ? "disk" : "log", std::strerror(open_err_));
            return 1;
        }
        if (!dm_) return 1;
        std::uint64_t super[4] = {};
        if (!read_at(0, super, sizeof super)) return 1;
        const std::uint64_t entries = super[2];
        sector_size_ = static_cast<std::uint32_t>(super[3]);
        if (super[0] != kLogMagic || super[1] != 1 || sector_size_ < 512 ||
            sector_size_ % 512 != 0) {
            say("FAIL not a version 1 log-writes log");
            return 1;
        }
        disk_sectors_ = sectors_of(disk_name_);
        if (disk_sectors_ == 0) return 1;
        say("REPLAY %llu entries", static_cast<unsigned long long>(entries));
        std::vector<char> head(sector_size_);
        std::uint64_t at = sector_size_;
        bool changed = false;
        unsigned long long states = 0, writes = 0, discards = 0;
        for (std::uint64_t i = 0; i < entries; ++i) {
            if (!read_at(at, head.data(), head.size())) return 1;
            at += sector_size_;
            LogEntry e;
            std::memcpy(&e, head.data(), sizeof e);
            const std::uint64_t bytes = e.sectors * sector_size_;
            if (e.flags & kLogDiscard) {
                if (!zero(e.sector * sector_size_, bytes)) return 1;
                changed = true;
                ++discards;
            } else if (bytes > 0) {
                if (!copy(at, e.sector * sector_size_, bytes)) return 1;
                at += bytes;
                changed = true;
                ++writes;
            }
            if ((e.flags & (kLogFlush | kLogFua | kLogMark)) == 0) continue;
            if (i < first) {
                changed = false;  // as if checked
                continue;
            }
            std::string mark;
            if (e.flags & kLogMark) {
                mark.assign(head.data() + sizeof e,
                            std::min<std::size_t>(e.mark_length, sector_size_ - sizeof e));
            }
            say("POINT %llu%s%s%s%s%s", static_cast<unsigned long long>(i),
                e.flags & kLogFlush ? " flush" : "", e.flags & kLogFua ? " fua" : "",
                mark.empty() ? "" : " mark ", mark.c_str(), changed ? "" : " unchanged");
            if (changed) {
                if (!check_state()) return 1;
                changed = false;
                ++states;
            }
            if (mark == "end") {
                say("REPLAYED %llu states, %llu writes, %llu discards", states, writes, discards);
                return 0;
            }
        }
        say("FAIL the log ends before its mark \"end\"");
        return 1;
    }

private:
    bool read_at(std::uint64_t offset, void* buf, std::size_t n) {
        if (::pread(log_.get(), buf, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n)) {
            say("FAIL read the log at %llu: %s", static_cast<unsigned long long>(offset),
                std::strerror(errno));
            return false;
        }
        return true;
    }
    bool write_at(std::uint64_t offset, const void* buf, std::size_t n) {
        if (::pwrite(disk_.get(), buf, n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n)) {
            say("FAIL write the disk at %llu: %s", static_cast<unsigned long long>(offset),
                std::strerror(errno));
            return false;
        }
        return true;
    }
    bool copy(std::uint64_t from, std::uint64_t to, std::uint64_t n) {
        while (n > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, kChunk));
            if (!read_at(from, buffer_.data(), chunk) || !write_at(to, buffer_.data(), chunk)) {
                return false;
            }
            from += chunk, to += chunk, n -= chunk;
        }
        return true;
    }
    // A discarded range may read back as anything; zeros are what a discarding disk gives.
    bool zero(std::uint64_t to, std::uint64_t n) {
        std::fill(buffer_.begin(), buffer_.end(), 0);
        while (n > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, kChunk));
            if (!write_at(to, buffer_.data(), chunk)) return false;
            to += chunk, n -= chunk;
        }
        return true;
    }

    // The disk as replayed so far, mounted on a snapshot and checked; a file system that does
    // not mount is reported, not fatal.
    bool check_state() {
        if (::fdatasync(disk_.get()) != 0) {
            say("FAIL sync the disk: %s", std::strerror(errno));
            return false;
        }
        const std::string node = std::string("/dev/") + kStateDevice;
        if (!dm_.create(kStateDevice, disk_sectors_, "snapshot",
                        std::string(disk_name_) + " " + cow_ + " N 8", node.c_str())) {
            return false;
        }
        if (mount_.at(node.c_str(), dir_) != 0) {
            say("UNMOUNTABLE %s", std::strerror(errno));
        } else {
            const int checked = check(dir_);
            if (::umount(dir_.c_str()) != 0) {
                say("FAIL umount: %s", std::strerror(errno));
                return false;
            }
            if (checked != 0) return false;
        }
        return dm_.remove(kStateDevice);
    }

    static constexpr std::size_t kChunk = 1 << 20;
    kiv::sys::Fd log_, disk_;
    int open_err_;
    const char* disk_name_;
    std::string cow_;
    std::string dir_;
    Mount mount_;
    DeviceMapper dm_;
    std::uint32_t sector_size_ = 512;
    std::uint64_t disk_sectors_ = 0;
    std::vector<char> buffer_ = std::vector<char>(kChunk);
};

}  // namespace

int main(int argc, char** argv) {
    const auto is = [&](const char* command, int args) {
        return argc == args + 2 && std::strcmp(argv[1], command) == 0;
    };
    if (is("check", 1)) return check(argv[2]);
    if (is("run", 2)) return run(argv[2], std::strtoull(argv[3], nullptr, 10), 0, nullptr);
    if (is("record", 7)) {
        return record(argv[2], argv[3], argv[4], Mount(argv[5], argv[6]),
                      std::strtoull(argv[7], nullptr, 10), std::strtoull(argv[8], nullptr, 10));
    }
    if (is("replay", 7)) {
        return Replay(argv[2], argv[3], argv[4], argv[5], Mount(argv[6], argv[7]))
            .from(std::strtoull(argv[8], nullptr, 10));
    }
    std::fprintf(stderr,
                 "usage: %s check DIR | run DIR RUN | record DISK LOG DIR FS OPTIONS RUN "
                 "ITERATIONS | replay LOG DISK COW DIR FS OPTIONS FROM\n",
                 argv[0]);
    return 2;
}
