// test, encodeKeyValue and the way the VM binds the library, through a real JVM.

#include <dlfcn.h>

#include "tests/jvm/jvm.h"

namespace kiv::test {
namespace {

class EntryPoints : public JvmTest {};

jint encode_key_value(jint digit) {
    JNIEnv* e = env();
    jclass cls = e->FindClass("com/zelk/kiv/jni/NativeLoader");
    jint r =
        e->CallStaticIntMethod(cls, e->GetStaticMethodID(cls, "encodeKeyValue", "(I)I"), digit);
    EXPECT_FALSE(e->ExceptionCheck());
    return r;
}

TEST_F(EntryPoints, TestReturnsTheDateStampEveryTime) {
    for (int i = 0; i < 3; ++i) {
        auto s = static_cast<jstring>(call_object("test", "()Ljava/lang/String;"));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(utf8_of(s), "2019/11/15 17:38");
    }
}

TEST_F(EntryPoints, EncodeKeyValueMapsEachDigitToItsPartner) {
    const jint expected[10] = {53, 54, 55, 56, 57, 48, 49, 50, 51, 52};
    for (jint d = 0; d <= 9; ++d) {
        jint c = encode_key_value(d);
        EXPECT_EQ(c, expected[d]) << "digit " << d;
        // The substitution undoes itself: the partner's partner is the digit's own character.
        EXPECT_EQ(encode_key_value(c - '0'), '0' + d) << "digit " << d;
    }
}

TEST_F(EntryPoints, EncodeKeyValueRejectsInputOutsideTheTable) {
    for (jint d : {-1, 10, 11, -2147483647 - 1, 2147483647, 1000}) {
        EXPECT_EQ(encode_key_value(d), -1) << "input " << d;
    }
}

// The VM found every method above by its exported name alone; the library also hands out no
// other entry (no JNI_OnLoad, no registration table), and the plain C functions are reachable.
TEST_F(EntryPoints, LibraryBindsByNameOnly) {
    ASSERT_NE(call_object("test", "()Ljava/lang/String;"), nullptr);  // loads the library
    void* lib = dlopen(KIV_TEST_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr) << "the VM should have loaded " << KIV_TEST_LIBRARY;
    EXPECT_EQ(dlsym(lib, "JNI_OnLoad"), nullptr);
    using Codec = void (*)(const char*, char*);
    auto enc = reinterpret_cast<Codec>(dlsym(lib, "encode"));
    auto dec = reinterpret_cast<Codec>(dlsym(lib, "decode"));
    ASSERT_NE(enc, nullptr);
    ASSERT_NE(dec, nullptr);
    char out[4];
    enc("abc", out);
    EXPECT_STREQ(out, "bda");
    dec(out, out);
    EXPECT_STREQ(out, "abc");
    dlclose(lib);
}

}  // namespace
}  // namespace kiv::test
