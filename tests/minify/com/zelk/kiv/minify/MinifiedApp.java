package com.zelk.kiv.minify;

import com.zelk.kiv.jni.JniModel;
import com.zelk.kiv.jni.NativeLoader;
import java.io.File;

/**
 * An app as a minifier sees it: each of the six native methods called, the result records read
 * in Java, one line printed per call. Run after minification against the built library.
 */
public final class MinifiedApp {
    private MinifiedApp() {}

    public static void main(String[] args) {
        String note = new File(args[0], "note.txt").getPath();
        String idFile = new File(args[0], "device.id").getPath();
        print("test", NativeLoader.test());
        print("encodeKeyValue(0)", NativeLoader.encodeKeyValue(0));
        print("writeFile", NativeLoader.writeFile(new JniModel(), "hello, 你好", note));
        print("queryFile", NativeLoader.queryFile(new JniModel(), note));
        JniModel read = NativeLoader.readFile(new JniModel(), note);
        print("readFile", read.code == 200 ? read.msg : read);
        String id = NativeLoader.getDeviceIdentification("app", idFile);
        print("getDeviceIdentification, twice the same",
                id != null && id.equals(NativeLoader.getDeviceIdentification("app", idFile)));
        print("writeFile, empty", NativeLoader.writeFile(new JniModel(), "", note));
        print("queryFile", NativeLoader.queryFile(new JniModel(), note));
    }

    private static void print(String call, Object result) {
        System.out.println(call + ": " + result);
    }
}
