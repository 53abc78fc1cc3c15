// writeFile, readFile and queryFile through a real JVM: every status code with its exact
// message, produced by real files and real C library errors wherever one exists.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "tests/jvm/jvm.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

class FileStore : public JvmTest {
protected:
    TempDir dir;
    std::string file = dir / "note.txt";
};

const std::string kSaved = "保存成功";
const std::string kPathEmpty = "路径为空";
const std::string kNoFile = "文件不存在";

// A message followed by the C library's own description of err (glibc and bionic word some
// differently).
std::string with_error(const char* text, int err) { return text + std::string(std::strerror(err)); }

TEST_F(FileStore, SavesScrambledBytesAndReadsThemBack) {
    EXPECT_EQ(write_file("abc", file).code, 200);
    EXPECT_EQ(write_file("abc", file).msg, kSaved);
    EXPECT_EQ(read_bytes(file), "bda");
    Report r = read_file(file);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.msg, "abc");
    r = query_file(file);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.msg, "文件存在，内容不为空");
    EXPECT_EQ(dir.others({"note.txt"}), std::vector<std::string>{});
}

// Texts as Java holds them, in modified UTF-8: what is saved must read back exactly.
TEST_F(FileStore, RoundTripsEveryKindOfText) {
    const std::string emoji = "\xED\xA0\xBD\xED\xB8\x80";  // U+1F600 as two encoded surrogates
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"one byte", "x"},
        {"ascii", "Hello, world! 0123456789"},
        {"chinese", "你好，世界。保存成功"},
        {"U+0001 at an odd position", std::string("a\x01") + "b"},
        {"U+0001 at an even position", std::string("\x01") + "ab"},
        {"U+0001 everywhere", std::string(7, '\x01')},
        {"U+0000 as Java encodes it", std::string("a\xC0\x80z")},
        {"supplementary characters", "A" + emoji + "BCDEF" + emoji},
        {"mixed", "é" + emoji + "中\x01\x7F"},
        // Long texts are scrambled straight from the characters while they are ASCII.
        {"long ascii, odd length", std::string(4097, 'q') + "\x01"},
        {"long, last character not ascii", std::string(5000, 'a') + "é"},
        {"long, U+0000 late", std::string(3000, 'b') + "\xC0\x80" + "c"},
        {"long, supplementary at the start", emoji + std::string(2000, 'd')},
    };
    for (const auto& [what, text] : texts) {
        // What this VM's GetStringUTFChars gives for the string: the text itself, but for
        // characters beyond U+FFFF on ART (four-byte UTF-8).
        const std::string vm_bytes = utf8_of(jstr(text));
        ASSERT_EQ(write_file(text, file).code, 200) << what;
        EXPECT_EQ(read_bytes(file), model_scramble(vm_bytes)) << what;
        Report r = read_file(file);
        EXPECT_EQ(r.code, 200) << what;
        EXPECT_EQ(r.msg, vm_bytes) << what;
    }
}

// Long texts are encoded by the library itself, in slices of 1024 characters (on ART with each
// pair joined into four bytes): the stored bytes must be exactly the VM's modified UTF-8
// (GetStringUTFChars), surrogates paired or lone included. Each edge
// character sits at the start, in the middle, across a slice boundary and at the end of runs of
// each width.
TEST_F(FileStore, LongTextsStoreExactlyTheVmsModifiedUtf8) {
    const std::u16string edges[] = {
        u"A",          std::u16string(1, u'\0'),
        u"\u0001",     u"\u007F",
        u"\u0080",     u"\u07FF",
        u"\u0800",     u"\uFFFF",
        u"\U0001F600", u"\xD800",
        u"\xDC00",     u"\xDE00\xD83D",
        u"\U0010FFFF", u"\xDFFF\xDBFF\U00010000",
    };
    const char16_t runs[] = {u'a', u'\u00E9', u'\u4E2D'};
    JNIEnv* e = env();
    for (char16_t run : runs) {
        for (const std::u16string& edge : edges) {
            for (std::size_t length : {1023, 1024, 1025, 2049}) {
                for (std::size_t at : {std::size_t{0}, std::size_t{1}, length / 2,
                                       std::size_t{1023}, length - edge.size()}) {
                    std::u16string units(length, run);
                    units.replace(at, edge.size(), edge);
                    ASSERT_EQ(e->PushLocalFrame(16), 0);
                    jstring content = e->NewString(reinterpret_cast<const jchar*>(units.data()),
                                                   static_cast<jsize>(units.size()));
                    jobject record = new_record();
                    call_object("writeFile",
                                "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/"
                                "String;)Lcom/zelk/kiv/jni/JniModel;",
                                record, content, jstr(file));
                    const std::string vm_bytes = utf8_of(content);
                    e->PopLocalFrame(nullptr);
                    const std::string where = "run U+" + std::to_string(run) + ", edge U+" +
                                              std::to_string(edge[0]) + " at " +
                                              std::to_string(at) + " of " + std::to_string(length);
                    ASSERT_EQ(read_bytes(file), model_scramble(vm_bytes)) << where;
                    EXPECT_EQ(read_file(file).msg, vm_bytes) << where;
                }
            }
        }
    }
}

