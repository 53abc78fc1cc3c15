// The file store without a VM: message texts, and the save paths that only a real directory
// layout or another user can produce.

#include "store/store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include "identity/identity.h"
#include "store/location.h"
#include "store/temp_file.h"
#include "tests/support/files.h"

namespace kiv::store {
namespace {

using test::TempDir;

// Messages ending in a full-width colon are followed directly by the error's description, the C
// library's own (glibc and bionic word them differently: "Input/output error", "I/O error"); the
// others never are, even where the status carries an errno.
TEST(Status, MessagesJoinTextAndDescriptionWithoutSpace) {
    struct Case {
        Status status;
        const char* text;
        bool described;
    };
    const Case cases[] = {
        {Status(status::kWriteFailed, ENOSPC), "写入失败：", true},
        {Status(status::kDeleteFailed, ENOENT), "内容为空，删除文件失败：", true},
        {Status(status::kCloseFailed, EIO), "关闭文件失败：", true},
        {Status(status::kOpenFailed, EPERM), "打开文件失败：", true},  // errno 1
        {Status(status::kReadFailed, ENOMEM), "读取内容失败：", true},
        {Status(status::kSaved), "保存成功", false},
        {Status(status::kNoFile, ENOENT), "文件不存在", false},
    };
    char out[kMaxMessage];
    for (const auto& c : cases) {
        format_message(c.status, out, sizeof out);
        const std::string description = c.described ? std::strerror(c.status.err) : "";
        EXPECT_EQ(out, std::string(c.text) + description);
    }
    // A buffer too small cuts the message and still terminates it.
    char tiny[4];
    EXPECT_EQ(format_message(Status(StatusKind{200, "abcdef", ""}), tiny, sizeof tiny), 3u);
    EXPECT_STREQ(tiny, "abc");
}

Status save_text(const std::string& path, const std::string& text,
                 SaveMode mode = SaveMode::replace) {
    return save(path.c_str(), reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                mode);
}

std::string read_text(const std::string& path) {
    sys::Buffer text;
    std::size_t n = 0;
    Status s = read(path.c_str(), text, n);
    return s.code == kOk ? std::string(text.chars(), n) : "<" + std::to_string(s.code) + ">";
}

// Reading streams the back half of a file through slices that shrink near the end: every
// length, odd and even, around each slice boundary must read back exactly, any bytes.
TEST(Read, EveryLengthReadsBackExactly) {
    TempDir dir;
    std::string file = dir / "f";
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 1100; ++n) lengths.push_back(n);
    for (std::size_t base : {16384u, 32768u, 65536u, 262144u}) {
        for (std::size_t d = 0; d < 5; ++d) lengths.push_back(base - 2 + d);
    }
    unsigned seed = 1;
    for (std::size_t n : lengths) {
        std::string text(n, '\0');
        for (char& c : text) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
        ASSERT_EQ(save_text(file, text).code, 200);
        ASSERT_EQ(test::read_bytes(file), test::model_scramble(text)) << "length " << n;
        ASSERT_EQ(read_text(file), text) << "length " << n;
    }
}

TEST(Save, CreateNewPublishesOnlyWhereNothingIs) {
    TempDir dir;
    std::string file = dir / "id";
    EXPECT_EQ(save_text(file, "first", SaveMode::create_new).code, 200);
    Status s = save_text(file, "second", SaveMode::create_new);
    EXPECT_EQ(s.code, 607);
    EXPECT_EQ(s.err, EEXIST);
    EXPECT_EQ(read_text(file), "first");
    EXPECT_EQ(dir.others({"id"}), std::vector<std::string>{});
}

// A directory that refuses new files leaves writing in place as the only way to save a
// writable file in it; an unwritable file in such a directory is refused outright.
TEST(Save, WritesInPlaceWhereTheDirectoryRefusesNewFiles) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TempDir dir;
    std::string file = dir / "note";
    ASSERT_EQ(save_text(file, "old").code, 200);
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    std::string locked = dir / "locked";
    ASSERT_EQ(save_text(locked, "keep").code, 200);
    ASSERT_EQ(chmod(locked.c_str(), 0644), 0);
    setfsuid(65534);
    Status in_place = save_text(file, "new text");
    Status refused = save_text(locked, "replace");
    Status missing = save_text(dir / "absent", "x");
    setfsuid(0);
    EXPECT_EQ(in_place.code, 200);
    EXPECT_EQ(read_text(file), "new text");
    EXPECT_EQ(refused.code, 606);
    EXPECT_EQ(refused.err, EACCES);
    EXPECT_EQ(read_text(locked), "keep");
    EXPECT_EQ(missing.code, 606);
    EXPECT_EQ(missing.err, EACCES);
    EXPECT_EQ(dir.others({"note", "locked"}), std::vector<std::string>{});
}

