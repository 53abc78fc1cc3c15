package com.zelk.kiv.bench;

import com.zelk.kiv.jni.JniModel;
import com.zelk.kiv.jni.NativeLoader;
import java.io.FileOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * Runs each small file operation, native and pure Java, a few times between two markers, for a
 * system-call trace (bench/syscalls.sh) to be cut into operations. A marker is one write(2) of
 * "KIV-MARK begin &lt;operation&gt;" or "KIV-MARK end &lt;operation&gt;" to /dev/null, from the
 * thread that runs the operation. Every operation is warmed up first, so that class loading and
 * the first-call work of either side fall outside the markers.
 */
public final class SyscallDriver {
    private SyscallDriver() {}

    private interface Op {
        void run() throws Exception;
    }

    public static void main(String[] args) throws Exception {
        Path dir = Paths.get("syscall-files");
        int repeat = 5;
        int warmup = 200;
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--dir" -> dir = Paths.get(args[++i]);
                case "--repeat" -> repeat = Integer.parseInt(args[++i]);
                case "--warmup" -> warmup = Integer.parseInt(args[++i]);
                default -> throw new IllegalArgumentException("unknown argument " + args[i]
                        + "; usage: SyscallDriver [--dir D] [--repeat N] [--warmup N]");
            }
        }
        Files.createDirectories(dir);
        String content = EntryPointBench.ascii(100);
        Path nw = dir.resolve("native-write.txt");
        Path jw = dir.resolve("java-write.txt");
        Path nr = dir.resolve("native-read.txt");
        Path jr = dir.resolve("java-read.txt");
        JniModel n = new JniModel();
        JniModel j = new JniModel();
        check(NativeLoader.writeFile(n, content, nr.toString()));
        check(JavaStore.write(j, content, jr));

        Map<String, Op> ops = new LinkedHashMap<>();
        ops.put("native writeFile 100 B", () -> check(NativeLoader.writeFile(n, content, nw.toString())));
        ops.put("java writeFile 100 B", () -> check(JavaStore.write(j, content, jw)));
        ops.put("native readFile 100 B", () -> check(NativeLoader.readFile(n, nr.toString())));
        ops.put("java readFile 100 B", () -> check(JavaStore.read(j, jr)));
        ops.put("native queryFile", () -> check(NativeLoader.queryFile(n, nr.toString())));
        ops.put("java queryFile", () -> check(JavaStore.query(j, jr)));

        try (FileOutputStream marks = new FileOutputStream("/dev/null")) {
            for (Map.Entry<String, Op> e : ops.entrySet()) {
                Op op = e.getValue();
                for (int i = 0; i < warmup; i++) {
                    op.run();
                }
                byte[] begin = ("KIV-MARK begin " + e.getKey()).getBytes(StandardCharsets.US_ASCII);
                byte[] end = ("KIV-MARK end " + e.getKey()).getBytes(StandardCharsets.US_ASCII);
                for (int i = 0; i < repeat; i++) {
                    marks.write(begin);
                    op.run();
                    marks.write(end);
                }
            }
        }
        for (Path p : new Path[] {nw, jw, nr, jr}) {
            Files.deleteIfExists(p);
        }
    }

    private static void check(JniModel r) {
        if (r.code != 200) {
            throw new IllegalStateException("call failed: " + r.code + " " + r.msg);
        }
    }
}
