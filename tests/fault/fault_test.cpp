// Every failable C library call that a save, a delete, a read, a query or an identity call
// makes is made to fail in turn (N = 1, 2, ... until the operation runs clean). After each
// injected failure the report must name it exactly, the file must hold its old content or the
// complete new one, no temporary file may be left, and no Java exception may be pending.

#include "tests/fault/fault.h"

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
        return o;
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
// close (608) comes after the whole new text is written.
TEST_F(FaultInjection, SaveKeepsTheOldOrTheWholeNewText) {
    struct Target {
        const char* what;
        std::vector<fault::Refusal> refusals;
        bool through_descriptor;
    };
    const std::vector<Target> targets = {
        {"file", {}, false},
        {"directory refusing new files", {{"openat", EACCES}}, false},
        {"open file's link", {}, true},
    };
    const std::string old_text = "the old text";
    std::set<int> codes;
    for (const auto& target : targets) {
        fault::Platform refusing(target.refusals);
        write_bytes(file, "");
        OpenFile open_file(file);  // the file's own inode, which every in-place save keeps
        ASSERT_TRUE(open_file.is_open());
        const bool in_place = !target.refusals.empty() || target.through_descriptor;
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
                    EXPECT_EQ(r.msg, "保存成功");
                    EXPECT_EQ(now, new_bytes) << where;
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
                }
                if (target.through_descriptor) {
                    EXPECT_EQ(open_file.text(), now) << where;
                }
                expect_clean_dir({"note"}, o);
                if (o.failed == nullptr) {
                    // A rename is made durable: the directory is synced after it (the powercut
                    // lane shows what a power cut does without that).
                    if (!in_place) {
                        EXPECT_TRUE(o.made.count("fsync(dir)")) << target.what;
                    }
                    break;
                }
            }
            std::printf("save of %zu bytes (%s): %d fault points\n", new_text.size(), target.what,
                        n - 1);
            EXPECT_GE(n - 1, 8) << target.what
                                << ": a save makes at least 8 failable calls (lstat, open, ...)";
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
            if (o.failed == nullptr) {
                EXPECT_TRUE(o.made.count("fsync(dir)"));
            }
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
                    EXPECT_TRUE(o.made.count("fsync(dir)")) << where;
                }
                // A stored one is looked up under the lock its maker holds until it is durable,
                // or, where there is no lock, made durable before it is handed out.
                if (id && !o.failed && start.plain == "777tag") {
                    EXPECT_TRUE(o.made.count(platform.locks ? "flock" : "fsync(dir)")) << where;
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