TEST_F(FileStore, LargeTextsRoundTripAtOddAndEvenLengths) {
    std::mt19937 rng(7);
    for (std::size_t n : {std::size_t{131071}, std::size_t{131072}, std::size_t{1} << 20,
                          (std::size_t{1} << 20) + 3}) {
        std::string text(n, ' ');
        for (char& c : text) c = static_cast<char>(0x20 + rng() % 95);
        ASSERT_EQ(write_file(text, file).code, 200);
        Report r = read_file(file);
        EXPECT_EQ(r.code, 200);
        EXPECT_TRUE(r.msg == text) << "length " << n;
    }
}

TEST_F(FileStore, ASaveReplacesALongerText) {
    ASSERT_EQ(write_file("a much longer text than the next", file).code, 200);
    ASSERT_EQ(write_file("short", file).code, 200);
    EXPECT_EQ(read_bytes(file), model_scramble("short"));
    EXPECT_EQ(read_file(file).msg, "short");
}

TEST_F(FileStore, EmptyPathsAreReportedAlikeAndTouchNothing) {
    for (const std::optional<std::string>& path :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        Report w = write_file("abc", path);
        Report r = read_file(path);
        Report q = query_file(path);
        EXPECT_EQ(w.code, 601);
        EXPECT_EQ(r.code, 701);
        EXPECT_EQ(q.code, 801);
        for (const Report& rep : {w, r, q}) EXPECT_EQ(rep.msg, kPathEmpty);
    }
    EXPECT_EQ(write_file(std::nullopt, "").code, 601);
    EXPECT_EQ(dir.others({}), std::vector<std::string>{});
}

TEST_F(FileStore, EmptyContentDeletes) {
    struct Case {
        const char* what;
        std::function<std::string()> make;  // prepares the target, returns its path
        int code;
        std::string msg;
        bool gone;
    };
    const std::vector<Case> cases = {
        {"existing file",
         [&] {
             write_bytes(file, "bda");
             return file;
         },
         603, "内容为空，删除文件成功", true},
        {"missing file in a writable directory", [&] { return dir / "never"; }, 603,
         "内容为空，删除文件成功", true},
        {"missing directory", [&] { return dir / "no/such/file"; }, 604,
         with_error("内容为空，删除文件失败：", ENOENT), true},
        {"empty directory",
         [&] {
             mkdir((dir / "empty").c_str(), 0755);
             return dir / "empty";
         },
         603, "内容为空，删除文件成功", true},
        {"directory with a file",
         [&] {
             mkdir((dir / "full").c_str(), 0755);
             write_bytes(dir / "full/x", "x");
             return dir / "full";
         },
         604, with_error("内容为空，删除文件失败：", ENOTEMPTY), false},
    };
    for (const auto& c : cases) {
        for (const std::optional<std::string>& content :
             {std::optional<std::string>(), std::optional<std::string>("")}) {
            std::string path = c.make();
            Report r = write_file(content, path);
            EXPECT_EQ(r.code, c.code) << c.what;
            EXPECT_EQ(r.msg, c.msg) << c.what;
            EXPECT_EQ(access(path.c_str(), F_OK) != 0, c.gone) << c.what;
        }
    }
}

