// Every failable C library call that a save, a delete, a read, a query or an identity call
// makes is made to fail in turn (N = 1, 2, ... until the operation runs clean). After each
// injected failure the report must name it exactly, the file must hold its old content or the
// complete new one, no temporary file may be left, and no Java exception may be pending.

#include "tests/fault/fault.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "jni/com_zelk_kiv_jni_NativeLoader.h"
#include "tests/jvm/jvm.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

// The message a report must carry for a failure with errno err.
std::string expected_message(int code, int err) {
    const char* prefix = nullptr;
    switch (code) {
        case 604: prefix = "内容为空，删除文件失败："; break;
        case 606: prefix = "打开文件失败："; break;
        case 607: prefix = "写入失败："; break;
        case 608:
        case 705: prefix = "关闭文件失败："; break;
        case 704: prefix = "读取内容失败："; break;
        case 703:
        case 803: return "文件不存在";
        default: return "unexpected code " + std::to_string(code);
    }
    return std::string(prefix) + std::strerror(err);
}

class FaultInjection : public JvmTest {
protected:
    TempDir dir;
    std::string file = dir / "note";

    // Runs op with the nth failable call failing; returns what the injection saw.
    template <typename Op>
    fault::Outcome inject(int nth, Op op) {
        fault::arm(nth);
        op();
        fault::Outcome o = fault::disarm();
        EXPECT_FALSE(env()->ExceptionCheck())
            << "failing call " << nth << " (" << (o.failed ? o.failed : "none") << ")";
        env()->ExceptionClear();
        expect_closed_once(o);
        return o;
    }

    // Every descriptor the operation makes is closed exactly once before it returns, whatever
    // failed: a second close can close another thread's file.
    static void expect_closed_once(const fault::Outcome& o) {
        std::set<int> open;
        const std::string where = std::string("failing ") + (o.failed ? o.failed : "none");
        for (const fault::Call& c : o.log) {
            if ((c.name == "open" || c.name == "openat" || c.name == "dup" ||
                 c.name == "opendir") &&
                c.fd >= 0) {
                EXPECT_TRUE(open.insert(c.fd).second) << where << ": " << c.name << " " << c.fd;
            }
            if (c.name == "close" || c.name == "fclose" || c.name == "closedir") {
                EXPECT_EQ(open.erase(c.fd), 1u) << where << ": " << c.name << "(" << c.fd
                                                << ") of a descriptor it did not open";
            }
        }
        EXPECT_EQ(open, std::set<int>{}) << where << ": left open";
    }

    void expect_clean_dir(const std::vector<std::string>& keep, const fault::Outcome& o) {
        EXPECT_EQ(dir.others(keep), std::vector<std::string>{})
            << "after failing " << (o.failed ? o.failed : "none");
    }
};

Report call_record_op(const std::function<jobject(JNIEnv*, jobject)>& op, fault::Outcome* outcome,
                      const std::function<fault::Outcome(const std::function<void()>&)>& inject) {
    jobject record = new_record();
    jobject returned = nullptr;
    *outcome = inject([&] { returned = op(env(), record); });
    EXPECT_TRUE(env()->IsSameObject(returned, record));
    return report_of(record);
}

