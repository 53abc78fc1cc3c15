// The kiv tool run as a user runs it: a child process, real files in a temporary directory,
// text fed on standard input and read from standard output and standard error.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "tests/support/child.h"

namespace kiv::test {
namespace {

Outcome kiv(const std::vector<std::string>& args, const std::string& input = {}) {
    return run_child(KIV_TOOL_PATH, args, input);
}

std::string scrambled(const std::string& plain) {
    std::string out(plain.size(), '\0');
    codec::scramble(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                    reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

std::string every_byte(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 % 256);
    return s;
}

class ToolTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    std::string file(const std::string& name) const { return dir_ / name; }
};

TEST_F(ToolTest, WriteThenReadGivesBackTheExactBytes) {
    struct Case {
        const char* name;
        std::string text;
        bool as_argument;  // also passed as TEXT, not only on standard input
    };
    const std::vector<Case> cases = {
        {"ascii", "hello", true},
        {"chinese", "你好，世界：存储的文本", true},
        {"lines with final newline", "line one\nline two\n", true},
        {"one byte", "x", true},
        {"starts with a dash", "-n is not an option here", true},
        {"invalid utf-8", std::string("\xff\xfe\x80 raw", 7), true},
        {"zero bytes", std::string("a\0b\0", 4), false},
        {"larger than a pipe", every_byte(200001).replace(0, 1, "z"), false},
    };
    for (const Case& c : cases) {
        for (bool from_stdin : {false, true}) {
            if (!from_stdin && !c.as_argument) continue;
            SCOPED_TRACE(std::string(c.name) + (from_stdin ? " from stdin" : " as argument"));
            const std::string path = file("note.txt");
            Outcome w =
                from_stdin ? kiv({"write", path, "-"}, c.text) : kiv({"write", path, "--", c.text});
            ASSERT_EQ(w.exit_code, 0) << w.err;
            EXPECT_EQ(w.out, "");
            EXPECT_EQ(w.err, "");
            EXPECT_EQ(file_bytes(path), scrambled(c.text));

            Outcome r = kiv({"read", path});
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(r.out, c.text);
            EXPECT_EQ(r.err, "");
        }
    }
}

TEST_F(ToolTest, StoresAbcAsBdaAndReadsItBack) {
    const std::string path = file("abc");
    ASSERT_EQ(kiv({"write", path, "abc"}).exit_code, 0);
    EXPECT_EQ(file_bytes(path), "bda");
    EXPECT_EQ(kiv({"encode"}, "abc").out, "bda");
    EXPECT_EQ(kiv({"decode"}, "bda").out, "abc");

    write_bytes(path, "bda");
    EXPECT_EQ(kiv({"read", path}).out, "abc");
    EXPECT_EQ(kiv({"read", "-n", path}).out, "abc\n");
    EXPECT_EQ(kiv({"read", path, "--newline"}).out, "abc\n");
}

TEST_F(ToolTest, EncodeAndDecodeAreBinarySafe) {
    for (std::size_t n : {0u, 1u, 2u, 256u, 513u, 70001u}) {
        SCOPED_TRACE(n);
        const std::string plain = every_byte(n);
        Outcome enc = kiv({"encode"}, plain);
        ASSERT_EQ(enc.exit_code, 0) << enc.err;
        EXPECT_EQ(enc.out, scrambled(plain));
        Outcome dec = kiv({"decode"}, enc.out);
        ASSERT_EQ(dec.exit_code, 0) << dec.err;
        EXPECT_EQ(dec.out, plain);
    }
}

TEST_F(ToolTest, EmptyTextDeletesTheFile) {
    const std::string path = file("gone.txt");
    for (bool from_stdin : {false, true}) {
        SCOPED_TRACE(from_stdin ? "from stdin" : "as argument");
        write_bytes(path, "bda");
        Outcome w = from_stdin ? kiv({"write", path, "-"}) : kiv({"write", path, ""});
        EXPECT_EQ(w.exit_code, 0) << w.err;
        EXPECT_FALSE(exists(path));
    }
    Outcome w = kiv({"write", file("no/such/dir"), ""});
    EXPECT_EQ(w.exit_code, 1);
    EXPECT_EQ(w.err.rfind("kiv: 604 内容为空，删除文件失败：", 0), 0u) << w.err;
}

TEST_F(ToolTest, FailuresPrintTheStatusOnStandardError) {
    struct Case {
        std::vector<std::string> args;
        std::string err_prefix;
        std::string err_suffix;
    };
    const std::string missing = file("missing.txt");
    const std::string not_there = "does not exist or cannot be opened for reading and writing";
    // The library answers a directory as a missing file (same code); the tool names it.
    const std::string directory = file("");
    const std::string is_directory = "kiv: 703 文件不存在 (a directory, not a file)\n";
    // Files that hold no identity: an identity is a number without leading zeros, then a tag.
    const std::vector<std::pair<std::string, std::string>> no_identity = {
        {"note", "hello"}, {"empty", ""}, {"leading zero", "0123app"}, {"space", " 123app"}};
    for (const auto& [name, plain] : no_identity) write_bytes(file(name), scrambled(plain));
    const std::string no_number = " holds no identity: its text does not start with a number\n";
    const std::vector<Case> cases = {
        {{"read", missing}, "kiv: 703 文件不存在 (" + not_there + ")\n", ""},
        {{"read", directory}, is_directory, ""},
        {{"read", ""}, "kiv: 701 路径为空 (path is empty)\n", ""},
        {{"write", "", "text"}, "kiv: 601 路径为空 (path is empty)\n", ""},
        {{"query", ""}, "kiv: 801 路径为空 (path is empty)\n", ""},
        {{"write", file("no/such/dir"), "text"},
         "kiv: 606 打开文件失败：",
         " (could not open the file)\n"},
        {{"identity", missing}, "kiv: 703 文件不存在 (" + not_there + ")\n", ""},
        {{"identity", directory}, is_directory, ""},
        {{"identity", file("no/such/dir"), "--tag", "app"},
         "kiv: cannot get or make an identity at " + file("no/such/dir") +
             " (the app would receive null)\n",
         ""},
        {{"identity", directory, "--tag", "app"},
         "kiv: cannot get or make an identity at " + directory +
             ": it is a directory (the app would receive null)\n",
         ""},
        {{"identity", file("note")}, "kiv: " + file("note") + no_number, ""},
        {{"identity", file("empty")},
         "kiv: " + file("empty") + " holds no identity: the file is empty\n",
         ""},
        {{"identity", file("leading zero")}, "kiv: " + file("leading zero") + no_number, ""},
        {{"identity", file("space")}, "kiv: " + file("space") + no_number, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Outcome o = kiv(c.args);
        EXPECT_EQ(o.exit_code, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind(c.err_prefix, 0), 0u) << o.err;
        EXPECT_GE(o.err.size(), c.err_suffix.size());
        EXPECT_EQ(o.err.substr(o.err.size() - c.err_suffix.size()), c.err_suffix) << o.err;
    }
    EXPECT_FALSE(exists(missing));
    for (const auto& [name, plain] : no_identity)
        EXPECT_EQ(file_bytes(file(name)), scrambled(plain));
}

// A file-size limit with SIGXFSZ at its default action, as on Android's runtime, where a write
// past the limit kills the process: a save past it (by one byte or more) answers 607 before
// writing any byte, the old text stays whole and nothing is left beside it, whether the file is
// saved by its name or through a descriptor; a file that did not exist is not made, also through
// links that resolve past PATH_MAX (written in place, as the system follows them). A text of
// exactly the limit is saved.
TEST_F(ToolTest, SavePastTheFileSizeLimitFailsAndKeepsTheOldText) {
    constexpr std::size_t kLimit = 100 * 1024;
    const std::string expected_err =
        "kiv: 607 写入失败：" + std::string(std::strerror(EFBIG)) + " (could not write the file)\n";
    // Two links of 4000 bytes each ("./" over and over), which no PATH_MAX buffer holds together.
    std::string dots;
    while (dots.size() < 3998) dots += "./";
    ASSERT_EQ(symlink((dots + "l1").c_str(), file("l0").c_str()), 0);
    ASSERT_EQ(symlink((dots + "new").c_str(), file("l1").c_str()), 0);
    for (const std::size_t size : {kLimit, kLimit + 1, 9 * kLimit}) {
        for (const char* how : {"by name", "through a descriptor", "new, past PATH_MAX"}) {
            const bool through_descriptor = how[0] == 't', past_path_max = how[0] == 'n';
            if (past_path_max && size <= kLimit) continue;
            SCOPED_TRACE(std::string(how) + ", " + std::to_string(size) + " bytes");
            const std::string target = file("small");
            ASSERT_EQ(kiv({"write", target, "the old text"}).exit_code, 0);
            ChildSetup setup;
            setup.file_size_limit = kLimit;
            if (through_descriptor) setup.fd3 = target;
            const std::string path = through_descriptor ? "/proc/self/fd/3"
                                     : past_path_max    ? file("l0")
                                                        : target;
            const std::string text(size, 'x');
            const Outcome o =
                run_child(KIV_TOOL_PATH, {"write", path, "-"}, text, std::nullopt, {}, setup);
            const bool fits = size <= kLimit;
            EXPECT_EQ(o.exit_code, fits ? 0 : 1) << "killed or failed otherwise: " << o.err;
            EXPECT_EQ(o.err, fits ? "" : expected_err);
            EXPECT_EQ(file_bytes(target), scrambled(fits ? text : "the old text"));
            EXPECT_EQ(dir_.others({"small", "l0", "l1"}), std::vector<std::string>{});
        }
    }
}

TEST_F(ToolTest, QueryTellsPresentEmptyMissingOrDirectory) {
    write_bytes(file("full"), "bda");
    write_bytes(file("empty"), "");
    ASSERT_EQ(mkdir(file("dir").c_str(), 0700), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {{"full", "present\n"},
                                                                    {"empty", "empty\n"},
                                                                    {"missing", "missing\n"},
                                                                    {"dir", "directory\n"}};
    for (const auto& [name, answer] : cases) {
        SCOPED_TRACE(name);
        Outcome o = kiv({"query", file(name)});
        EXPECT_EQ(o.exit_code, 0);
        EXPECT_EQ(o.out, answer);
        EXPECT_EQ(o.err, "");
    }
}

// "scrambled: S\nnumber: N\ntag: T\n" into its three values.
struct IdentityLines {
    std::string scrambled, number, tag;
};

IdentityLines parse_identity(const std::string& out) {
    IdentityLines lines;
    std::size_t pos = 0;
    for (auto [key, value] :
         {std::pair{"scrambled: ", &lines.scrambled}, std::pair{"number: ", &lines.number},
          std::pair{"tag: ", &lines.tag}}) {
        if (out.compare(pos, std::strlen(key), key) != 0) continue;
        std::size_t end = out.find('\n', pos);
        *value = out.substr(pos + std::strlen(key), end - pos - std::strlen(key));
        pos = end + 1;
    }
    return lines;
}

TEST_F(ToolTest, IdentityIsMadeOnceThenKeptAndShown) {
    const std::string path = file("identity");
    Outcome made = kiv({"identity", path, "--tag", "myapp"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    IdentityLines id = parse_identity(made.out);
    EXPECT_EQ(id.tag, "myapp");
    ASSERT_FALSE(id.number.empty());
    EXPECT_EQ(id.number.find_first_not_of("0123456789"), std::string::npos) << id.number;
    EXPECT_EQ(id.scrambled, scrambled(id.number + "myapp"));
    EXPECT_EQ(file_bytes(path), id.scrambled);

    // Asked again, with either spelling of the option: the same identity, the file untouched.
    for (const std::vector<std::string>& again :
         {std::vector<std::string>{"identity", path, "--tag", "myapp"},
          std::vector<std::string>{"identity", "-t", "myapp", path},
          std::vector<std::string>{"identity", path, "--tag=myapp"}}) {
        EXPECT_EQ(kiv(again).out, made.out);
    }
    Outcome shown = kiv({"identity", path});
    EXPECT_EQ(shown.exit_code, 0);
    EXPECT_EQ(shown.out, "number: " + id.number + "\ntag: myapp\n");
    EXPECT_EQ(file_bytes(path), id.scrambled);

    // A tag the stored identity lacks gets a new identity, as getDeviceIdentification does.
    IdentityLines other = parse_identity(kiv({"identity", path, "--tag", "other"}).out);
    EXPECT_EQ(other.tag, "other");
    EXPECT_EQ(file_bytes(path), other.scrambled);
}

TEST_F(ToolTest, IdentityTagStartingWithDigitsSplitsRightWhenNamed) {
    const std::string path = file("identity");
    write_bytes(path, scrambled("4217up"));
    EXPECT_EQ(kiv({"identity", path, "--tag", "7up"}).out,
              "scrambled: " + scrambled("4217up") + "\nnumber: 421\ntag: 7up\n");
    EXPECT_EQ(kiv({"identity", path}).out, "number: 4217\ntag: up\n");
}

TEST_F(ToolTest, UsageErrorsExitWithTwoAndTouchNothing) {
    const std::string path = file("untouched");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"read"}, "read: missing operand"},
        {{"read", path, path}, "read: too many operands"},
        {{"write", path}, "write: missing operand"},
        {{"read", "--bogus", path}, "read: unknown option '--bogus'"},
        {{"query", "-n", path}, "query: unknown option '-n'"},
        {{"read", "--newline=yes", path}, "read: option '--newline' takes no value"},
        {{"identity", path, "--tag"}, "identity: option '--tag' needs a value"},
        {{"identity", path, "--tag", ""}, "identity: the tag must not be empty"},
        {{"encode", path}, "encode: too many operands"},
        {{"help", "frobnicate"}, "no such command 'frobnicate'"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(message);
        Outcome o = kiv(args);
        EXPECT_EQ(o.exit_code, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("kiv: " + message + "\n", 0), 0u) << o.err;
        EXPECT_NE(o.err.find("Try 'kiv"), std::string::npos) << o.err;
    }
    EXPECT_FALSE(exists(path));
}

TEST_F(ToolTest, HelpCoversEveryCommand) {
    Outcome overview = kiv({"--help"});
    ASSERT_EQ(overview.exit_code, 0);
    // What a user must not learn the hard way, said where they look.
    const std::vector<std::pair<std::vector<std::string>, std::string>> warnings = {
        {{"--help"}, "an empty one deletes FILE"},
        {{"help", "write"}, "An empty TEXT (\"\" or an empty standard input) deletes FILE"},
        {{"help", "query"}, "directory   a directory"},
        {{"help", "identity"}, "holds no identity"},
    };
    for (const auto& [args, text] : warnings) {
        SCOPED_TRACE(text);
        EXPECT_NE(kiv(args).out.find(text), std::string::npos);
    }
    EXPECT_EQ(kiv({"help"}).out, overview.out);
    for (const char* cmd : {"read", "write", "query", "encode", "decode", "identity", "help"}) {
        SCOPED_TRACE(cmd);
        EXPECT_NE(overview.out.find(std::string("\n  ") + cmd), std::string::npos);
        Outcome help = kiv({"help", cmd});
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_EQ(kiv({cmd, "--help"}).out, help.out);
        if (std::string(cmd) != "help") {
            EXPECT_EQ(help.out.rfind(std::string("Usage: kiv ") + cmd, 0), 0u);
        }
    }
    EXPECT_EQ(kiv({"--version"}).out, std::string("kiv ") + KIV_VERSION + "\n");
}

TEST_F(ToolTest, FailedStandardOutputExitsWithThree) {
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string path = file("note");
    ASSERT_EQ(kiv({"write", path, "hello"}).exit_code, 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", path}, std::vector<std::string>{"encode"}}) {
        SCOPED_TRACE(args[0]);
        Outcome o = run_child(KIV_TOOL_PATH, args, "some input", "/dev/full");
        EXPECT_EQ(o.exit_code, 3);
        EXPECT_NE(o.err.find("kiv: cannot write standard output: "), std::string::npos) << o.err;
    }
}

}  // namespace
}  // namespace kiv::test