// Sets or clears a file's or directory's inode flag (chattr +a / -a for FS_APPEND_FL, +i / -i for
// FS_IMMUTABLE_FL): false where the file system has no such attribute.
bool set_attribute(const std::string& path, int flag, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | flag : flags & ~flag;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
    return done;
}

bool set_append_only(const std::string& path, bool on) {
    return set_attribute(path, FS_APPEND_FL, on);
}

// An ext4 file system in an image file, mounted for the scope of a test (root only).
class Ext4Image {
public:
    explicit Ext4Image(const TempDir& dir, const std::string& mkfs = "mkfs.ext4")
        : image_(dir / "ext4.img"), root_(dir / "mnt") {
        const std::string make = "truncate -s 16M '" + image_ + "' && " + mkfs + " -q -F '" +
                                 image_ + "' >/dev/null 2>&1 && mkdir '" + root_ +
                                 "' && mount -o loop '" + image_ + "' '" + root_ + "'";
        mounted_ = std::system(make.c_str()) == 0;
    }
    ~Ext4Image() {
        if (mounted_) umount2(root_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& root() const { return root_; }

private:
    std::string image_, root_;
    bool mounted_ = false;
};

// A tmpfs of `size` mounted at path for the scope of a test (root only): a small disk to fill.
class Tmpfs {
public:
    Tmpfs(const std::string& path, const char* size) : path_(path) {
        mounted_ =
            mkdir(path.c_str(), 0755) == 0 &&
            mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
        chmod(path.c_str(), 0755);
    }
    ~Tmpfs() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

// Where the rename over the target is refused but the file itself may be written, a save writes
// it in place, as a plain write would, and leaves no temporary file behind; in a directory that
// keeps everything made in it (append-only), it makes none at all. Real refusals: another
// user's file in a sticky directory, an append-only directory on ext4, a file mounted over its
// target's name. The temporary file is gone before the target is written, so that on a nearly
// full disk the room it took is the target's (a sticky 128 KiB tmpfs, another user's 40 kB file,
// a 70 kB save).
TEST(Save, WritesInPlaceWhereTheRenameIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: another user's file, chattr, mounts";
    enum class Refusal { sticky, append_only, mounted_over };
    struct Case {
        const char* what;
        Refusal refusal;
        bool existing;                           // the target exists before the save
        const char* disk = nullptr;              // the size of a tmpfs to save on
        std::size_t old_size = 0, new_size = 0;  // 0: the short texts below
        int code = 200;                          // else the old text stays
        const char* mkfs = "mkfs.ext4";
    };
    const Case cases[] = {
        {"another user's file in a sticky directory", Refusal::sticky, true},
        {"existing file in an append-only directory", Refusal::append_only, true},
        {"new file in an append-only directory", Refusal::append_only, false},
        {"file mounted over the target", Refusal::mounted_over, true},
        {"another user's file in a nearly full sticky tmpfs", Refusal::sticky, true, "128k", 40000,
         70000},
        // No room can be reserved on ext2: the growth is refused part-way and cut off again.
        {"file in a full append-only directory on ext2", Refusal::append_only, true, nullptr, 40000,
         20000000, 607, "mkfs.ext2"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::optional<Ext4Image> image;
        std::optional<Tmpfs> disk;
        std::string where = dir / "d";
        const std::string old_text = c.old_size ? std::string(c.old_size, 'o') : "the old text";
        const std::string new_text =
            c.new_size ? std::string(c.new_size, 'n') : "the new text, longer than the old one";
        if (c.disk != nullptr) {
            disk.emplace(dir / "disk", c.disk);
            ASSERT_TRUE(disk->mounted()) << c.what << ": " << std::strerror(errno);
            where = dir / "disk/d";
        }
        if (c.refusal == Refusal::append_only) {
            image.emplace(dir, c.mkfs);
            if (!image->mounted()) {
                std::printf("%s: skipped, no ext4 image could be mounted here\n", c.what);
                continue;
            }
            where = image->root() + "/d";
        }
        ASSERT_EQ(mkdir(where.c_str(), c.refusal == Refusal::sticky ? 01777 : 0755), 0);
        chmod(where.c_str(), c.refusal == Refusal::sticky ? 01777 : 0755);  // whatever the umask
        const std::string target = where + "/note";
        if (c.existing) {
            ASSERT_EQ(save_text(target, old_text).code, 200) << c.what;
            chmod(target.c_str(), 0666);
        }
        std::vector<std::string> names = {"note"};
        if (c.refusal == Refusal::sticky) {
            ASSERT_EQ(chown(target.c_str(), 1000, 1000), 0);
        }
        if (c.refusal == Refusal::mounted_over) {
            names.push_back("other");
            test::write_bytes(where + "/other", "");
            ASSERT_EQ(mount((where + "/other").c_str(), target.c_str(), nullptr, MS_BIND, nullptr),
                      0)
                << c.what << ": " << std::strerror(errno);
        }
        if (c.refusal == Refusal::append_only && !set_append_only(where, true)) {
            std::printf("%s: skipped, the directory cannot be made append-only here\n", c.what);
            continue;
        }
        if (c.refusal == Refusal::sticky) setfsuid(65534);
        const Status saved = save_text(target, new_text);
        setfsuid(0);
        const std::string now = read_text(target);
        TempDir::Listing left = TempDir::others_in(where, names);
        if (c.refusal == Refusal::append_only) set_append_only(where, false);
        if (c.refusal == Refusal::mounted_over) umount2(target.c_str(), MNT_DETACH);
        EXPECT_EQ(saved.code, c.code) << c.what << ": " << std::strerror(saved.err);
        EXPECT_TRUE(now == (c.code == 200 ? new_text : old_text))
            << c.what << ": " << now.size() << " bytes";
        EXPECT_EQ(left, TempDir::Listing{}) << c.what;
    }
}

// A named file is read and queried only if "r+" could open it, and neither call waits: an
// append-only or immutable file (on ext4) counts as missing for both, and a read lease another
// process holds is neither waited for nor broken (an open for writing would break it and wait up
// to the lease-break time, 45 s); the holder sees no break and keeps its lease.
TEST(Read, NamedFilesAreJudgedAsUpdateWouldOpenThemWithoutWaiting) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: chattr, mounts, a lease on any file";
    struct Case {
        const char* what;
        int flag;  // the inode flag set, or 0 for a read lease held by another process
        int read, query;
    };
    const Case cases[] = {
        {"append-only file", FS_APPEND_FL, 703, 803},
        {"immutable file", FS_IMMUTABLE_FL, 703, 803},
        {"file under another process's read lease", 0, 200, 200},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::optional<Ext4Image> image;
        std::string file = dir / "note";
        if (c.flag != 0) {
            image.emplace(dir);
            if (!image->mounted()) {
                std::printf("%s: skipped, no ext4 image could be mounted here\n", c.what);
                continue;
            }
            file = image->root() + "/note";
        }
        test::write_bytes(file, test::model_scramble(std::string("kept")));
        if (c.flag != 0) {
            ASSERT_TRUE(set_attribute(file, c.flag, true)) << c.what;
        }
        int ready[2], release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t holder = c.flag == 0 ? fork() : -1;
        if (holder == 0) {  // holds a read lease until released; a break would be ignored
            close(release[1]);
            signal(SIGIO, SIG_IGN);
            const int fd = open(file.c_str(), O_RDONLY);
            char x = 0;
            if (fd < 0 || fcntl(fd, F_SETLEASE, F_RDLCK) != 0 || write(ready[1], "x", 1) != 1 ||
                ::read(release[0], &x, 1) != 0) {
                _exit(2);
            }
            _exit(fcntl(fd, F_GETLEASE) == F_RDLCK ? 0 : 1);
        }
        char x = 0;
        ASSERT_TRUE(c.flag != 0 || (holder > 0 && ::read(ready[0], &x, 1) == 1)) << c.what;
        const std::string text = read_text(file);
        const int queried = query(file.c_str()).code;
        close(release[1]);
        int status = -1;
        if (holder > 0) waitpid(holder, &status, 0);
        for (int fd : {ready[0], ready[1], release[0]}) close(fd);
        if (c.flag != 0) set_attribute(file, c.flag, false);
        EXPECT_EQ(text, c.read == 200 ? "kept" : "<" + std::to_string(c.read) + ">") << c.what;
        EXPECT_EQ(queried, c.query) << c.what;
        if (holder > 0) {
            EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0)
                << c.what << ": the lease was broken (1) or never taken (2)";
        }
    }
}

// A leftover named as a save made `age` seconds ago names it (its last 28 bits are the seconds
// since the system started, by the clock no one can set), whatever its file times say:
// `mtime_age` is how old those are, as after the wall clock jumped.
std::string temp_name(const std::string& target, long age) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long stamp = static_cast<unsigned long long>(now.tv_sec - age) & 0xFFFFFFF;
    char digits[13];
    std::snprintf(digits, sizeof digits, "%012llx", (0xa5c3eull << 28) | stamp);
    return "." + target + ".kivtmp-" + digits;
}

void make_file(const std::string& path, long mtime_age) {
    test::write_bytes(path, "left");
    timespec times[2] = {{time(nullptr) - mtime_age, 0}, {time(nullptr) - mtime_age, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Saves `text` until a save has looked for leftovers and removed `leftover`: how many it took,
// kSaves if none did, -1 if a save failed. 400 saves all skip the look once in 10^11 runs.
constexpr int kSaves = 400;
int save_until_gone(const std::string& target, const std::string& leftover,
                    const std::string& text = "text") {
    int saves = 0;
    while (saves < kSaves && test::read_bytes(leftover)) {
        ++saves;
        if (save_text(target, text).code != 200) return -1;
    }
    return saves;
}

// Temporary files left by killed saves of the same target are cleared by a later save (one in
// sixteen looks, at random) once their names say they are old enough not to belong to a save
// still running (file times may jump with the wall clock; the names' stamps do not), and only
// where looking through the directory is cheap; nothing else is touched.
TEST(Save, ClearsOldLeftoversOfItsTargetInSmallDirectories) {
    TempDir dir;
    const std::string old_leftover = temp_name("f", 3600);
    const std::vector<std::pair<std::string, long>> kept = {
        {temp_name("f", 5), 3600},         // recent: may be a save in progress, its file times
                                           // an hour behind a clock that jumped forward
        {temp_name("g", 3600), 3600},      // another target's
        {".f.kivtmp-0123", 3600},          // not a name the library makes
        {".f.kivtmp-notatempfile", 3600},  // nor this: twelve characters, but not hex digits
        {".f.kivtmp-0123456789aB", 3600},  // nor this: its digits are lower case
        {"f.kivtmp-0123456789ab", 3600},   // not hidden
    };
    make_file(dir / old_leftover, 0);  // file times as if the clock had jumped back
    for (const auto& [name, mtime_age] : kept) make_file(dir / name, mtime_age);
    const int saves = save_until_gone(dir / "f", dir / old_leftover);
    EXPECT_GT(saves, 0);
    EXPECT_LT(saves, kSaves) << "no save looked for leftovers";
    std::vector<std::string> names = {"f"};
    for (const auto& k : kept) names.push_back(k.first);
    EXPECT_EQ(dir.others(names), std::vector<std::string>{});
    for (const auto& k : kept) EXPECT_EQ(test::read_bytes(dir / k.first), "left") << k.first;

    // The rule's edge, by a look made in the second the leftover was named in: ten minutes old is
    // kept, a second more is not.
    for (const auto& [age, swept] : {std::pair{600L, false}, std::pair{601L, true}}) {
        TempDir edge;
        Location at;
        int err = 0;
        ASSERT_TRUE(locate((edge / "f").c_str(), at, err));
        std::string name;
        for (timespec before{}, after{}; name.empty() || before.tv_sec != after.tv_sec;) {
            if (!name.empty()) std::remove((edge / name).c_str());
            clock_gettime(CLOCK_MONOTONIC, &before);
            name = temp_name("f", age);
            make_file(edge / name, 0);
            sweep_leftovers(at);
            clock_gettime(CLOCK_MONOTONIC, &after);
        }
        EXPECT_EQ(test::read_bytes(edge / name).has_value(), !swept) << age << " s old";
    }

    TempDir big;  // a directory with thousands of entries is left alone
    for (int i = 0; i < 5000; ++i) test::write_bytes(big / ("file" + std::to_string(i)), "");
    make_file(big / old_leftover, 3600);
    Location at;
    int err = 0;
    ASSERT_TRUE(locate((big / "f").c_str(), at, err));
    sweep_leftovers(at);
    EXPECT_EQ(test::read_bytes(big / old_leftover), "left");
}

// Leftovers are cleared whichever way the save went: where the rename is refused (another
// user's file in a sticky directory, saved in place), and at once, whatever the dice say, when
// they fill the disk: the first save that finds no room removes them and saves again (a 2 MiB
// tmpfs, two 600 kB leftovers, a 900 kB save).
TEST(Save, ClearsLeftoversWhereverItSaves) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: a tmpfs, another user's file";
    struct Case {
        const char* what;
        bool sticky;
        std::size_t leftover_size, text_size;
        int most_saves;  // the saves it may take to clear them
    };
    const Case cases[] = {
        {"another user's file in a sticky directory", true, 4, 4, kSaves - 1},
        {"leftovers filling the disk", false, 600000, 900000, 1},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Tmpfs disk(dir / "disk", "2m");
        ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
        const std::string where = dir / "disk/d";
        ASSERT_EQ(mkdir(where.c_str(), 0755), 0);
        ASSERT_EQ(chmod(where.c_str(), c.sticky ? 01777 : 0755), 0);
        const std::string target = where + "/f";
        ASSERT_EQ(save_text(target, "old").code, 200);
        const std::vector<std::string> leftovers = {temp_name("f", 3600), temp_name("f", 7200)};
        for (const auto& name : leftovers) {
            test::write_bytes(where + "/" + name, std::string(c.leftover_size, 'l'));
            if (c.sticky) {
                ASSERT_EQ(chown((where + "/" + name).c_str(), 65534, 65534), 0);
            }
        }
        if (c.sticky) {
            ASSERT_EQ(chmod(target.c_str(), 0666), 0);
            ASSERT_EQ(chown(target.c_str(), 1000, 1000), 0);
            setfsuid(65534);
        }
        const std::string text(c.text_size, 't');
        const int saves = save_until_gone(target, where + "/" + leftovers[0], text);
        setfsuid(0);
        EXPECT_GT(saves, 0) << c.what;
        EXPECT_LE(saves, c.most_saves) << c.what;
        EXPECT_TRUE(read_text(target) == text) << c.what;
        EXPECT_EQ(TempDir::others_in(where, {"f"}), TempDir::Listing{}) << c.what;
    }
}

// An open file's link, what apps pass for a file from a content URI, reaches the descriptor's own
// file, deleted or not, by every spelling of the caller's descriptor table: saved, read, queried
// and given an identity through it, with nothing made beside it, and the locks the app holds on
// it (a record lock, as Java's FileChannel.lock() takes, and a flock) still held after each call.
// (The JVM suite checks this through the entry points; here it runs wherever the core does: on
// bionic and under the app's seccomp filter too.)
TEST(Save, OpenFilesLinksReachTheDescriptorsOwnFile) {
    const std::string task = "task/" + std::to_string(static_cast<long>(syscall(SYS_gettid)));
    const std::string own = "/proc/" + std::to_string(getpid()) + "/";
    for (const std::string& link_dir : {std::string("/proc/self/fd/"), std::string("/dev/fd/"),
                                        own + "fd/", std::string("/proc/thread-self/fd/"),
                                        own + task + "/fd/", "/proc/self/" + task + "/fd/"}) {
        for (bool deleted : {false, true}) {
            SCOPED_TRACE(link_dir + (deleted ? "N, deleted file" : "N"));
            TempDir dir;
            const std::string target = dir / "note";
            test::write_bytes(target, test::model_scramble(std::string("the old text")));
            test::OpenFile file(target);
            ASSERT_TRUE(file.is_open());
            struct flock record {};
            record.l_type = F_WRLCK;
            record.l_whence = SEEK_SET;
            ASSERT_EQ(fcntl(file.fd(), F_SETLK, &record), 0);
            ASSERT_EQ(flock(file.fd(), LOCK_EX), 0);
            const auto expect_locks_kept = [&](const char* after) {
                const test::LocksSeen seen = test::locks_seen_by_another_process(file.fd());
                EXPECT_TRUE(seen.record) << "the record lock was dropped by the " << after;
                EXPECT_TRUE(seen.flock) << "the flock was dropped by the " << after;
            };
            if (deleted) {
                ASSERT_EQ(unlink(target.c_str()), 0);
            }
            const std::string path = link_dir + std::to_string(file.fd());
            EXPECT_EQ(save_text(path, "the new text").code, 200);
            EXPECT_EQ(file.text(), test::model_scramble(std::string("the new text")));
            expect_locks_kept("save");
            EXPECT_EQ(read_text(path), "the new text");
            expect_locks_kept("read");
            EXPECT_EQ(query(path.c_str()).code, 200);
            sys::Buffer id;
            std::size_t n = 0;
            const auto* tag = reinterpret_cast<const unsigned char*>("tag");
            ASSERT_TRUE(identity::get_or_make(path.c_str(), tag, 3, id, n));
            EXPECT_EQ(file.text(), std::string(id.chars(), n));
            expect_locks_kept("identity");
            EXPECT_EQ(dir.others({}),
                      deleted ? std::vector<std::string>{} : std::vector<std::string>{"note"});
        }
    }
}

void on_alarm(int) {}

// An interval timer whose handler does not restart interrupted calls (no SA_RESTART), firing
// every millisecond while it lasts, as an app's own timers may.
class TimerStorm {
public:
    TimerStorm() {
        struct sigaction sa {};
        sa.sa_handler = on_alarm;
        sigaction(SIGALRM, &sa, &old_);
        const itimerval every_ms{{0, 1000}, {0, 1000}};
        setitimer(ITIMER_REAL, &every_ms, nullptr);
    }
    ~TimerStorm() {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &old_, nullptr);
    }

private:
    struct sigaction old_ {};
};

// A memfd (providers hand them out) handed over as /proc/self/fd/N may be sealed against being
// written, grown or cut: a save its seals would refuse part-way is refused before any byte is
// written (607, EPERM, as the write would fail), the old text whole; one they allow is made.
TEST(Save, SealedFilesKeepTheOldTextOrTakeTheNew) {
    const std::string old_bytes = test::model_scramble(std::string("old text, rather long"));
    const std::string shorter = "new text", longer = "a new text, longer than the old one";
    const struct {
        int seal;
        const std::string& text;
        int code;
    } cases[] = {
        {F_SEAL_SHRINK, shorter, 607}, {F_SEAL_SHRINK, longer, 200}, {F_SEAL_GROW, longer, 607},
        {F_SEAL_GROW, shorter, 200},   {F_SEAL_WRITE, shorter, 607},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("seal " + std::to_string(c.seal) + ", " + c.text);
        const int fd = static_cast<int>(syscall(SYS_memfd_create, "note", 3u));  // cloexec, seals
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ASSERT_EQ(pwrite(fd, old_bytes.data(), old_bytes.size(), 0), 21);
        ASSERT_EQ(fcntl(fd, F_ADD_SEALS, c.seal), 0);
        const Status s = save_text("/proc/self/fd/" + std::to_string(fd), c.text);
        char now[64];
        const ssize_t n = pread(fd, now, sizeof now, 0);
        close(fd);
        EXPECT_EQ(s.code, c.code);
        EXPECT_EQ(s.err, c.code == 200 ? 0 : EPERM);
        EXPECT_EQ(std::string(now, n > 0 ? static_cast<std::size_t>(n) : 0),
                  c.code == 200 ? test::model_scramble(c.text) : old_bytes);
    }
}

// Targets that are not regular files get every byte, in order, through interrupted and short
// writes, or the system's own error at once: /dev/full's ENOSPC (607), a FIFO that nobody reads
// ENXIO (606), whatever the size, never a wait or a 200 for bytes nobody got. A reader that reads
// slowly, under a storm of timer signals, gets the whole text, through a named FIFO or a pipe's
// descriptor. A FIFO's size cannot be measured: a read fails (704), a query counts it as not
// empty.
TEST(Save, DevicesAndFifosTakeEveryByteOrTheSystemsError) {
    struct Case {
        std::string path;
        std::size_t size;
        int code;
        int err;
    };
    for (const Case& c : {Case{"/dev/null", 3, 200, 0}, Case{"/dev/full", 3, 607, ENOSPC},
                          Case{"/dev/full", 4096, 607, ENOSPC}}) {
        Status s = save_text(c.path, std::string(c.size, 'x'));
        EXPECT_EQ(s.code, c.code) << c.path << ", " << c.size << " bytes";
        EXPECT_EQ(s.err, c.err) << c.path << ", " << c.size << " bytes";
    }
    struct Stream {
        const char* what;
        bool fifo, reader;
        std::size_t size;
        int code, err;
    };
    const Stream streams[] = {
        {"FIFO nobody reads, small text", true, false, 100, 606, ENXIO},
        {"FIFO nobody reads, text past its buffer", true, false, 200000, 606, ENXIO},
        {"FIFO read slowly", true, true, 1 << 20, 200, 0},
        {"pipe's descriptor read slowly", false, true, 1 << 20, 200, 0},
    };
    for (const auto& c : streams) {
        TempDir dir;
        std::string path = dir / "fifo";
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        int ends[2] = {-1, -1};  // the reader's, and one to keep it open after the save
        if (c.reader && c.fifo) {
            ends[1] = open(path.c_str(), O_RDWR | O_CLOEXEC);
            ends[0] = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } else if (c.reader) {
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
            path = "/proc/self/fd/" + std::to_string(ends[1]);
        }
        std::string got;
        std::thread reader;
        if (c.reader) {
            reader = std::thread([&] {
                sigset_t alarm;
                sigemptyset(&alarm);
                sigaddset(&alarm, SIGALRM);
                pthread_sigmask(SIG_BLOCK, &alarm, nullptr);  // the saving thread takes them
                char buf[4096];
                for (ssize_t r; (r = ::read(ends[0], buf, sizeof buf)) != 0;) {
                    if (r > 0) got.append(buf, static_cast<std::size_t>(r));
                    if (r < 0 && errno != EINTR) break;
                    usleep(50);
                }
            });
        }
        const std::string text(c.size, 's');
        Status s(status::kSaved);
        {
            TimerStorm storm;
            s = save_text(path, text);
        }
        if (c.reader) {
            close(ends[1]);  // the reader sees the end once the save's own end is closed too
            reader.join();
            close(ends[0]);
            EXPECT_TRUE(got == test::model_scramble(text))
                << c.what << ": " << got.size() << " bytes";
        }
        EXPECT_EQ(s.code, c.code) << c.what << ": " << std::strerror(s.err);
        EXPECT_EQ(s.err, c.err) << c.what;
    }
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    sys::Buffer text;
    std::size_t n = 0;
    Status r = read(fifo.c_str(), text, n);
    EXPECT_EQ(r.code, 704);
    EXPECT_EQ(r.err, ESPIPE);
    EXPECT_EQ(query(fifo.c_str()).code, 200);
}

// A proc link names one of the caller's own descriptors only in its own descriptor directory
// and only with the number written as the kernel reads it.
TEST(Location, TellsTheCallersOwnDescriptors) {
    const std::string parent = "/proc/" + std::to_string(getppid()) + "/fd/";
    const std::string self = "/proc/" + std::to_string(getpid()) + "/fd/";
    const std::string task = "/task/" + std::to_string(static_cast<long>(syscall(SYS_gettid)));
    const std::string parents_task = "/task/" + std::to_string(getppid()) + "/fd/";
    const struct {
        std::string link, dir;
        int own;
    } cases[] = {
        {"/proc/self/fd/3", "/proc/self/fd/", 3},
        {"/dev/fd/0", "/dev/fd/", 0},
        {self + "12", self, 12},
        {"/proc/self/fd/2147483647", "/proc/self/fd/", 2147483647},
        {"/proc/self/fd/03", "/proc/self/fd/", -1},          // the kernel finds no "03"
        {"/proc/self/fd/2147483648", "/proc/self/fd/", -1},  // past any descriptor
        {"/proc/self/fd/+3", "/proc/self/fd/", -1},
        {"/proc/self/fd/", "/proc/self/fd/", -1},
        {parent + "3", parent, -1},  // another process's
        {self + ".." + task + "/fd/6", self + ".." + task + "/fd/", 6},
        {"/proc/" + std::to_string(getppid()) + parents_task + "3",
         "/proc/" + std::to_string(getppid()) + parents_task, -1},  // another process's thread
        {"/proc/self" + parents_task + "3", "/proc/self" + parents_task, -1},  // none of ours
    };
    for (const auto& c : cases)
        EXPECT_EQ(own_descriptor(c.link.c_str(), c.dir.c_str()), c.own) << c.link;
}

// Symbolic links are followed as the system follows them: 40 in a row, and no more. The file
// they lead to is replaced whole, as any file is: a reader that has it open keeps the old text.
TEST(Save, FollowsAsManyLinksAsTheSystem) {
    for (const auto& [links, code] : {std::pair{40, 200}, std::pair{41, 606}}) {
        TempDir dir;
        ASSERT_EQ(save_text(dir / "real", "old").code, 200);
        for (int i = 0; i < links; ++i) {
            std::string to = i + 1 < links ? "l" + std::to_string(i + 1) : "real";
            ASSERT_EQ(symlink(to.c_str(), (dir / ("l" + std::to_string(i))).c_str()), 0);
        }
        test::OpenFile reader(dir / "real");
        Status s = save_text(dir / "l0", "linked");
        EXPECT_EQ(s.code, code) << links << " links";
        EXPECT_EQ(reader.text(), test::model_scramble(std::string("old")));
        if (code == 200) {
            EXPECT_EQ(read_text(dir / "real"), "linked");
        } else {
            EXPECT_EQ(s.err, ELOOP);
            EXPECT_EQ(read_text(dir / "real"), "old");
        }
    }
}

}  // namespace
}  // namespace kiv::store