TEST_F(FileStore, MissingAndEmptyFiles) {
    Report r = read_file(file);
    Report q = query_file(file);
    EXPECT_EQ(r.code, 703);
    EXPECT_EQ(q.code, 803);
    EXPECT_EQ(r.msg, kNoFile);
    EXPECT_EQ(q.msg, kNoFile);
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "reading must not create the file";

    write_bytes(file, "");
    r = read_file(file);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.msg, "");
    q = query_file(file);
    EXPECT_EQ(q.code, 804);
    EXPECT_EQ(q.msg, "文件存在，内容为空");

    // A directory cannot be opened for update either.
    EXPECT_EQ(read_file(dir.path()).code, 703);
    EXPECT_EQ(query_file(dir.path()).code, 803);
}

// A text larger than the VM's heap: the read answers 704 with no exception left pending (the
// method would throw). ctest runs it in a VM with a small heap (small_heap_read); in one with a
// large heap the file would have to be too large to make here. (ART here runs on a core library
// without java.lang.Runtime, and is not given a small heap.)
TEST_F(FileStore, TextTooLargeForTheHeapReports704) {
    if (kOnArt) GTEST_SKIP() << "no java.lang.Runtime in ART's core library here";
    JNIEnv* e = env();
    jclass runtime = e->FindClass("java/lang/Runtime");
    jobject rt = e->CallStaticObjectMethod(
        runtime, e->GetStaticMethodID(runtime, "getRuntime", "()Ljava/lang/Runtime;"));
    ASSERT_FALSE(e->ExceptionCheck());
    const jlong heap = e->CallLongMethod(rt, e->GetMethodID(runtime, "maxMemory", "()J"));
    ASSERT_FALSE(e->ExceptionCheck());
    if (heap > (64 << 20)) GTEST_SKIP() << "a heap of " << heap << " bytes: run by small_heap_read";
    write_bytes(file, std::string(static_cast<std::size_t>(2 * heap), 'h'));
    Report r = read_file(file);
    EXPECT_EQ(r.code, 704);
    EXPECT_EQ(r.msg, with_error("读取内容失败：", ENOMEM));
}

TEST_F(FileStore, SaveThatCannotOpenReports606AndLeavesNothing) {
    const std::pair<std::string, int> cases[] = {
        {dir / "no/such/file", ENOENT},
        {dir.path(), EISDIR},
        {dir / std::string(NAME_MAX + 1, 'n'), ENAMETOOLONG},
    };
    for (const auto& [path, err] : cases) {
        Report r = write_file("abc", path);
        EXPECT_EQ(r.code, 606) << std::strerror(err);
        EXPECT_EQ(r.msg, with_error("打开文件失败：", err));
    }
    EXPECT_EQ(dir.others({}), std::vector<std::string>{});
}

// A device is written with plain writes, no stream buffer: /dev/full refuses the first, whatever
// the size.
TEST_F(FileStore, DeviceWritesInPlaceWithTheSystemsError) {
    Report r = write_file("abc", "/dev/full");
    EXPECT_EQ(r.code, 607);
    EXPECT_EQ(r.msg, with_error("写入失败：", ENOSPC));
    r = write_file(std::string(4096, 'x'), "/dev/full");
    EXPECT_EQ(r.code, 607);
    EXPECT_EQ(r.msg, with_error("写入失败：", ENOSPC));
    EXPECT_EQ(write_file("abc", "/dev/null").code, 200);
}

TEST_F(FileStore, PipeCannotBeMeasured) {
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    Report r = read_file(fifo);
    EXPECT_EQ(r.code, 704);
    EXPECT_EQ(r.msg, with_error("读取内容失败：", ESPIPE));
    EXPECT_EQ(query_file(fifo).code, 200);  // an unmeasurable size counts as not empty
}

