// The file store without a VM: message texts, and the save paths that only a real directory
// layout or another user can produce.

#include "store/store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "identity/identity.h"
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

void make_file(const std::string& path, long age_seconds) {
    test::write_bytes(path, "left");
    timespec times[2] = {{time(nullptr) - age_seconds, 0}, {time(nullptr) - age_seconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Temporary files left by killed saves of the same target are cleared by a later save (one in
// sixteen looks, at random) once they are old enough not to belong to a save still running, and
// only where looking through the directory is cheap; nothing else is touched.
TEST(Save, ClearsOldLeftoversOfItsTargetInSmallDirectories) {
    TempDir dir;
    const std::string old_leftover = ".f.kivtmp-0123456789ab";
    const std::vector<std::pair<std::string, long>> kept = {
        {".f.kivtmp-ba9876543210", 5},     // recent: may be a save in progress
        {".g.kivtmp-0123456789ab", 3600},  // another target's
        {".f.kivtmp-0123", 3600},          // not a name the library makes
        {".f.kivtmp-notatempfile", 3600},  // nor this: twelve characters, but not hex digits
        {".f.kivtmp-0123456789aB", 3600},  // nor this: its digits are lower case
        {"f.kivtmp-0123456789ab", 3600},   // not hidden
    };
    // Saves until one has looked: 400 saves all skip the look once in 10^11 runs.
    constexpr int kSaves = 400;
    auto save_until_gone = [](const std::string& target, const std::string& leftover) {
        int saves = 0;
        while (saves < kSaves && test::read_bytes(leftover)) {
            ++saves;
            if (save_text(target, "text").code != 200) return -1;
        }
        return saves;
    };
    make_file(dir / old_leftover, 3600);
    for (const auto& [name, age] : kept) make_file(dir / name, age);
    const int saves = save_until_gone(dir / "f", dir / old_leftover);
    EXPECT_GT(saves, 0);
    EXPECT_LT(saves, kSaves) << "no save looked for leftovers";
    std::vector<std::string> names = {"f"};
    for (const auto& k : kept) names.push_back(k.first);
    EXPECT_EQ(dir.others(names), std::vector<std::string>{});
    for (const auto& k : kept) EXPECT_EQ(test::read_bytes(dir / k.first), "left") << k.first;

    TempDir big;  // a directory with thousands of entries is left alone
    for (int i = 0; i < 5000; ++i) test::write_bytes(big / ("file" + std::to_string(i)), "");
    make_file(big / old_leftover, 3600);
    EXPECT_EQ(save_until_gone(big / "f", big / old_leftover), kSaves);
    EXPECT_EQ(test::read_bytes(big / old_leftover), "left");
}

// An open file's link, what apps pass for a file from a content URI, reaches the descriptor's own
// file, deleted or not: saved, read, queried and given an identity through it, with nothing made
// beside it. (The JVM suite checks this through the entry points; here it runs wherever the core
// does: on bionic and under the app's seccomp filter too.)
TEST(Save, OpenFilesLinksReachTheDescriptorsOwnFile) {
    for (const char* link_dir : {"/proc/self/fd/", "/dev/fd/"}) {
        for (bool deleted : {false, true}) {
            SCOPED_TRACE(std::string(link_dir) + (deleted ? "N, deleted file" : "N"));
            TempDir dir;
            const std::string target = dir / "note";
            test::write_bytes(target, test::model_scramble(std::string("the old text")));
            test::OpenFile file(target);
            ASSERT_TRUE(file.is_open());
            if (deleted) ASSERT_EQ(unlink(target.c_str()), 0);
            const std::string path = link_dir + file.path().substr(file.path().rfind('/') + 1);
            EXPECT_EQ(save_text(path, "the new text").code, 200);
            EXPECT_EQ(file.text(), test::model_scramble(std::string("the new text")));
            EXPECT_EQ(read_text(path), "the new text");
            EXPECT_EQ(query(path.c_str()).code, 200);
            sys::Buffer id;
            std::size_t n = 0;
            const auto* tag = reinterpret_cast<const unsigned char*>("tag");
            ASSERT_TRUE(identity::get_or_make(path.c_str(), tag, 3, id, n));
            EXPECT_EQ(file.text(), std::string(id.chars(), n));
            EXPECT_EQ(dir.others({}),
                      deleted ? std::vector<std::string>{} : std::vector<std::string>{"note"});
        }
    }
}

// Targets that are not regular files are written in place through a stdio stream, so the C
// library's own stream decides when /dev/full's refusal shows: a small text fails at the close
// (608), 4096 bytes or more in the write (607). A FIFO's size cannot be measured: a read fails
// (704), a query counts it as not empty.
TEST(Save, DevicesAndFifosTakeTheStreamsReports) {
    struct Case {
        std::string path;
        std::size_t size;
        int code;
        int err;
    };
    for (const Case& c : {Case{"/dev/null", 3, 200, 0}, Case{"/dev/full", 3, 608, ENOSPC},
                          Case{"/dev/full", 4096, 607, ENOSPC}}) {
        Status s = save_text(c.path, std::string(c.size, 'x'));
        EXPECT_EQ(s.code, c.code) << c.path << ", " << c.size << " bytes";
        EXPECT_EQ(s.err, c.err) << c.path << ", " << c.size << " bytes";
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

// Symbolic links are followed as the system follows them: 40 in a row, and no more.
TEST(Save, FollowsAsManyLinksAsTheSystem) {
    for (const auto& [links, code] : {std::pair{40, 200}, std::pair{41, 606}}) {
        TempDir dir;
        ASSERT_EQ(save_text(dir / "real", "old").code, 200);
        for (int i = 0; i < links; ++i) {
            std::string to = i + 1 < links ? "l" + std::to_string(i + 1) : "real";
            ASSERT_EQ(symlink(to.c_str(), (dir / ("l" + std::to_string(i))).c_str()), 0);
        }
        Status s = save_text(dir / "l0", "linked");
        EXPECT_EQ(s.code, code) << links << " links";
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
