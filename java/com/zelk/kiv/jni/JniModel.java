package com.zelk.kiv.jni;

/**
 * Result record filled in by the file operations of {@link NativeLoader}: a status code and a
 * message. The library finds the fields {@code code} and {@code msg} by name, so minified builds
 * keep them (the archive's keep rules do that).
 */
public class JniModel {
    /** A record with code 0 and no message, to hand to a file operation. */
    public JniModel() {}

    /** Status code of the last report: 200 for success, otherwise 6xx, 7xx or 8xx. */
    public int code;

    /** Message of the last report; after a successful readFile, the file's plain text. */
    public String msg;

    /**
     * The code and the message, separated by a space.
     *
     * @return the code, a space and the message
     */
    @Override
    public String toString() {
        return code + " " + msg;
    }
}