TEST_F(FileStore, FileThatIsReadableButNotWritableCountsAsMissing) {
    ASSERT_EQ(write_file("keep me", file).code, 200);
    chmod(file.c_str(), 0644);
    Report r, q, w;
    if (!as_unprivileged_user([&] {
            r = read_file(file);
            q = query_file(file);
            w = write_file("replace", file);
        })) {
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    }
    EXPECT_EQ(r.code, 703);
    EXPECT_EQ(r.msg, kNoFile);
    EXPECT_EQ(q.code, 803);
    EXPECT_EQ(w.code, 606);
    EXPECT_EQ(w.msg, with_error("打开文件失败：", EACCES));
    EXPECT_EQ(read_file(file).msg, "keep me");
}

// Apps hand native code "/proc/self/fd/N" (or "/dev/fd/N") for a file they hold open from a
// content URI: often another app's file (its owner's, mode 0600, in a directory the caller
// cannot enter), or one deleted already. The descriptor is the caller's only right to it:
// saves, reads, queries and identities act through it, with exactly the rights it was opened
// with, leave its position and flags alone, and make nothing in the file's directory.
TEST_F(FileStore, OpenFilesLinksActThroughTheDescriptor) {
    enum class Link { proc_self, dev_fd, proc_pid, thread_self, task, self_task };
    struct Case {
        const char* what;
        mode_t dir_mode;
        mode_t file_mode;
        int flags;          // how the app opened the file
        bool deleted;       // unlinked once open
        bool unprivileged;  // the calls are made by a user with no right to the file but this
        Link link;
        int save;  // what writeFile answers; the file is read back (and queried) if it could be
        int read;  // what readFile answers
    };
    const std::vector<Case> cases = {
        {"reachable directory", 0755, 0666, O_RDWR, false, false, Link::proc_self, 200, 200},
        {"directory the caller cannot search", 0700, 0666, O_RDWR, false, true, Link::proc_self,
         200, 200},
        {"deleted file", 0755, 0666, O_RDWR, true, false, Link::proc_self, 200, 200},
        {"another app's file", 0700, 0600, O_RDWR, false, true, Link::proc_self, 200, 200},
        {"another app's file by /dev/fd", 0700, 0600, O_RDWR, false, true, Link::dev_fd, 200, 200},
        {"another app's file by /proc/<pid>/fd", 0700, 0600, O_RDWR, false, true, Link::proc_pid,
         200, 200},
        {"another app's file by /proc/thread-self/fd", 0700, 0600, O_RDWR, false, true,
         Link::thread_self, 200, 200},
        {"another app's file by /proc/<pid>/task/<another thread>/fd", 0700, 0600, O_RDWR, false,
         true, Link::task, 200, 200},
        {"another app's file by /proc/self/task/<another thread>/fd", 0700, 0600, O_RDWR, false,
         true, Link::self_task, 200, 200},
        {"descriptor opened to append", 0700, 0600, O_RDWR | O_APPEND, false, true, Link::proc_self,
         200, 200},
        {"read-only descriptor", 0700, 0600, O_RDONLY, false, true, Link::proc_self, 606, 200},
        {"write-only descriptor", 0700, 0600, O_WRONLY, false, true, Link::proc_self, 200, 703},
    };
    const std::string old_bytes = model_scramble("the old text");
    // Another thread of this process (the VM has several): its table is the process's.
    std::string other_task;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        if (e.path().filename() != std::to_string(static_cast<long>(syscall(SYS_gettid)))) {
            other_task = "task/" + e.path().filename().string() + "/fd/";
        }
    }
    ASSERT_FALSE(other_task.empty());
    for (const auto& c : cases) {
        const std::string where = dir / (std::string("case-") + std::to_string(&c - &cases[0]));
        ASSERT_EQ(mkdir(where.c_str(), 0755), 0) << c.what;
        const std::string target = where + "/note";
        write_bytes(target, old_bytes);
        chmod(target.c_str(), c.file_mode);
        OpenFile open_file(target, c.flags);
        OpenFile witness(target, O_RDONLY);  // what the file holds, seen by its owner
        ASSERT_TRUE(open_file.is_open() && witness.is_open()) << c.what;
        if (c.deleted) unlink(target.c_str());
        chmod(where.c_str(), c.dir_mode);
        const std::string n = std::to_string(open_file.fd());
        const std::string own = "/proc/" + std::to_string(getpid()) + "/";
        const std::string path = c.link == Link::dev_fd        ? open_file.dev_fd_path()
                                 : c.link == Link::proc_pid    ? own + "fd/" + n
                                 : c.link == Link::thread_self ? "/proc/thread-self/fd/" + n
                                 : c.link == Link::task        ? own + other_task + n
                                 : c.link == Link::self_task   ? "/proc/self/" + other_task + n
                                                               : open_file.path();
        ASSERT_EQ(lseek(open_file.fd(), 3, SEEK_SET), 3);
        Report w, r, q;
        std::string written;
        std::optional<std::string> id, again;
        const auto calls = [&] {
            w = write_file("the new text", path);
            written = witness.text();
            r = read_file(path);
            q = query_file(path);
            id = identity("tag", path);
            again = identity("tag", path);
        };
        if (!c.unprivileged) {
            calls();
        } else if (!as_unprivileged_user(calls)) {
            std::printf("%s: skipped, needs root to switch to an unprivileged user\n", c.what);
            continue;
        }
        chmod(where.c_str(), 0755);
        const bool saved = c.save == 200;
        EXPECT_EQ(w.code, c.save) << c.what << ": " << w.msg.value_or("");
        if (!saved) {
            EXPECT_EQ(w.msg, std::string("打开文件失败：") + std::strerror(EBADF)) << c.what;
        }
        EXPECT_EQ(written, saved ? model_scramble("the new text") : old_bytes) << c.what;
        EXPECT_EQ(r.code, c.read) << c.what;
        EXPECT_EQ(r.msg, c.read != 200 ? kNoFile
                         : saved       ? "the new text"
                                       : "the old text")
            << c.what;
        EXPECT_EQ(q.code, c.read == 200 ? 200 : 803) << c.what;
        // An identity needs both reading and writing.
        if (saved && c.read == 200) {
            ASSERT_TRUE(id.has_value()) << c.what;
            EXPECT_NE(model_unscramble(*id).find("tag"), std::string::npos) << c.what;
            EXPECT_EQ(witness.text(), *id) << c.what;
            EXPECT_EQ(again, id) << c.what;
        } else {
            EXPECT_EQ(id, std::nullopt) << c.what;
            EXPECT_EQ(witness.text(), written) << c.what;
        }
        // The app's own descriptor is as it left it.
        EXPECT_EQ(lseek(open_file.fd(), 0, SEEK_CUR), 3) << c.what;
        EXPECT_EQ(fcntl(open_file.fd(), F_GETFL) & O_APPEND, c.flags & O_APPEND) << c.what;
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(where))
            names.push_back(e.path().filename().string());
        EXPECT_EQ(names, c.deleted ? std::vector<std::string>{} : std::vector<std::string>{"note"})
            << c.what;
    }
}

