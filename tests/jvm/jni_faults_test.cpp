// What the entry points do when the VM itself fails them: a string's bytes that cannot be
// handed out, a record class or field that cannot be found, a null record. Nothing real makes
// a healthy VM fail these calls, so the failures are injected: the calling thread's JNI
// function table is swapped for a copy with one entry replaced, and the library's exported
// function is called directly with that environment. The same swap, with entries that only
// count their calls, shows which path long texts take on each VM, and that the entry points
// leave no local reference behind.

#include <dlfcn.h>

#include <cstdarg>
#include <tuple>

#include "tests/jvm/jvm.h"
#include "tests/support/files.h"

namespace kiv::test {
namespace {

const JNINativeInterface_* g_real = nullptr;
int g_calls_left = 0;  // the how-manieth call of the replaced function fails

const char* failing_get_string_utf_chars(JNIEnv* e, jstring s, jboolean* copy) {
    if (--g_calls_left == 0) {
        g_real->ThrowNew(e, g_real->FindClass(e, "java/lang/OutOfMemoryError"), "injected");
        return nullptr;
    }
    return g_real->GetStringUTFChars(e, s, copy);
}

jfieldID failing_get_field_id(JNIEnv* e, jclass c, const char* name, const char* sig) {
    if (--g_calls_left == 0) {
        g_real->ThrowNew(e, g_real->FindClass(e, "java/lang/NoSuchFieldError"), name);
        return nullptr;
    }
    return g_real->GetFieldID(e, c, name, sig);
}

// Calls of the JNI functions that tell which path a text took.
struct PathCalls {
    int region = 0, utf_chars = 0, critical = 0, new_object = 0, new_string_utf = 0;
};
PathCalls g_path_calls;

void counting_get_string_region(JNIEnv* e, jstring s, jsize start, jsize n, jchar* buf) {
    ++g_path_calls.region;
    g_real->GetStringRegion(e, s, start, n, buf);
}
const char* counting_get_string_utf_chars(JNIEnv* e, jstring s, jboolean* copy) {
    ++g_path_calls.utf_chars;
    return g_real->GetStringUTFChars(e, s, copy);
}
const jchar* counting_get_string_critical(JNIEnv* e, jstring s, jboolean* copy) {
    ++g_path_calls.critical;
    return g_real->GetStringCritical(e, s, copy);
}
jobject counting_new_object_v(JNIEnv* e, jclass c, jmethodID m, va_list args) {
    ++g_path_calls.new_object;
    return g_real->NewObjectV(e, c, m, args);
}
jstring counting_new_string_utf(JNIEnv* e, const char* utf) {
    ++g_path_calls.new_string_utf;
    return g_real->NewStringUTF(e, utf);
}

// Local references made and not yet deleted, counted over every JNI function the library makes
// them with. Called directly (not by the VM, which frees them on return), an entry point that
// leaves some behind lets them pile up in its caller's frame.
int g_live_refs = 0;

template <typename R>
R counted(R ref) {
    if (ref != nullptr) ++g_live_refs;
    return ref;
}
jclass counting_find_class(JNIEnv* e, const char* name) {
    return counted(g_real->FindClass(e, name));
}
jclass counting_get_object_class(JNIEnv* e, jobject o) {
    return counted(g_real->GetObjectClass(e, o));
}
jbyteArray counting_new_byte_array(JNIEnv* e, jsize n) {
    return counted(g_real->NewByteArray(e, n));
}
jobject counting_new_object_ref(JNIEnv* e, jclass c, jmethodID m, va_list args) {
    return counted(g_real->NewObjectV(e, c, m, args));
}
jstring counting_new_string(JNIEnv* e, const jchar* units, jsize n) {
    return counted(g_real->NewString(e, units, n));
}
jstring counting_new_string_utf_ref(JNIEnv* e, const char* utf) {
    return counted(g_real->NewStringUTF(e, utf));
}
void counting_delete_local_ref(JNIEnv* e, jobject ref) {
    if (ref != nullptr) --g_live_refs;
    g_real->DeleteLocalRef(e, ref);
}

// Runs fn with the calling thread's JNI functions replaced by `table` for its duration.
template <typename Fn>
void with_table(JNINativeInterface_& table, Fn fn) {
    JNIEnv* e = env();
    g_real = e->functions;
    e->functions = &table;
    fn(e);
    e->functions = g_real;
}

template <typename F>
F exported(const char* name) {
    void* lib = dlopen(KIV_TEST_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(lib, nullptr);
    return reinterpret_cast<F>(dlsym(lib, name));
}

class JniFaults : public JvmTest {
protected:
    void SetUp() override {
        JvmTest::SetUp();
        call_object("test", "()Ljava/lang/String;");  // loads the library
    }
    TempDir dir;
};

using WriteFn = jobject (*)(JNIEnv*, jclass, jobject, jstring, jstring);
using ReadFn = jobject (*)(JNIEnv*, jclass, jobject, jstring);
using IdentityFn = jstring (*)(JNIEnv*, jclass, jstring, jstring);

TEST_F(JniFaults, UnobtainableStringsAreReportedWithNoExceptionLeftPending) {
    auto write = exported<WriteFn>("Java_com_zelk_kiv_jni_NativeLoader_writeFile");
    auto read = exported<ReadFn>("Java_com_zelk_kiv_jni_NativeLoader_readFile");
    auto query = exported<ReadFn>("Java_com_zelk_kiv_jni_NativeLoader_queryFile");
    std::string file = dir / "f";
    write_bytes(file, "bda");
    JNINativeInterface_ table = *env()->functions;
    table.GetStringUTFChars = failing_get_string_utf_chars;

    struct Case {
        const char* what;
        int nth;
        std::function<jobject(JNIEnv*, jobject)> call;
        int code;
        const char* msg;
    };
    const std::vector<Case> cases = {
        {"writeFile path", 1,
         [&](JNIEnv* e, jobject r) { return write(e, nullptr, r, jstr("new"), jstr(file)); }, 602,
         "路径转换失败"},
        {"writeFile content", 2,
         [&](JNIEnv* e, jobject r) { return write(e, nullptr, r, jstr("new"), jstr(file)); }, 605,
         "内容转换错误"},
        {"readFile path", 1, [&](JNIEnv* e, jobject r) { return read(e, nullptr, r, jstr(file)); },
         702, "路径转换失败"},
        {"queryFile path", 1,
         [&](JNIEnv* e, jobject r) { return query(e, nullptr, r, jstr(file)); }, 802,
         "路径转换失败"},
    };
    for (const auto& c : cases) {
        jobject record = new_record();
        jobject returned = nullptr;
        g_calls_left = c.nth;
        with_table(table, [&](JNIEnv* e) { returned = c.call(e, record); });
        EXPECT_FALSE(env()->ExceptionCheck()) << c.what;
        env()->ExceptionClear();
        EXPECT_TRUE(env()->IsSameObject(returned, record)) << c.what;
        Report r = report_of(record);
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_EQ(r.msg, c.msg) << c.what;
        EXPECT_EQ(read_bytes(file), "bda") << c.what << ": the file must be untouched";
    }

    auto identity =
        exported<IdentityFn>("Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification");
    for (int nth : {1, 2}) {  // the path's bytes, then the tag's
        jstring id = jstr("not null");
        g_calls_left = nth;
        with_table(table,
                   [&](JNIEnv* e) { id = identity(e, nullptr, jstr("tag"), jstr(dir / "id")); });
        EXPECT_FALSE(env()->ExceptionCheck()) << "identity, failing call " << nth;
        env()->ExceptionClear();
        EXPECT_EQ(id, nullptr);
    }
    EXPECT_EQ(dir.others({"f"}), std::vector<std::string>{});
}

// A broken Java side must surface as the VM's own exception, not as a crash or a half report.
TEST_F(JniFaults, MissingRecordFieldLeavesTheRecordUntouchedAndTheErrorPending) {
    auto write = exported<WriteFn>("Java_com_zelk_kiv_jni_NativeLoader_writeFile");
    JNINativeInterface_ table = *env()->functions;
    table.GetFieldID = failing_get_field_id;
    for (int nth : {1, 2}) {  // "code", then "msg"
        std::string file = dir / ("f" + std::to_string(nth));
        jobject record = new_record();
        jobject returned = nullptr;
        g_calls_left = nth;
        with_table(table,
                   [&](JNIEnv* e) { returned = write(e, nullptr, record, jstr("x"), jstr(file)); });
        JNIEnv* e = env();
        EXPECT_TRUE(e->ExceptionCheck()) << "NoSuchFieldError must stay pending";
        e->ExceptionClear();
        EXPECT_TRUE(e->IsSameObject(returned, record));
        Report r = report_of(record);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.msg, std::nullopt);
        EXPECT_EQ(read_bytes(file), std::nullopt) << "nothing may be written";
    }
}

// Long texts take the faster path of the VM they run on (bench/JNI_PATHS.md): on HotSpot ASCII
// is saved from GetStringRegion slices and read back through a byte[]; on ART, which keeps ASCII
// strings as bytes, it takes the VM's own conversions (a look at three windows of characters
// with GetStringRegion says whether to ask). Other texts, also those that only start with ASCII,
// are encoded from GetStringCritical on both.
TEST_F(JniFaults, LongTextsTakeTheFasterPathOfTheirVm) {
    auto write = exported<WriteFn>("Java_com_zelk_kiv_jni_NativeLoader_writeFile");
    auto read = exported<ReadFn>("Java_com_zelk_kiv_jni_NativeLoader_readFile");
    JNINativeInterface_ table = *env()->functions;
    table.GetStringRegion = counting_get_string_region;
    table.GetStringUTFChars = counting_get_string_utf_chars;
    table.GetStringCritical = counting_get_string_critical;
    table.NewObjectV = counting_new_object_v;
    table.NewStringUTF = counting_new_string_utf;
    const std::string file = dir / "f";
    struct Case {
        const char* what;
        std::u16string text;
        PathCalls save, read;  // the text's calls (GetStringRegion: whether any), not the path's
    };
    const std::vector<Case> cases = {
        {"5000 ascii", std::u16string(5000, u'a'),
         kOnArt ? PathCalls{1, 1, 0, 0, 0} : PathCalls{3, 0, 0, 0, 0},
         kOnArt ? PathCalls{0, 0, 0, 0, 1} : PathCalls{0, 0, 0, 1, 0}},
        {"3000 cjk", std::u16string(3000, u'中'), PathCalls{1, 0, 1, 0, 0}, PathCalls{}},
        {"200 ascii, then 3000 cjk", std::u16string(200, u'a') + std::u16string(3000, u'中'),
         PathCalls{1, 0, 1, 0, 0}, PathCalls{}},
        // HotSpot writes each surrogate on its own, ART joins a pair: the encoder does either.
        {"3000 cjk, a pair and a lone surrogate",
         std::u16string(1500, u'中') + u"😀" + std::u16string(1500, u'中') + u"Ü00",
         PathCalls{1, 0, 1, 0, 0}, PathCalls{}},
    };
    for (const auto& c : cases) {
        jobject record = new_record();
        jstring text = jstr(c.text);
        jstring path = jstr(file);
        g_path_calls = {};
        with_table(table, [&](JNIEnv* e) { write(e, nullptr, record, text, path); });
        const PathCalls saved = g_path_calls;
        EXPECT_EQ(report_of(record).code, 200) << c.what;
        g_path_calls = {};
        with_table(table, [&](JNIEnv* e) { read(e, nullptr, record, path); });
        const PathCalls read_back = g_path_calls;
        EXPECT_EQ(report_of(record).code, 200) << c.what;
        for (const auto& [what, got, want] :
             {std::tuple("save", saved, c.save), std::tuple("read", read_back, c.read)}) {
            EXPECT_EQ(got.region > 0, want.region > 0) << c.what << ", " << what;
            EXPECT_EQ(got.utf_chars - 1, want.utf_chars) << c.what << ", " << what;  // the path
            EXPECT_EQ(got.critical, want.critical) << c.what << ", " << what;
            EXPECT_EQ(got.new_object, want.new_object) << c.what << ", " << what;
            EXPECT_EQ(got.new_string_utf, want.new_string_utf) << c.what << ", " << what;
        }
    }
}

// Every entry point gives back every local reference it made, but for the string it returns, on
// each way a text takes (short and long ASCII, long CJK, a deletion, a missing file).
TEST_F(JniFaults, EntryPointsLeaveNoLocalReferenceBehind) {
    auto write = exported<WriteFn>("Java_com_zelk_kiv_jni_NativeLoader_writeFile");
    auto read = exported<ReadFn>("Java_com_zelk_kiv_jni_NativeLoader_readFile");
    auto query = exported<ReadFn>("Java_com_zelk_kiv_jni_NativeLoader_queryFile");
    auto identity =
        exported<IdentityFn>("Java_com_zelk_kiv_jni_NativeLoader_getDeviceIdentification");
    JNINativeInterface_ table = *env()->functions;
    table.FindClass = counting_find_class;
    table.GetObjectClass = counting_get_object_class;
    table.NewByteArray = counting_new_byte_array;
    table.NewObjectV = counting_new_object_ref;
    table.NewString = counting_new_string;
    table.NewStringUTF = counting_new_string_utf_ref;
    table.DeleteLocalRef = counting_delete_local_ref;
    const jstring path = jstr(dir / "f");
    const jstring missing = jstr(dir / "missing");
    const struct {
        const char* what;
        jstring text;
    } texts[] = {
        {"short ascii", jstr("abc")},
        {"5000 ascii", jstr(std::u16string(5000, u'a'))},
        {"3000 cjk", jstr(std::u16string(3000, u'中'))},
    };
    const auto live_after = [&](const std::function<void(JNIEnv*)>& call) {
        g_live_refs = 0;
        with_table(table, call);
        return g_live_refs;
    };
    for (const auto& t : texts) {
        jobject record = new_record();
        EXPECT_EQ(live_after([&](JNIEnv* e) { write(e, nullptr, record, t.text, path); }), 0)
            << "writeFile, " << t.what;
        EXPECT_EQ(report_of(record).code, 200) << t.what;
        EXPECT_EQ(live_after([&](JNIEnv* e) { read(e, nullptr, record, path); }), 0)
            << "readFile, " << t.what;
        EXPECT_EQ(report_of(record).code, 200) << t.what;
        EXPECT_EQ(live_after([&](JNIEnv* e) { query(e, nullptr, record, path); }), 0)
            << "queryFile, " << t.what;
    }
    jobject record = new_record();
    const jstring empty = jstr("");
    EXPECT_EQ(live_after([&](JNIEnv* e) { write(e, nullptr, record, empty, path); }), 0);
    EXPECT_EQ(report_of(record).code, 603);
    EXPECT_EQ(live_after([&](JNIEnv* e) { read(e, nullptr, record, missing); }), 0);
    EXPECT_EQ(report_of(record).code, 703);
    jstring id = nullptr;
    const jstring tag = jstr("tag");
    EXPECT_EQ(live_after([&](JNIEnv* e) { id = identity(e, nullptr, tag, path); }), 1)
        << "only the identity it returns";
    EXPECT_NE(id, nullptr);
}

TEST_F(JniFaults, NullRecordGivesNullAndTouchesNothing) {
    std::string file = dir / "f";
    const char* write_sig =
        "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/"
        "JniModel;";
    const char* read_sig =
        "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;";
    EXPECT_EQ(call_object("writeFile", write_sig, nullptr, jstr("abc"), jstr(file)), nullptr);
    EXPECT_EQ(read_bytes(file), std::nullopt);
    EXPECT_EQ(call_object("writeFile", write_sig, nullptr, nullptr, nullptr), nullptr);
    write_bytes(file, "bda");
    EXPECT_EQ(call_object("writeFile", write_sig, nullptr, jstr(""), jstr(file)), nullptr);
    EXPECT_EQ(read_bytes(file), "bda") << "an empty save with a null record must not delete";
    EXPECT_EQ(call_object("readFile", read_sig, nullptr, jstr(file)), nullptr);
    EXPECT_EQ(call_object("queryFile", read_sig, nullptr, jstr(file)), nullptr);
}

}  // namespace
}  // namespace kiv::test
