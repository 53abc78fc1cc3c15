package com.zelk.kiv.jni;

/**
 * The Java half of libkiv-native-lib.so: a scrambled file store, a device identity and two
 * helpers. The methods bind to the library's exported functions by name; the receiver is never
 * read, so they are static.
 *
 * <p>The class loads the library in its static initialiser. Where the library cannot be loaded
 * (no build for the device's ABI in the app, a broken install), the first use of the class throws
 * {@link UnsatisfiedLinkError} and every later use {@link NoClassDefFoundError}.
 *
 * <p>No method throws for anything it is given: a null or empty path or text is reported as a
 * status code, or as {@code null} from {@link #getDeviceIdentification}. A save, a delete and a
 * new identity sync the file and its directory to storage: call them off the main thread. Any
 * number of threads and processes may call at once; give each thread its own {@link JniModel}.
 */
public final class NativeLoader {
    static {
        System.loadLibrary("kiv-native-lib");
    }

    private NativeLoader() {}

    /**
     * The library's fixed date stamp.
     *
     * @return {@code "2019/11/15 17:38"}, always
     */
    public static native String test();

    /**
     * The character code of the digit (digit + 5) mod 10: 0 gives 53 ({@code '5'}), 5 gives 48
     * ({@code '0'}).
     *
     * @param digit a number from 0 to 9
     * @return the character code of (digit + 5) mod 10, or -1 when {@code digit} is not 0 to 9
     */
    public static native int encodeKeyValue(int digit);

    /**
     * The device identity stored at {@code path} if its plain text contains {@code tag}; else a
     * new one, made, stored at {@code path} and returned. The identity is returned in its
     * scrambled form, exactly the bytes of the file.
     *
     * @param tag the text that marks this app's identity; not empty
     * @param path the identity file, in a folder the app may write
     * @return the scrambled identity, or {@code null} on any failure (an empty tag or path, an
     *     unwritable folder, a full disk)
     */
    public static native String getDeviceIdentification(String tag, String path);

    /**
     * Saves {@code content} scrambled at {@code path}; an empty or null {@code content} deletes
     * the file instead. The file and its folder are synced before the call returns.
     *
     * @param result the record to report into; with {@code null} nothing is touched
     * @param content the text to save, or empty to delete the file
     * @param path the file
     * @return {@code result}, its code 200 when saved, 603 when deleted, 601, 602 or 604 to 608
     *     on failure (with the message that goes with it), or {@code null} for a null {@code
     *     result}
     */
    public static native JniModel writeFile(JniModel result, String content, String path);

    /**
     * Reads the file at {@code path} and unscrambles it.
     *
     * @param result the record to report into; with {@code null} nothing is touched
     * @param path the file
     * @return {@code result}, its code 200 and its message the file's plain text on success, 701
     *     to 705 on failure, or {@code null} for a null {@code result}
     */
    public static native JniModel readFile(JniModel result, String path);

    /**
     * Tells whether the file at {@code path} is present and whether it is empty.
     *
     * @param result the record to report into; with {@code null} nothing is touched
     * @param path the file
     * @return {@code result}, its code 200 for a file that holds something, 804 for an empty one,
     *     803 for a missing one, 801, 802 or 705 on failure, or {@code null} for a null {@code
     *     result}
     */
    public static native JniModel queryFile(JniModel result, String path);
}