// A provider that streams a document hands out a pipe: a save writes the scrambled bytes into it
// once, in order; a read cannot measure it (704, as for a named FIFO), a query counts it as not
// empty.
TEST_F(FileStore, PipesHandedOverAsDescriptors) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const std::string text(3000, 'p');  // fits in the pipe: the save does not wait for a reader
    Report w, r, q;
    const auto calls = [&] {
        w = write_file(text, "/proc/self/fd/" + std::to_string(ends[1]));
        r = read_file("/proc/self/fd/" + std::to_string(ends[0]));
        q = query_file("/dev/fd/" + std::to_string(ends[0]));
    };
    if (!as_unprivileged_user(calls)) calls();  // the pipe is root's: only the descriptor opens it
    close(ends[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;) got.append(buf, n);
    close(ends[0]);
    EXPECT_EQ(w.code, 200) << w.msg.value_or("");
    EXPECT_EQ(got, model_scramble(text));
    EXPECT_EQ(r.code, 704);
    EXPECT_EQ(r.msg, std::string("读取内容失败：") + std::strerror(ESPIPE));
    EXPECT_EQ(q.code, 200);
}

// Runs fn with the process's file-size limit at `bytes`, so that a write past it fails with
// EFBIG. SIGXFSZ is ignored meanwhile, as HotSpot does itself and ART does not.
template <typename Fn>
void with_file_size_limit(rlim_t bytes, Fn fn) {
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = bytes;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    void (*const xfsz)(int) = signal(SIGXFSZ, SIG_IGN);
    fn();
    signal(SIGXFSZ, xfsz);
    setrlimit(RLIMIT_FSIZE, &old);
}

