// The kiv tool against the library as the app uses it, through a real JVM: what one writes the
// other reads, and an identity made by either is the other's too. Built into kiv_jvm_tests
// with KIV_TOOL_PATH set to the tool.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/jvm/jvm.h"
#include "tests/support/child.h"

namespace kiv::test {
namespace {

Outcome kiv(const std::vector<std::string>& args, const std::string& input = {}) {
    return run_child(KIV_TOOL_PATH, args, input);
}

class ToolInterop : public JvmTest {
protected:
    test::TempDir dir_;
    std::string path_ = dir_ / "shared.txt";
};

// Texts as the tool takes them (UTF-8) and as the VM hands them over (modified UTF-8): the same
// bytes except for characters beyond U+FFFF, which HotSpot passes as two encoded surrogates (ART
// as four-byte UTF-8, the tool's own form).
struct Text {
    const char* name;
    std::string utf8;
    std::string modified_utf8;
};

const std::vector<Text>& texts() {
    static const std::vector<Text> all = {
        {"ascii", "hello", "hello"},
        {"chinese", "你好，世界：存储的文本", "你好，世界：存储的文本"},
        {"lines", "line one\nline two\n", "line one\nline two\n"},
        {"odd length", "abcdefg", "abcdefg"},
        {"long", std::string(100001, 'k') + "尾", std::string(100001, 'k') + "尾"},
        {"beyond U+FFFF", "smile \xF0\x9F\x98\x80", "smile \xED\xA0\xBD\xED\xB8\x80"},
    };
    return all;
}

// What this VM's GetStringUTFChars gives for the text.
const std::string& vm_utf8(const Text& t) { return kOnArt ? t.utf8 : t.modified_utf8; }

TEST_F(ToolInterop, ToolReadsWhatWriteFileWrote) {
    for (const Text& t : texts()) {
        SCOPED_TRACE(t.name);
        ASSERT_EQ(write_file(t.modified_utf8, path_).code, 200);
        Outcome r = kiv({"read", path_});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, vm_utf8(t));  // the tool shows the bytes as stored
    }
}

TEST_F(ToolInterop, ReadFileReadsWhatToolWrote) {
    for (const Text& t : texts()) {
        SCOPED_TRACE(t.name);
        Outcome w = kiv({"write", path_, t.utf8});
        ASSERT_EQ(w.exit_code, 0) << w.err;
        const std::string by_tool = file_bytes(path_);
        Report r = read_file(path_);
        EXPECT_EQ(r.code, 200);
        EXPECT_EQ(r.msg, vm_utf8(t));
        // Where the encodings agree, writeFile stores the very same bytes.
        if (t.utf8 == vm_utf8(t)) {
            ASSERT_EQ(write_file(t.modified_utf8, path_).code, 200);
            EXPECT_EQ(file_bytes(path_), by_tool);
        }
    }
    // An empty text deletes the file for both.
    EXPECT_EQ(kiv({"write", path_, ""}).exit_code, 0);
    EXPECT_EQ(query_file(path_).code, 803);
}

TEST_F(ToolInterop, IdentityIsSharedBetweenToolAndApp) {
    const std::vector<std::string> tags = {"myapp", "应用", "7up"};
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const std::string& tag = tags[i];
        SCOPED_TRACE(tag);
        const std::string file = dir_ / ("id-" + std::to_string(i));
        Outcome made = kiv({"identity", file, "--tag", tag});
        ASSERT_EQ(made.exit_code, 0) << made.err;
        const std::string stored = file_bytes(file);

        // The app gets exactly what the tool printed, and the file stays as the tool left it.
        std::optional<std::string> java = identity(tag, file);
        ASSERT_TRUE(java.has_value());
        EXPECT_EQ("scrambled: " + *java + "\n", made.out.substr(0, made.out.find('\n') + 1));
        EXPECT_EQ(file_bytes(file), stored);

        // And the other way round: an identity the app made is the tool's, and shows its tag.
        const std::string app_file = file + "-app";
        std::optional<std::string> by_app = identity(tag, app_file);
        ASSERT_TRUE(by_app.has_value());
        Outcome seen = kiv({"identity", app_file, "-t", tag});
        EXPECT_EQ(seen.out.substr(0, seen.out.find('\n') + 1), "scrambled: " + *by_app + "\n");
        EXPECT_NE(seen.out.find("\ntag: " + tag + "\n"), std::string::npos) << seen.out;
    }
}

}  // namespace
}  // namespace kiv::test
