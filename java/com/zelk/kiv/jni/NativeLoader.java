package com.zelk.kiv.jni;

/**
 * The Java half of libkiv-native-lib.so. The methods bind to the library's exported functions by
 * name; the receiver is never read, so they are static.
 */
public final class NativeLoader {
    static {
        System.loadLibrary("kiv-native-lib");
    }

    private NativeLoader() {}

    /** The library's fixed date stamp, "2019/11/15 17:38". */
    public static native String test();

    /** The character code of digit (d + 5) mod 10 for a digit d of 0 to 9; -1 for any other input. */
    public static native int encodeKeyValue(int digit);

    /**
     * The scrambled device identity stored at {@code path} whose plain text contains {@code tag}, or
     * a new one made, stored and returned; null on failure.
     */
    public static native String getDeviceIdentification(String tag, String path);

    /** Saves {@code content} scrambled at {@code path} (an empty content deletes the file). */
    public static native JniModel writeFile(JniModel result, String content, String path);

    /** Reads the file at {@code path}; on success {@code result.msg} holds its plain text. */
    public static native JniModel readFile(JniModel result, String path);

    /** Tells whether the file at {@code path} is present and whether it is empty. */
    public static native JniModel queryFile(JniModel result, String path);
}
