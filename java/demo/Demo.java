package com.zelk.kiv.demo;

import com.zelk.kiv.jni.JniModel;
import com.zelk.kiv.jni.NativeLoader;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;

/** Walks through every native method of libkiv-native-lib.so and says what happens. */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) throws IOException {
        File dir = new File(args.length > 0 ? args[0] : "demo-files");
        if (!dir.isDirectory() && !dir.mkdirs()) {
            throw new IOException("cannot create " + dir);
        }
        File text = new File(dir, "note.txt");
        File id = new File(dir, "device.id");
        text.delete();
        id.delete();

        System.out.println("test() returns the library's date stamp: " + NativeLoader.test());
        StringBuilder digits = new StringBuilder();
        for (int d = 0; d <= 9; d++) {
            digits.append(d).append("->").append((char) NativeLoader.encodeKeyValue(d)).append(' ');
        }
        System.out.println("encodeKeyValue(d) gives the character of digit (d + 5) mod 10: " + digits);
        System.out.println("encodeKeyValue(12) is outside the table and gives " + NativeLoader.encodeKeyValue(12));

        JniModel r = new JniModel();
        String content = "Hello, 世界! abc";
        show("writeFile saves \"" + content + "\" scrambled", NativeLoader.writeFile(r, content, text.getPath()));
        byte[] stored = Files.readAllBytes(text.toPath());
        System.out.println("  the file now holds " + stored.length + " bytes: "
                + new String(stored, StandardCharsets.ISO_8859_1).replaceAll("[^\\x20-\\x7e]", "."));
        show("readFile reads it back", NativeLoader.readFile(r, text.getPath()));
        show("queryFile looks at it", NativeLoader.queryFile(r, text.getPath()));
        show("writeFile with empty content deletes it", NativeLoader.writeFile(r, "", text.getPath()));
        show("queryFile after the delete", NativeLoader.queryFile(r, text.getPath()));
        show("readFile of a missing file", NativeLoader.readFile(r, text.getPath()));
        show("writeFile into a missing directory",
                NativeLoader.writeFile(r, "abc", new File(dir, "no/such/dir/x").getPath()));
        show("writeFile with an empty path", NativeLoader.writeFile(r, "abc", ""));

        String first = NativeLoader.getDeviceIdentification("demo-app", id.getPath());
        System.out.println("getDeviceIdentification(\"demo-app\") makes a new identity and returns it"
                + " scrambled, as it is stored (number and tag): " + first);
        String second = NativeLoader.getDeviceIdentification("demo-app", id.getPath());
        System.out.println("  called again it returns the stored one: " + second
                + (first.equals(second) ? " (the same)" : " (DIFFERENT!)"));
        String other = NativeLoader.getDeviceIdentification("other-app", id.getPath());
        System.out.println("  another tag replaces it with a new identity (scrambled too): " + other);
        System.out.println("getDeviceIdentification with an empty tag gives "
                + NativeLoader.getDeviceIdentification("", id.getPath()));
    }

    private static void show(String what, JniModel r) {
        System.out.println(what + ": code " + r.code + ", msg \"" + r.msg + "\"");
    }
}