// A file-size limit makes the write itself fail: the old text must survive, and the temporary
// file must be gone, however long the file's name or its path.
TEST_F(FileStore, FailedSaveKeepsTheOldTextAndLeavesNoTemporaryFile) {
    // A directory nested deep enough that its path leaves little room below PATH_MAX.
    std::string deep = dir.path();
    while (deep.size() < PATH_MAX - 250) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    // A name that brings the path to ten bytes below the limit.
    const std::string near_limit(PATH_MAX - 10 - deep.size() - 1, 'p');
    const std::vector<std::pair<std::string, std::string>> targets = {
        {dir.path(), "note.txt"},
        {dir.path(), std::string(240, 'n')},
        {dir.path(), std::string(NAME_MAX, 'm')},
        {deep, near_limit},
    };
    for (const auto& [where, name] : targets) {
        const std::string path = where + "/" + name;
        ASSERT_EQ(write_file("the old text", path).code, 200) << name.size();
        Report r;
        with_file_size_limit(4096, [&] { r = write_file(std::string(10000, 'n'), path); });
        EXPECT_EQ(r.code, 607) << name.size() << "-byte name in " << where.size() << "-byte dir";
        EXPECT_EQ(r.msg, with_error("写入失败：", EFBIG));
        EXPECT_EQ(read_file(path).msg, "the old text");
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(where)) {
            const std::string n = e.path().filename().string();
            bool target = false;
            for (const auto& t : targets) target = target || t.second == n;
            if (!target && !e.is_directory()) left.push_back(n);
        }
        EXPECT_EQ(left.size(), 0u) << name.size() << "-byte name: a temporary file was left";
    }
}

// Where the file is written in place, the bytes beyond the old end go first: a file-size limit
// refuses them before any old byte is overwritten, and the old text stays whole.
TEST_F(FileStore, FailedInPlaceSaveKeepsTheOldText) {
    struct Case {
        const char* what;
        std::string dir;
        mode_t dir_mode;
        bool through_descriptor;  // else as a user the directory refuses new files to
    };
    const std::vector<Case> cases = {
        {"directory that refuses new files", dir / "read-only", 0555, false},
        {"open file's link", dir / "open", 0755, true},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(mkdir(c.dir.c_str(), 0755), 0);
        const std::string target = c.dir + "/note";
        write_bytes(target, model_scramble("the old text"));
        chmod(target.c_str(), 0666);
        chmod(c.dir.c_str(), c.dir_mode);
        OpenFile open_file(target);
        const std::string path = c.through_descriptor ? open_file.path() : target;
        Report r;
        const auto save = [&] {
            with_file_size_limit(4096, [&] { r = write_file(std::string(10000, 'n'), path); });
        };
        if (c.through_descriptor) {
            save();
        } else if (!as_unprivileged_user(save)) {
            std::printf("%s: skipped, needs root to switch to an unprivileged user\n", c.what);
            continue;
        }
        chmod(c.dir.c_str(), 0755);
        EXPECT_EQ(r.code, 607) << c.what;
        EXPECT_EQ(r.msg, with_error("写入失败：", EFBIG)) << c.what;
        EXPECT_EQ(read_bytes(target), model_scramble("the old text")) << c.what;
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(c.dir))
            names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"note"}) << c.what;
    }
}

// Deleting a file that never existed must never make it exist, not even for a moment: readers
// racing with the delete see only a missing file.
TEST_F(FileStore, DeletingAMissingFileNeverCreatesIt) {
    std::atomic<int> seen_present{0};
    std::atomic<bool> done{false};
    on_threads(3, [&](int t) {
        if (t == 0) {
            for (int i = 0; i < 2000; ++i) EXPECT_EQ(write_file("", file).code, 603);
            done = true;
            return;
        }
        while (!done) {
            Report r = t == 1 ? read_file(file) : query_file(file);
            if (r.code != 703 && r.code != 803) ++seen_present;
        }
    });
    EXPECT_EQ(seen_present.load(), 0);
    EXPECT_EQ(dir.others({}), std::vector<std::string>{});
}

