// The fault suite's case that needs no VM: concurrent first identities on platforms that refuse
// hard links, renameat2 or locks, through the core itself. It runs wherever the core does (on
// bionic too), while the rest of the suite drives the entry points inside a JVM.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "identity/identity.h"
#include "sys/sys.h"
#include "tests/fault/fault.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

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
    constexpr int kThreads = 8;
    TempDir dir;
    for (const auto& platform : fault::kPlatforms) {
        fault::Platform refusing(platform.refusals);
        for (const auto& start : starts) {
            if (start.empty_file && !platform.locks) continue;
            const std::string path = dir / start.name;
            for (int round = 0; round < 8; ++round) {
                std::remove(path.c_str());
                if (start.empty_file) write_bytes(path, "");
                std::vector<std::string> got(kThreads);
                std::atomic<bool> go{false};
                std::vector<std::thread> threads;
                for (int t = 0; t < kThreads; ++t) {
                    threads.emplace_back([&, t] {
                        while (!go.load()) std::this_thread::yield();
                        sys::Buffer id;
                        std::size_t n = 0;
                        const auto* tag = reinterpret_cast<const unsigned char*>("race");
                        got[t] = identity::get_or_make(path.c_str(), tag, 4, id, n)
                                     ? std::string(id.chars(), n)
                                     : "<null>";
                    });
                }
                go = true;
                for (auto& t : threads) t.join();
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

}  // namespace
}  // namespace kiv::test