// A save through a temporary file keeps the old text or the whole new one. One written in place
// (where the directory refuses new files, or through an open file's link) keeps the old text
// when it fails before overwriting: the bytes beyond the old end go first and are cut off again
// if refused. Failing to overwrite leaves the new length with a mix before it; failing to sync or
// close (608) comes after the whole new text is written. Where no temporary file can be made
// for want of space or descriptors, writing in place would risk the old text: 606.
TEST_F(FaultInjection, SaveKeepsTheOldOrTheWholeNewText) {
    struct Target {
        const char* what;
        std::vector<fault::Refusal> refusals;
        bool through_descriptor;
        int err = 0;  // what every save fails with (606), if one does
    };
    const std::vector<Target> targets = {
        {"file", {}, false},
        {"directory refusing new files", {{"openat", EACCES}}, false},
        {"open file's link", {}, true},
        {"full disk", {{"openat", ENOSPC, O_CREAT}}, false, ENOSPC},
        {"no descriptors left", {{"openat", EMFILE, O_CREAT}}, false, EMFILE},
    };
    const std::string old_text = "the old text";
    std::set<int> codes;
    for (const auto& target : targets) {
        fault::Platform refusing(target.refusals);
        write_bytes(file, "");
        OpenFile open_file(file);  // the file's own inode, which every in-place save keeps
        ASSERT_TRUE(open_file.is_open());
        const bool in_place =
            (!target.refusals.empty() && target.err == 0) || target.through_descriptor;
        const std::string path = target.through_descriptor ? open_file.path() : file;
        // A short text goes through its modified-UTF-8 bytes, a long ASCII one straight from its
        // characters.
        for (const std::string& new_text :
             {std::string("a new text, longer than the old one"), std::string(3001, 'L')}) {
            const std::string old_bytes = model_scramble(old_text);
            const std::string new_bytes = model_scramble(new_text);
            int n = 1;
            for (;; ++n) {
                write_bytes(file, old_bytes);
                fault::Outcome o;
                Report r = call_record_op(
                    [&](JNIEnv* e, jobject rec) {
                        return Java_com_zelk_kiv_jni_NativeLoader_writeFile(
                            e, nullptr, rec, jstr(new_text), jstr(path));
                    },
                    &o, [&](const std::function<void()>& f) { return inject(n, f); });
                codes.insert(r.code);
                const std::string where =
                    std::string(target.what) + ", failing " + (o.failed ? o.failed : "none");
                const std::optional<std::string> now = read_bytes(file);
                if (r.code == 200) {
                    EXPECT_EQ(target.err, 0) << where << ": saved with no temporary file";
                    EXPECT_EQ(r.msg, "保存成功");
                    EXPECT_EQ(now, new_bytes) << where;
                } else if (target.err != 0 && r.msg == expected_message(606, target.err)) {
                    EXPECT_EQ(now, old_bytes) << where;  // refused, whatever else failed
                } else {
                    ASSERT_NE(o.failed, nullptr)
                        << "a failure was reported with no fault injected: " << r.code;
                    EXPECT_EQ(r.msg, expected_message(r.code, o.err)) << where;
                    if (in_place && r.code == 608) {
                        EXPECT_EQ(now, new_bytes) << where;
                    } else if (in_place && std::strcmp(o.failed, "pwrite") == 0 && now &&
                               now->size() > old_bytes.size()) {
                        // Overwriting failed once the growth was written: a mix before it.
                        EXPECT_EQ(now->substr(old_bytes.size()), new_bytes.substr(old_bytes.size()))
                            << where;
                    } else {
                        EXPECT_EQ(now, old_bytes) << where;
                    }
                    // A refused growth is cut back off, the file to its old size: a disk that
                    // refuses part of it must not keep the rest.
                    const long old_size = static_cast<long>(old_bytes.size());
                    if (in_place && std::strcmp(o.failed, "pwrite") == 0 &&
                        o.log[o.failed_at].arg == old_size) {
                        EXPECT_TRUE(o.made("ftruncate", old_size, o.failed_at)) << where;
                    }
                }
                if (target.through_descriptor) {
                    EXPECT_EQ(open_file.text(), now) << where;
                }
                expect_clean_dir({"note"}, o);
                if (o.failed == nullptr) break;
            }
            std::printf("save of %zu bytes (%s): %d fault points\n", new_text.size(), target.what,
                        n - 1);
            EXPECT_GE(n - 1, target.err ? 3 : 8)
                << target.what << ": a save makes at least 8 failable calls (lstat, open, ...)";
        }
    }
    for (int code : {606, 607, 608})
        EXPECT_TRUE(codes.count(code)) << "no injected failure gave " << code;
}

TEST_F(FaultInjection, DeleteReportsEveryFailure) {
    std::set<int> codes;
    int n = 1;
    for (;; ++n) {
        write_bytes(file, "bda");
        fault::Outcome o;
        Report r = call_record_op(
            [&](JNIEnv* e, jobject rec) {
                return Java_com_zelk_kiv_jni_NativeLoader_writeFile(e, nullptr, rec, jstr(""),
                                                                    jstr(file));
            },
            &o, [&](const std::function<void()>& f) { return inject(n, f); });
        codes.insert(r.code);
        if (r.code == 603) {
            EXPECT_EQ(read_bytes(file), std::nullopt);
            // A failed sync of the directory after the file is gone still answers 603.
        } else {
            EXPECT_EQ(r.code, 604);
            EXPECT_EQ(r.msg, expected_message(604, o.err));
            EXPECT_EQ(read_bytes(file), "bda") << "a failed delete must keep the content";
        }
        if (o.failed == nullptr) break;
    }
    std::printf("delete: %d fault points\n", n - 1);
    EXPECT_TRUE(codes.count(604));
}

