// Many threads call every native method at once, on shared and separate paths, for a bounded
// time under -Xcheck:jni: no crash, no JNI warning, no torn read, one identity per path.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>

#include "tests/jvm/jvm.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

class Stress : public JvmTest {};

TEST_F(Stress, EveryMethodOnManyThreads) {
    TempDir dir;
    const std::string shared = dir / "shared", id_path = dir / "device.id";
    std::vector<std::string> texts;
    for (int i = 0; i < 5; ++i)
        texts.push_back(
            std::string(static_cast<std::size_t>(1) << (4 * i), static_cast<char>('k' + i)));
    ASSERT_EQ(write_file(texts[0], shared).code, 200);
    std::optional<std::string> identity_seen;
    std::mutex seen_mutex;
    std::atomic<long> ops{0}, bad{0};
    std::string first_bad;  // what went wrong first, under seen_mutex
    const auto check = [&](bool ok, const char* what, int code) {
        if (ok) return;
        ++bad;
        std::lock_guard<std::mutex> lock(seen_mutex);
        if (first_bad.empty()) first_bad = std::string(what) + ", code " + std::to_string(code);
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);

    on_threads(8, [&](int t) {
        std::mt19937 rng(static_cast<unsigned>(t));
        const std::string own = dir / ("own" + std::to_string(t));
        while (std::chrono::steady_clock::now() < until) {
            env()->PushLocalFrame(32);
            const std::string& text = texts[rng() % texts.size()];
            switch (rng() % 7) {
                case 0: {
                    const int code = write_file(text, shared).code;
                    check(code == 200, "a save of the shared file", code);
                    break;
                }
                case 1: {
                    Report r = read_file(shared);
                    check(r.code == 200 && r.msg &&
                              std::find(texts.begin(), texts.end(), *r.msg) != texts.end(),
                          "a read of the shared file", r.code);
                    break;
                }
                case 2: {
                    const int code = query_file(shared).code;
                    check(code == 200, "a query of the shared file", code);
                    break;
                }
                case 3: {
                    const int code = write_file(text, own).code;
                    check(code == 200, "a save of a thread's own file", code);
                    Report r = read_file(own);  // nobody else writes this path
                    check(r.code == 200 && r.msg == text, "a read of a thread's own file", r.code);
                    break;
                }
                case 4: {
                    std::optional<std::string> id = identity("stress", id_path);
                    bool same = false;
                    {
                        std::lock_guard<std::mutex> lock(seen_mutex);
                        if (!identity_seen) identity_seen = id;
                        same = id && id == identity_seen;
                    }
                    check(same, id ? "another identity" : "no identity", 0);
                    break;
                }
                case 5: {
                    const int code = write_file(std::nullopt, own).code;
                    check(code == 603, "a save of null", code);
                    break;
                }
                default: {
                    auto s = static_cast<jstring>(call_object("test", "()Ljava/lang/String;"));
                    check(utf8_of(s) == "2019/11/15 17:38", "the date stamp", 0);
                    break;
                }
            }
            ++ops;
            env()->PopLocalFrame(nullptr);
        }
    });
    std::printf("%ld operations on 8 threads\n", ops.load());
    EXPECT_EQ(bad.load(), 0) << "first: " << first_bad;
    EXPECT_GT(ops.load(), 1000);
}

}  // namespace
}  // namespace kiv::test
