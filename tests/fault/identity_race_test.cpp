// The fault suite's case that needs no VM: concurrent first identities on platforms that refuse
// hard links, renameat2 or locks, through the core itself. It runs wherever the core does (on
// bionic too), while the rest of the suite drives the entry points inside a JVM.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "identity/identity.h"
#include "sys/sys.h"
#include "tests/fault/fault.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

// Runs kThreads first identity calls at once, thread t on path_of(t) and, with `unprivileged`,
// as a user with no right to make files in the directory; returns what each got.
constexpr int kThreads = 8;
std::vector<std::string> race(const std::function<std::string(int)>& path_of, bool unprivileged) {
    std::vector<std::string> got(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            if (unprivileged) setfsuid(65534);  // this thread's file-system identity only
            const std::string path = path_of(t);
            while (!go.load()) std::this_thread::yield();
            sys::Buffer id;
            std::size_t n = 0;
            const auto* tag = reinterpret_cast<const unsigned char*>("race");
            got[t] = identity::get_or_make(path.c_str(), tag, 4, id, n) ? std::string(id.chars(), n)
                                                                        : "<null>";
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    return got;
}

// First calls racing on one path all return the same identity, the one the file then holds,
// whatever the platform lacks. Without locks that holds only where no file is yet: an empty
// file is replaced by whoever comes last.
TEST(FaultInjection, ConcurrentFirstIdentitiesAgreeOnEveryPlatform) {
    struct Start {
        const char* what;
        std::string name;
        bool empty_file;
    };
    const std::vector<Start> starts = {{"no file", "device.id", false},
                                       {"empty file", "device.id", true},
                                       {"240-byte name", std::string(240, 'i'), false}};
    TempDir dir;
    for (const auto& platform : fault::kPlatforms) {
        fault::Platform refusing(platform.refusals);
        for (const auto& start : starts) {
            if (start.empty_file && !platform.locks) continue;
            const std::string path = dir / start.name;
            for (int round = 0; round < 8; ++round) {
                std::remove(path.c_str());
                if (start.empty_file) write_bytes(path, "");
                const std::vector<std::string> got = race([&](int) { return path; }, false);
                const std::string where = std::string(platform.what) + ", " + start.what;
                EXPECT_NE(got[0], "<null>") << where;
                for (const auto& id : got) EXPECT_EQ(id, got[0]) << where << ", round " << round;
                EXPECT_EQ(read_bytes(path), got[0]) << where << ", round " << round;
            }
            EXPECT_EQ(dir.others({start.name}), std::vector<std::string>{}) << start.what;
            std::remove(path.c_str());
        }
    }
}

// Callers by a file's name and callers through a descriptor of it (/proc/self/fd/N) exclude each
// other: the descriptor's callers lock the directory where the file has that name, as the others
// do, and so also wait for a caller by name in another process that holds the lock while it saves
// the identity it made (done by hand here, for 100 ms), or that makes none and lets them all race
// once it is done. Every save is in place (the directory refuses new files to the callers), so
// each kind sees the other's file; where a caller by name replaces the file instead, a
// descriptor opened before names a deleted one, which nothing can reconcile.
TEST(FaultInjection, IdentitiesByNameAndByDescriptorAgree) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TempDir dir;
    const std::string path = dir / "device.id";
    const std::string made = model_scramble(std::string("123race"));
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    for (const auto& platform : fault::kPlatforms) {
        if (!platform.locks) continue;
        fault::Platform refusing(platform.refusals);
        for (bool writes : {true, false}) {
            write_bytes(path, "");
            ASSERT_EQ(chmod(path.c_str(), 0666), 0);
            OpenFile file(path);
            int locked[2];
            ASSERT_TRUE(file.is_open() && pipe(locked) == 0);
            const pid_t maker = fork();
            if (maker == 0) {
                const int d = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
                if (d < 0 || flock(d, LOCK_EX) != 0 || write(locked[1], "x", 1) != 1) _exit(1);
                usleep(100000);
                const auto n = static_cast<ssize_t>(made.size());
                _exit(!writes || pwrite(file.fd(), made.data(), made.size(), 0) == n ? 0 : 1);
            }
            char x = 0;
            ASSERT_TRUE(maker > 0 && read(locked[0], &x, 1) == 1);
            const std::vector<std::string> got =
                race([&](int t) { return t % 2 == 0 ? path : file.path(); }, true);
            waitpid(maker, nullptr, 0);
            close(locked[0]);
            close(locked[1]);
            const std::string where = std::string(platform.what) + (writes ? ", made" : "");
            if (writes) {
                EXPECT_EQ(got[0], made) << where;
            }
            for (const auto& id : got) EXPECT_EQ(id, got[0]) << where;
            EXPECT_EQ(read_bytes(path), got[0]) << where;
        }
    }
    chmod(dir.path().c_str(), 0755);
}

}  // namespace
}  // namespace kiv::test
