// A process saving in a loop is killed with SIGKILL at random moments, many times. After every
// kill the file must hold one whole saved text (or one whole identity), never a mix or a part.
// Temporary files a kill leaves behind are counted and removed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <regex>
#include <thread>

#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/target_command.h"

namespace kiv::test {
namespace {

constexpr int kKills = 150;

// Starts the child, waits for its first save, lets it run for a random while, kills it.
void run_and_kill(const char* mode, const std::string& path, std::mt19937& rng) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    std::vector<std::string> cmd = target_command(KIV_CRASH_CHILD, {mode, path});
    const pid_t pid = start_child(argv_of(cmd).data(), environ, STDIN_FILENO, out[1], STDERR_FILENO,
                                  std::nullopt, {});
    close(out[1]);
    ASSERT_GE(pid, 0) << "the child could not be started";
    char ready = 0;
    ASSERT_EQ(read(out[0], &ready, 1), 1) << "the child did not start saving";
    close(out[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child stopped on its own";
}

int remove_leftovers(const TempDir& dir, const std::string& keep) {
    std::vector<std::string> left = dir.others({keep, "link"});
    for (const auto& name : left) {
        EXPECT_EQ(name.rfind("." + keep + ".kivtmp-", 0), 0u) << "unexpected file " << name;
        std::remove((dir / name).c_str());
    }
    return static_cast<int>(left.size());
}

TEST(CrashSafety, KilledSavesLeaveOneWholeText) {
    TempDir dir;
    ASSERT_EQ(symlink("note", (dir / "link").c_str()), 0);
    std::mt19937 rng(2024);
    int leftovers = 0;
    for (int k = 0; k < kKills; ++k) {
        // Every other save through a symbolic link, which must be just as whole.
        run_and_kill("save", dir / (k % 2 == 0 ? "note" : "link"), rng);
        std::string plain = model_unscramble(read_bytes(dir / "note").value_or(""));
        ASSERT_TRUE(plain.size() == 1000003 || plain.size() == 17)
            << "kill " << k << ": " << plain.size() << " bytes";
        ASSERT_EQ(plain.find_first_not_of(plain[0]), std::string::npos)
            << "kill " << k << ": a torn text";
        leftovers += remove_leftovers(dir, "note");
    }
    std::printf("%d kills survived; %d temporary files left by kills\n", kKills, leftovers);
}

TEST(CrashSafety, KilledIdentityCallsLeaveOneWholeIdentity) {
    TempDir dir;
    std::mt19937 rng(4048);
    const std::regex identity("[1-9][0-9]{0,9}(even|odd)-tag|(even|odd)-tag");
    int leftovers = 0;
    for (int k = 0; k < kKills; ++k) {
        if (k % 10 == 0) std::remove((dir / "device.id").c_str());  // the first-identity path too
        run_and_kill("identity", dir / "device.id", rng);
        std::string plain = model_unscramble(read_bytes(dir / "device.id").value_or(""));
        ASSERT_TRUE(std::regex_match(plain, identity)) << "kill " << k << ": \"" << plain << "\"";
        leftovers += remove_leftovers(dir, "device.id");
    }
    std::printf("%d kills survived; %d temporary files left by kills\n", kKills, leftovers);
}

}  // namespace
}  // namespace kiv::test
