package com.zelk.kiv.jni;

/** Result record filled in by the file operations: a status code and a message. */
public class JniModel {
    /** Status code of the last report: 200 for success, otherwise 6xx, 7xx or 8xx. */
    public int code;
    /** Message of the last report; after a successful readFile, the file's plain text. */
    public String msg;

    @Override
    public String toString() {
        return code + " " + msg;
    }
}