TEST_F(FaultInjection, ReadAndQueryReportEveryFailure) {
    const std::string text(200000, 'r');  // several slices of the streamed read
    write_bytes(file, model_scramble(text));
    std::set<int> codes;
    for (bool query : {false, true}) {
        int n = 1;
        for (;; ++n) {
            fault::Outcome o;
            Report r = call_record_op(
                [&](JNIEnv* e, jobject rec) {
                    return query ? Java_com_zelk_kiv_jni_NativeLoader_queryFile(e, nullptr, rec,
                                                                                jstr(file))
                                 : Java_com_zelk_kiv_jni_NativeLoader_readFile(e, nullptr, rec,
                                                                               jstr(file));
                },
                &o, [&](const std::function<void()>& f) { return inject(n, f); });
            codes.insert(r.code);
            if (r.code == 200) {
                EXPECT_TRUE(query ? r.msg == std::string("文件存在，内容不为空") : r.msg == text);
            } else {
                ASSERT_NE(o.failed, nullptr);
                EXPECT_EQ(r.msg, expected_message(r.code, o.err)) << "failing " << o.failed;
            }
            EXPECT_EQ(read_bytes(file), model_scramble(text));
            if (o.failed == nullptr) break;
        }
        std::printf("%s: %d fault points\n", query ? "query" : "read", n - 1);
    }
    for (int code : {703, 704, 705, 803})
        EXPECT_TRUE(codes.count(code)) << "no injected failure gave " << code;
}

// What each kind of save, delete and identity must do that its results cannot show, checked by
// the calls it makes (the powercut lane shows what a power cut does without them): the bytes of
// a file made beside the target synced before it takes the target's name, a file written in
// place synced after the write, the directory synced after a name is made or removed, and
// every file made with O_EXCL where it must not take over a name another caller made meanwhile.
TEST_F(FaultInjection, EachKindMakesItsDurabilityCalls) {
    // kPublished: a file made beside the target and renamed (or linked) over it. kFlags: where
    // the kernel has no statx, the directory's flags are asked whether it keeps what is made in
    // it (append-only: no temporary file could be removed there). Devices and pipes: only their
    // descriptors, closed once (as everywhere, in inject()).
    enum : unsigned {
        kSyncBeforeName = 1,
        kSyncAfterWrite = 2,
        kDirSync = 4,
        kExcl = 8,
        kFlags = 16
    };
    constexpr unsigned kPublished = kSyncBeforeName | kDirSync | kExcl;
    enum class Op { save, save_through_link, save_to_device, save_to_pipe, remove, identity };
    const std::vector<fault::Refusal> no_new_files = {{"openat", EACCES, O_CREAT}};
    const struct Kind {
        const char* what;
        Op op;
        const char* before;  // the plain text the file holds first, or none
        std::vector<fault::Refusal> refusals;
        unsigned checks;
    } kinds[] = {
        {"save of a new file", Op::save, nullptr, {}, kPublished},
        {"save over a file", Op::save, "old", {}, kPublished},
        {"save, no statx", Op::save, "old", {{"statx", ENOSYS}}, kPublished | kFlags},
        {"save in place", Op::save, "old", no_new_files, kSyncAfterWrite},
        {"new file in place", Op::save, nullptr, {{"rename", EPERM}}, kSyncAfterWrite | kDirSync},
        {"save through a link", Op::save_through_link, "old", {}, kSyncAfterWrite},
        {"save to a device", Op::save_to_device, nullptr, {}, 0},
        {"save to a pipe", Op::save_to_pipe, nullptr, {}, 0},
        {"delete", Op::remove, "old", {}, kDirSync},
        {"first identity", Op::identity, nullptr, {}, kPublished},
        {"first identity, Android", Op::identity, nullptr, fault::kPlatforms[1].refusals,
         kPublished},
        {"first identity in place", Op::identity, nullptr, no_new_files,
         kSyncAfterWrite | kDirSync | kExcl},
        {"identity for another tag", Op::identity, "12other", {}, kPublished},
    };
    for (const Kind& k : kinds) {
        fault::Platform refusing(k.refusals);
        std::remove(file.c_str());
        if (k.before) write_bytes(file, model_scramble(k.before));
        OpenFile open_file(file);
        int pipe_ends[2] = {-1, -1};  // a pipe handed over as a descriptor
        ASSERT_EQ(pipe(pipe_ends), 0);
        const std::string path = k.op == Op::save_through_link ? open_file.path()
                                 : k.op == Op::save_to_device  ? "/dev/null"
                                 : k.op == Op::save_to_pipe
                                     ? "/proc/self/fd/" + std::to_string(pipe_ends[1])
                                     : file;
        fault::Outcome o = inject(0, [&] {
            if (k.op == Op::identity) {
                Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification(env(), nullptr,
                                                                           jstr("tag"), jstr(path));
                return;
            }
            jobject record = new_record();
            Java_com_zelk_kiv_jni_NativeLoader_writeFile(
                env(), nullptr, record, jstr(k.op == Op::remove ? "" : "the new text"), jstr(path));
            EXPECT_EQ(report_of(record).code, k.op == Op::remove ? 603 : 200) << k.what;
        });
        int made = -1;         // the descriptor of the file made beside the target
        bool synced = false;   // its bytes synced
        bool written = false;  // a write, an unsynced one
        bool named = false;    // a name made or removed, the directory not yet synced
        bool created = false;
        for (const fault::Call& c : o.log) {
            if (c.failed) continue;
            const bool creates = (c.name == "open" || c.name == "openat") && (c.arg & O_CREAT);
            if (creates && (k.checks & kExcl) != 0) {
                EXPECT_TRUE(c.arg & O_EXCL) << k.what << ": " << c.name << " without O_EXCL";
            }
            if (creates && c.name == "openat") made = c.fd;
            if (creates && c.name == "open") named = true;  // in place: made if it was not there
            created = created || creates;
            if (c.name == "fsync" && c.fd == made) synced = true;
            if (c.name == "write" || c.name == "pwrite" || c.name == "ftruncate") written = true;
            if (c.name == "fsync") written = false;
            if (c.name == "rename" || c.name == "renameat2" || c.name == "link") {
                EXPECT_TRUE(synced || (k.checks & kSyncBeforeName) == 0)
                    << k.what << ": " << c.name;
            }
            // (A temporary file's removal needs no sync: a leftover it leaves is swept later.)
            if (c.name == "rename" || c.name == "renameat2" || c.name == "link" ||
                c.name == "remove") {
                named = true;
            }
            if (c.name == "fsync(dir)") named = false;
        }
        EXPECT_TRUE(created || (k.checks & kExcl) == 0) << k.what;
        EXPECT_TRUE(o.made("ioctl(FS_IOC_GETFLAGS)") || (k.checks & kFlags) == 0) << k.what;
        EXPECT_FALSE(written && (k.checks & kSyncAfterWrite)) << k.what << ": no sync after it";
        EXPECT_FALSE(named && (k.checks & kDirSync)) << k.what << ": the directory is not synced";
        close(pipe_ends[0]);
        close(pipe_ends[1]);
    }
}

