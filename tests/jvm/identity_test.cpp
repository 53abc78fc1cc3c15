// getDeviceIdentification through a real JVM.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <set>

#include "tests/jvm/jvm.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

class Identity : public JvmTest {
protected:
    TempDir dir;
    std::string file = dir / "device.id";
};

// The plain identity: up to ten digits without a leading zero (a value below 2^31), then the tag.
void expect_plain_identity(const std::string& scrambled, const std::string& tag) {
    std::string plain = model_unscramble(scrambled);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(plain, m, std::regex("([1-9][0-9]{0,9})?(.*)"))) << plain;
    EXPECT_EQ(m[2].str(), tag);
    if (m[1].matched) {
        EXPECT_LT(std::stoull(m[1].str()), 1ull << 31);
    }
}

TEST_F(Identity, IsMadeStoredAndThenReturnedUnchanged) {
    std::optional<std::string> first = identity("abc", file);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(read_bytes(file), first);
    expect_plain_identity(*first, "abc");
    for (unsigned char c : *first) EXPECT_TRUE(c >= 0x1F && c <= 0x7F);  // ASCII tag, ASCII result

    EXPECT_EQ(identity("abc", file), first);
    EXPECT_EQ(read_bytes(file), first);
    EXPECT_EQ(identity("b", file), first) << "a tag found anywhere in the plain text matches";
    EXPECT_EQ(dir.others({"device.id"}), std::vector<std::string>{});
}

TEST_F(Identity, AnotherTagReplacesTheStoredIdentity) {
    std::optional<std::string> first = identity("alpha", file);
    std::optional<std::string> second = identity("omega", file);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(read_bytes(file), second);
    expect_plain_identity(*second, "omega");
}

TEST_F(Identity, TagInsideTheDigitsMatches) {
    write_bytes(file, model_scramble("1234567abc"));
    EXPECT_EQ(identity("456", file), model_scramble("1234567abc"));
}

TEST_F(Identity, EmptyFileCountsAsMissing) {
    write_bytes(file, "");
    std::optional<std::string> id = identity("abc", file);
    ASSERT_TRUE(id.has_value());
    expect_plain_identity(*id, "abc");
    EXPECT_EQ(read_bytes(file), id);
}

TEST_F(Identity, BadArgumentsGiveNullAndTouchNothing) {
    using Arg = std::optional<std::string>;
    const std::vector<std::pair<Arg, Arg>> cases = {
        {Arg(), Arg(file)},    {Arg(""), Arg(file)}, {Arg("abc"), Arg()},
        {Arg("abc"), Arg("")}, {Arg(), Arg()},
    };
    for (const auto& [tag, path] : cases) EXPECT_EQ(identity(tag, path), std::nullopt);
    EXPECT_EQ(dir.others({}), std::vector<std::string>{});
    EXPECT_EQ(identity("abc", dir / "no/such/dir/id"), std::nullopt);
}

TEST_F(Identity, FileThatIsReadableButNotWritableGivesNullAndKeepsItsContent) {
    write_bytes(file, model_scramble("42other"));
    chmod(file.c_str(), 0644);
    std::optional<std::string> id = std::string("unset");
    if (!as_unprivileged_user([&] { id = identity("abc", file); })) GTEST_SKIP() << "needs root";
    EXPECT_EQ(id, std::nullopt);
    EXPECT_EQ(read_bytes(file), model_scramble("42other"));
}

// Identities made within the same second must still differ, and making one must leave the C
// library's generator of the process alone.
TEST_F(Identity, IdentitiesAreUniqueAndTheProcessGeneratorIsUntouched) {
    srand48(1234);
    long expected = lrand48();
    srand48(1234);
    std::set<std::string> seen;
    for (int i = 0; i < 30; ++i) {
        std::optional<std::string> id = identity("t", dir / ("id" + std::to_string(i)));
        ASSERT_TRUE(id.has_value());
        seen.insert(*id);
    }
    EXPECT_EQ(seen.size(), 30u);
    EXPECT_EQ(lrand48(), expected);
}

TEST_F(Identity, ConcurrentFirstCallsAgreeOnOneIdentity) {
    for (int round = 0; round < 10; ++round) {
        std::string path = dir / ("race" + std::to_string(round));
        std::vector<std::optional<std::string>> got(6);
        on_threads(6, [&](int t) { got[t] = identity("race", path); });
        for (const auto& id : got) {
            ASSERT_TRUE(id.has_value());
            EXPECT_EQ(id, got[0]) << "round " << round;
        }
        EXPECT_EQ(read_bytes(path), got[0]);
    }
    std::vector<std::string> keep;
    for (int round = 0; round < 10; ++round) keep.push_back("race" + std::to_string(round));
    EXPECT_EQ(dir.others(keep), std::vector<std::string>{});
}

// Any process that can open the directory can hold its lock (on shared storage, any app): the
// call must not wait for it longer than its short deadline (a quarter of a second), and then
// stores an identity as where locks are unsupported.
TEST_F(Identity, LockHeldByAnotherProcessDelaysTheCallOnlyBriefly) {
    const std::vector<std::pair<const char*, std::optional<std::string>>> starts = {
        {"no file", std::nullopt}, {"another tag's identity", "42other"}};
    for (const auto& [what, plain] : starts) {
        std::remove(file.c_str());
        if (plain) write_bytes(file, model_scramble(*plain));
        int locked[2], release[2];
        ASSERT_EQ(pipe(locked), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t holder = fork();
        ASSERT_GE(holder, 0);
        if (holder == 0) {  // only async-signal-safe calls in the child of a threaded process
            close(locked[0]);
            close(release[1]);
            const int d = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
            if (d < 0 || flock(d, LOCK_EX) != 0) _exit(1);
            const char x = 'x';
            if (write(locked[1], &x, 1) != 1) _exit(1);
            pollfd p{release[0], POLLIN, 0};
            poll(&p, 1, 20000);  // held until released, or for 20 s at most
            _exit(0);
        }
        close(locked[1]);
        close(release[0]);
        char x = 0;
        ASSERT_EQ(read(locked[0], &x, 1), 1) << "the lock holder did not start";
        const auto start = std::chrono::steady_clock::now();
        std::optional<std::string> id = identity("abc", file);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        close(release[1]);
        close(locked[0]);
        int status = 0;
        waitpid(holder, &status, 0);
        EXPECT_LT(waited, 2000) << what << ": milliseconds waited for the other's lock";
        ASSERT_TRUE(id.has_value()) << what;
        expect_plain_identity(*id, "abc");
        EXPECT_EQ(read_bytes(file), id) << what;
        EXPECT_EQ(identity("abc", file), id) << what;
    }
}

// A tag outside ASCII scrambles to bytes that are not modified UTF-8; the result must still
// reach Java as a valid string (-Xcheck:jni would flag anything else), and a stored zero byte
// must not cut the lookup short.
TEST_F(Identity, NonAsciiTagsAndStoredZeroBytesAreSafe) {
    std::optional<std::string> id = identity("é中", file);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(identity("é中", file), id);
    EXPECT_EQ(
        model_unscramble(*read_bytes(file)).substr(model_unscramble(*read_bytes(file)).size() - 5),
        "é中");

    write_bytes(file, model_scramble("7\x01tag"));  // 0x01 at an odd position is stored as zero
    ASSERT_EQ(read_bytes(file)->find('\0'), 3u);
    EXPECT_TRUE(identity("tag", file).has_value());
    EXPECT_EQ(read_bytes(file), model_scramble("7\x01tag")) << "the stored identity matched";
}

}  // namespace
}  // namespace kiv::test
