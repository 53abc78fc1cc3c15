// Files that travel between VMs: texts saved on this VM (HotSpot or ART) are read by the other
// one, run as a child process (two VMs cannot share a process), and must give the very same Java
// strings. Each VM stores what its own GetStringUTFChars gives: for characters beyond U+FFFF,
// two encoded surrogates on HotSpot and four-byte UTF-8 on ART.

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/jvm/jvm.h"
#include "tests/support/child.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

struct Text {
    const char* name;
    std::u16string units;
};

// Short texts take the VM's own conversions both ways; the long ones every fast path: ASCII
// saved in slices and read through a byte[], other texts encoded from the characters (pairs
// joined on ART) and decoded by the library.
const std::vector<Text>& texts() {
    static const std::vector<Text> all = {
        {"ascii", u"Hello, world! 0123456789"},
        {"cjk", u"你好，世界。保存成功"},
        {"U+0000", std::u16string(u"a\0b", 3)},
        {"U+0001 at an odd position", u"a\u0001bc"},
        {"lone high surrogate", u"x\xD83Dy"},
        {"lone low surrogate", u"\xDE00z"},
        {"reversed pair", u"\xDE00\xD83D"},
        {"beyond U+FFFF", u"A\U0001F600B"},
        {"U+10FFFF", u"\U0010FFFF"},
        {"long ascii", std::u16string(5000, u'a')},
        {"long ascii, U+0001 at an odd end", std::u16string(4097, u'q') + u"\u0001"},
        {"long ascii, U+0000 late", std::u16string(3000, u'b') + u'\0' + u"c"},
        {"long cjk", std::u16string(3000, u'中')},
        {"long, beyond U+FFFF",
         std::u16string(2000, u'd') + u"\U0001F600" + std::u16string(2000, u'中')},
        {"long, lone surrogate", std::u16string(1500, u'é') + u"\xDC00"},
        {"1 MiB ascii", std::u16string(1 << 20, u'm')},
        {"256 Ki cjk", std::u16string(1 << 18, u'文')},
    };
    return all;
}

constexpr char kWriteSig[] =
    "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;";
constexpr char kReadSig[] =
    "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;";
constexpr char kDirVariable[] = "KIV_TRAVEL_DIR";

std::string file_of(const std::string& dir, std::size_t i) {
    return dir + "/text" + std::to_string(i);
}

jstring msg_of(jobject record) {
    JNIEnv* e = env();
    jclass cls = e->GetObjectClass(record);
    auto msg = static_cast<jstring>(
        e->GetObjectField(record, e->GetFieldID(cls, "msg", "Ljava/lang/String;")));
    e->DeleteLocalRef(cls);
    return msg;
}

class Travel : public JvmTest {
protected:
    TempDir dir;
};

TEST_F(Travel, TextsSavedHereReadTheSameOnTheOtherVm) {
    JNIEnv* e = env();
    for (std::size_t i = 0; i < texts().size(); ++i) {
        const Text& t = texts()[i];
        ASSERT_EQ(e->PushLocalFrame(16), 0);
        jstring content = jstr(t.units);
        jobject record = new_record();
        call_object("writeFile", kWriteSig, record, content, jstr(file_of(dir.path(), i)));
        EXPECT_EQ(report_of(record).code, 200) << t.name;
        const std::string vm_bytes = utf8_of(content);
        e->PopLocalFrame(nullptr);
        EXPECT_TRUE(read_bytes(file_of(dir.path(), i)) == model_scramble(vm_bytes))
            << t.name << ": not the bytes of this VM's GetStringUTFChars";
    }
    // What those bytes are for a character beyond U+FFFF, on each VM.
    const std::string emoji = kOnArt ? "\xF0\x9F\x98\x80" : "\xED\xA0\xBD\xED\xB8\x80";
    for (std::size_t i = 0; i < texts().size(); ++i) {
        if (texts()[i].units != u"A\U0001F600B") continue;
        EXPECT_EQ(model_unscramble(read_bytes(file_of(dir.path(), i)).value_or("")),
                  "A" + emoji + "B");
    }

    const Outcome other =
        run_child(kOnArt ? KIV_HOTSPOT_TESTS : KIV_ART_TESTS,
                  {"--gtest_also_run_disabled_tests",
                   "--gtest_filter=Travel.DISABLED_ReadsTextsSavedElsewhere"},
                  {}, std::nullopt, {std::string(kDirVariable) + "=" + dir.path()});
    const std::string output = other.out + other.err;
    EXPECT_EQ(other.exit_code, 0) << output;
    EXPECT_NE(other.out.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    for (const char* finding : {"JNI DETECTED ERROR", "JNI WARNING", "WARNING in native method",
                                "FATAL ERROR in native method"}) {
        EXPECT_EQ(output.find(finding), std::string::npos) << output;
    }
}

// Run by the other VM's suite above, in a process of its own, on the files it saved.
TEST_F(Travel, DISABLED_ReadsTextsSavedElsewhere) {
    const char* saved = std::getenv(kDirVariable);
    ASSERT_NE(saved, nullptr) << kDirVariable << " names the directory of the saved texts";
    JNIEnv* e = env();
    for (std::size_t i = 0; i < texts().size(); ++i) {
        const Text& t = texts()[i];
        ASSERT_EQ(e->PushLocalFrame(16), 0);
        jobject record = new_record();
        call_object("readFile", kReadSig, record, jstr(file_of(saved, i)));
        EXPECT_EQ(report_of(record).code, 200) << t.name;
        jstring msg = msg_of(record);
        EXPECT_TRUE(msg != nullptr && units_of(msg) == t.units) << t.name;
        e->PopLocalFrame(nullptr);
    }
}

}  // namespace
}  // namespace kiv::test