TEST_F(FaultInjection, IdentityIsNullOrStoredWhole) {
    struct Start {
        const char* what;
        std::optional<std::string> plain;  // the file's plain content before the call, if any
    };
    const std::vector<Start> starts = {{"no file", std::nullopt},
                                       {"another tag", "12345other"},
                                       {"this tag", "777tag"},
                                       {"empty file", ""}};
    for (const auto& platform : fault::kPlatforms) {
        fault::Platform refusing(platform.refusals);
        for (const auto& start : starts) {
            int n = 1;
            for (;; ++n) {
                std::remove(file.c_str());
                if (start.plain) write_bytes(file, model_scramble(*start.plain));
                std::optional<std::string> before = read_bytes(file);
                std::optional<std::string> id;
                srand48(n);
                const long next_random = lrand48();
                srand48(n);
                fault::Outcome o = inject(n, [&] {
                    jstring s = Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification(
                        env(), nullptr, jstr("tag"), jstr(file));
                    if (s != nullptr) id = utf8_of(s);
                });
                const std::string where = std::string(platform.what) + ", " + start.what +
                                          ", failing " + (o.failed ? o.failed : "none");
                // Not even a failed entropy source touches the process's own random sequence.
                EXPECT_EQ(lrand48(), next_random) << where;
                if (id) {
                    EXPECT_EQ(read_bytes(file), id) << where;
                    EXPECT_NE(model_unscramble(*id).find("tag"), std::string::npos);
                } else {
                    ASSERT_NE(o.failed, nullptr) << where;
                    EXPECT_EQ(read_bytes(file), before) << where;
                }
                // A new identity is made durable: its directory is synced once it is published.
                if (id && !o.failed && start.plain != "777tag") {
                    EXPECT_TRUE(o.made("fsync(dir)")) << where;
                }
                // A stored one is looked up under the lock its maker holds until it is durable,
                // or, where there is no lock, made durable before it is handed out.
                if (id && !o.failed && start.plain == "777tag") {
                    EXPECT_TRUE(o.made(platform.locks ? "flock" : "fsync(dir)")) << where;
                }
                // An identity published by link() whose temporary name could not be removed
                // afterwards is the one leftover a single failure can cause: a second name of
                // the identity itself.
                if (id && o.failed && std::strncmp(o.failed, "unlink", 6) == 0) {
                    std::vector<std::string> left = dir.others({"note"});
                    ASSERT_LE(left.size(), 1u) << where;
                    for (const auto& name : left) {
                        EXPECT_EQ(read_bytes(dir / name), id) << where;
                        std::remove((dir / name).c_str());
                    }
                }
                expect_clean_dir({"note"}, o);
                if (o.failed == nullptr) break;
            }
            std::printf("identity (%s, %s): %d fault points\n", platform.what, start.what, n - 1);
        }
    }
}

}  // namespace
}  // namespace kiv::test