// A replaced file keeps its mode, even bits the umask would take from a new file (Android's
// umask is 022 too).
TEST_F(FileStore, SaveKeepsPermissionBitsAndSymbolicLinks) {
    ASSERT_EQ(write_file("first", file).code, 200);
    ASSERT_EQ(symlink("note.txt", (dir / "link").c_str()), 0);
    const mode_t umask_was = umask(022);
    for (mode_t mode : {0640, 0666, 0664, 0600}) {
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        EXPECT_EQ(write_file("second", dir / "link").code, 200);
        struct stat st {};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    umask(umask_was);
    struct stat st {};
    ASSERT_EQ(lstat((dir / "link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link must stay a link";
    EXPECT_EQ(read_file(file).msg, "second");

    // A dangling link names the file to create.
    ASSERT_EQ(symlink("target.txt", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(write_file("third", dir / "dangling").code, 200);
    EXPECT_EQ(read_bytes(dir / "target.txt"), model_scramble("third"));
    EXPECT_EQ(dir.others({"note.txt", "link", "dangling", "target.txt"}),
              std::vector<std::string>{});
}

// Files not written by the library: standard UTF-8 from other tools, and arbitrary bytes.
TEST_F(FileStore, ForeignFilesReadSafely) {
    struct Case {
        std::string plain;
        std::u16string expected;
    };
    const std::vector<Case> cases = {
        {"A\xF0\x9F\x98\x80"
         "BCDEF",
         u"A\U0001F600BCDEF"},
        {"\xFF", u"\uFFFD"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xE4\xB8", u"\uFFFD\uFFFD"},
        {"\xC0\x80", std::u16string(1, u'\0')},
        {"\xED\xA0\x80", u"\xD800"},
        {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"ok\xC3", u"ok\uFFFD"},
        {std::string(5000, 'a') + std::string(1, '\0') + "z",
         std::u16string(5000, u'a') + u'\0' + u"z"},
        {std::string(5000, 'a') + "\xC3\xA9", std::u16string(5000, u'a') + u"\u00E9"},
    };
    for (const auto& c : cases) {
        write_bytes(file, model_scramble(c.plain));
        JNIEnv* e = env();
        jobject record = new_record();
        call_object("readFile",
                    "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;",
                    record, jstr(file));
        jclass cls = e->FindClass("com/zelk/kiv/jni/JniModel");
        auto msg = static_cast<jstring>(
            e->GetObjectField(record, e->GetFieldID(cls, "msg", "Ljava/lang/String;")));
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(units_of(msg), c.expected);
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string bytes(rng() % 64, '\0');
        for (char& b : bytes) b = static_cast<char>(rng());
        write_bytes(file, bytes);
        Report r = read_file(file);
        EXPECT_EQ(r.code, 200);
        EXPECT_TRUE(r.msg.has_value());
    }
}

// Saves and reads of one path on several threads: every read sees one complete saved text.
TEST_F(FileStore, ConcurrentSavesAndReadsNeverSeeAPartialText) {
    std::vector<std::string> texts;
    for (int i = 0; i < 4; ++i)
        texts.push_back(std::string(1000 + i * 3000, static_cast<char>('a' + i)));
    ASSERT_EQ(write_file(texts[0], file).code, 200);
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    on_threads(6, [&](int t) {
        for (int i = 0; i < 60; ++i) {
            if (t < 3) {
                if (write_file(texts[(t + i) % texts.size()], file).code != 200) ++bad;
            } else {
                Report r = read_file(file);
                ++reads;
                bool whole =
                    r.code == 200 && std::find(texts.begin(), texts.end(), *r.msg) != texts.end();
                if (!whole) ++bad;
            }
        }
    });
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(reads.load(), 180);
    EXPECT_EQ(dir.others({"note.txt"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace kiv::test
