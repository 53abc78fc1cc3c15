// Many threads call every native method at once, on shared and separate paths, for a bounded
// time under -Xcheck:jni: no crash, no JNI warning, no torn read, one identity per path.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

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
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);

    on_threads(8, [&](int t) {
        std::mt19937 rng(static_cast<unsigned>(t));
        const std::string own = dir / ("own" + std::to_string(t));
        while (std::chrono::steady_clock::now() < until) {
            env()->PushLocalFrame(32);
            const std::string& text = texts[rng() % texts.size()];
            switch (rng() % 7) {
                case 0: bad += write_file(text, shared).code != 200; break;
                case 1: {
                    Report r = read_file(shared);
                    bad += r.code != 200 ||
                           std::find(texts.begin(), texts.end(), *r.msg) == texts.end();
                    break;
                }
                case 2: bad += query_file(shared).code != 200; break;
                case 3: {
                    bad += write_file(text, own).code != 200;
                    Report r = read_file(own);
                    bad += r.code != 200 || r.msg != text;  // nobody else writes this path
                    break;
                }
                case 4: {
                    std::optional<std::string> id = identity("stress", id_path);
                    std::lock_guard<std::mutex> lock(seen_mutex);
                    if (!identity_seen) identity_seen = id;
                    bad += !id || id != identity_seen;
                    break;
                }
                case 5: bad += write_file(std::nullopt, own).code != 603; break;
                default: {
                    auto s = static_cast<jstring>(call_object("test", "()Ljava/lang/String;"));
                    bad += utf8_of(s) != "2019/11/15 17:38";
                    break;
                }
            }
            ++ops;
            env()->PopLocalFrame(nullptr);
        }
    });
    std::printf("%ld operations on 8 threads\n", ops.load());
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(ops.load(), 1000);
}

}  // namespace
}  // namespace kiv::test
