package com.zelk.kiv.bench;

import com.zelk.kiv.jni.JniModel;
import com.zelk.kiv.jni.NativeLoader;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Instant;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Times the native entry points writeFile, readFile, queryFile and getDeviceIdentification against
 * a pure-Java implementation of the same operations ({@link JavaStore}) in the same JVM, and
 * prints Markdown tables: median, minimum and maximum per call in microseconds, and the
 * native/Java ratio of the medians (below 1: native is faster).
 *
 * <p>Each cell is warmed up first (a number of calls and a minimum time), then timed over a number
 * of rounds; in every round each variant takes one sample, in an order that rotates from round to
 * round, so that load from elsewhere on the machine falls on both sides alike. A sample is the
 * mean of a batch of calls sized to last about 200 µs; calls that take longer, such as saves that
 * sync to disk, are timed one by one.
 *
 * <p>Saves are also timed on a memory file system (/dev/shm unless --mem-dir says otherwise or
 * "none"), where fsync costs nothing, to show what each side spends besides the disk.
 */
public final class EntryPointBench {
    private EntryPointBench() {}

    private static final String USAGE = String.join("\n",
            "EntryPointBench [options]",
            "  --dir D           directory for the files (default bench-files); its file system is measured",
            "  --mem-dir D       memory file system for the fsync-free saves (default /dev/shm; none: skip)",
            "  --rounds N        timed samples per cell (default 41)",
            "  --save-rounds N   timed samples per cell that syncs to disk (default 61)",
            "  --warmup N        warm-up calls per variant at least (default 5)",
            "  --warmup-ms MS    warm-up time per variant at least, for calls that do not sync (default 300)",
            "  --quick           7 rounds, short warm-up: a smoke run",
            "  --only TEXT       only the cells whose name contains TEXT: \"writeFile <content>\",",
            "                    \"writeFile tmpfs <content>\", \"readFile <content>\", \"queryFile\",",
            "                    \"getDeviceIdentification stored\", \"getDeviceIdentification new\";",
            "                    content is 100 B, 4 KiB, 1 MiB or 1 MiB non-ASCII");

    /** One timed operation; prepare() runs before every call, untimed. */
    private interface Op {
        void run() throws Exception;

        default boolean hasPrepare() {
            return false;
        }

        default void prepare() throws Exception {}
    }

    private static final String TAG = "kiv-bench-app";
    private static final List<String> CASE_NAMES = List.of("100 B", "4 KiB", "1 MiB", "1 MiB non-ASCII");
    private static final long SAMPLE_TARGET_NS = 200_000;
    private static final int MAX_WARMUP_CALLS = 20_000;

    private static int rounds = 41;
    private static int saveRounds = 61;
    private static int warmupCalls = 5;
    private static long warmupNs = 300_000_000L;
    private static long sink;

    private record Case(String name, String content, boolean ascii) {
        int bytes() {
            return content.getBytes(StandardCharsets.UTF_8).length;
        }
    }

    private record Row(String operation, String size, Stats nativeStats, Stats javaStats) {}

    public static void main(String[] args) throws Exception {
        Path dir = Paths.get("bench-files");
        String memDirArg = "/dev/shm";
        String only = "";
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--dir" -> dir = Paths.get(args[++i]);
                case "--rounds" -> rounds = Integer.parseInt(args[++i]);
                case "--save-rounds" -> saveRounds = Integer.parseInt(args[++i]);
                case "--mem-dir" -> memDirArg = args[++i];
                case "--only" -> only = args[++i];
                case "--warmup" -> warmupCalls = Integer.parseInt(args[++i]);
                case "--warmup-ms" -> warmupNs = Long.parseLong(args[++i]) * 1_000_000L;
                case "--quick" -> {
                    rounds = 7;
                    saveRounds = 7;
                    warmupCalls = 2;
                    warmupNs = 50_000_000L;
                }
                case "--help", "-h" -> {
                    System.out.println(USAGE);
                    return;
                }
                default -> throw new IllegalArgumentException("unknown argument " + args[i]);
            }
        }
        if (rounds < 1 || saveRounds < 1 || warmupCalls < 0 || warmupNs < 0) {
            throw new IllegalArgumentException("rounds must be at least 1, warm-up at least 0");
        }
        Files.createDirectories(dir);
        dir = dir.toAbsolutePath();
        // A directory on a memory file system, where fsync costs nothing: the saves there show
        // what each side spends besides the disk.
        Path memDir = null;
        boolean tmpfsCells = false;
        for (String name : CASE_NAMES) {
            tmpfsCells |= wanted(only, "writeFile tmpfs " + name);
        }
        if (tmpfsCells && !memDirArg.equals("none") && Files.isDirectory(Paths.get(memDirArg))) {
            memDir = Paths.get(memDirArg).resolve("kiv-entry-point-bench-" + ProcessHandle.current().pid());
            Files.createDirectories(memDir);
        }
        try {
            run(dir, memDir, only);
        } finally {
            if (memDir != null) {
                try (var files = Files.list(memDir)) {
                    for (Path f : (Iterable<Path>) files::iterator) {
                        Files.delete(f);
                    }
                }
                Files.delete(memDir);
            }
        }
    }

    private static void run(Path dir, Path memDir, String only) throws Exception {

        List<Case> cases = List.of(
                new Case(CASE_NAMES.get(0), ascii(100), true),
                new Case(CASE_NAMES.get(1), ascii(4096), true),
                new Case(CASE_NAMES.get(2), ascii(1 << 20), true),
                new Case(CASE_NAMES.get(3), bmp(1 << 20), false));

        verify(dir, cases);
        long start = System.nanoTime();

        List<Row> rows = new ArrayList<>();
        List<String> splitLines = new ArrayList<>();
        JniModel record = new JniModel();

        for (Case c : cases) {
            String stem = c.bytes() + (c.ascii() ? "" : "-u") + ".txt";
            Path nat = dir.resolve("native-" + stem);
            Path jav = dir.resolve("java-" + stem);
            Path javNoSync = dir.resolve("java-nosync-" + stem);
            Path javSteps = dir.resolve("java-steps-" + stem);
            String content = c.content();
            if (wanted(only, "writeFile " + c.name())) {
                progress("writeFile " + c.name());
                // The fourth variant is the Java save with each step timed; it runs interleaved
                // with the others, so its split describes the same minutes of disk behaviour.
                // The last saveRounds calls (all of them timed) are kept.
                double[][] steps = new double[JavaStore.PHASES][saveRounds];
                long[] phases = new long[JavaStore.PHASES];
                int[] calls = {0};
                Stats[] w = measure(saveRounds,
                        () -> check(NativeLoader.writeFile(record, content, nat.toString())),
                        () -> JavaStore.write(content, jav),
                        () -> JavaStore.writeNoSync(content, javNoSync),
                        () -> {
                            JavaStore.saveTimed(content, javSteps, phases);
                            int at = calls[0]++ % saveRounds;
                            for (int p = 0; p < JavaStore.PHASES; p++) {
                                steps[p][at] = phases[p];
                            }
                        });
                rows.add(new Row("writeFile", c.name(), w[0], w[1]));
                rows.add(new Row("Java save without fsync", c.name(), null, w[2]));
                Files.deleteIfExists(javNoSync);
                Files.deleteIfExists(javSteps);
                splitLines.add(splitLine(c, steps, w[0], w[1], w[2]));
            }
            if (memDir != null && wanted(only, "writeFile tmpfs " + c.name())) {
                progress("writeFile on tmpfs " + c.name());
                Path mn = memDir.resolve("native-" + stem);
                Path mj = memDir.resolve("java-" + stem);
                Stats[] m = measure(rounds,
                        () -> check(NativeLoader.writeFile(record, content, mn.toString())),
                        () -> JavaStore.write(content, mj));
                rows.add(new Row("writeFile on tmpfs (fsync free)", c.name(), m[0], m[1]));
            }
            // The files the reads and queries use, each written by its own side.
            check(NativeLoader.writeFile(record, content, nat.toString()));
            JavaStore.write(content, jav);
            if (wanted(only, "readFile " + c.name())) {
                progress("readFile " + c.name());
                Stats[] r = measure(rounds,
                        () -> {
                            check(NativeLoader.readFile(record, nat.toString()));
                            sink += record.msg.length();
                        },
                        () -> sink += JavaStore.read(jav).length());
                rows.add(new Row("readFile", c.name(), r[0], r[1]));
            }
        }

        if (wanted(only, "queryFile")) {
            progress("queryFile");
            Path qn = dir.resolve("native-100.txt");
            Path qj = dir.resolve("java-100.txt");
            Stats[] q = measure(rounds,
                    () -> check(NativeLoader.queryFile(record, qn.toString())),
                    () -> {
                        if (JavaStore.query(qj) != JavaStore.OK) {
                            throw new IllegalStateException("query failed");
                        }
                    });
            rows.add(new Row("queryFile", "100 B file", q[0], q[1]));
        }

        Path idn = dir.resolve("native.id");
        Path idj = dir.resolve("java.id");
        if (wanted(only, "getDeviceIdentification stored")) {
            progress("getDeviceIdentification, stored");
            Files.deleteIfExists(idn);
            Files.deleteIfExists(idj);
            Stats[] idFound = measure(rounds,
                    () -> sink += NativeLoader.getDeviceIdentification(TAG, idn.toString()).length(),
                    () -> sink += JavaStore.identity(TAG, idj).length());
            rows.add(new Row("getDeviceIdentification, stored", "~23 B", idFound[0], idFound[1]));
        }

        if (wanted(only, "getDeviceIdentification new")) {
            progress("getDeviceIdentification, new");
            Stats[] idNew = measure(saveRounds,
                    new Op() {
                        @Override
                        public void run() {
                            sink += NativeLoader.getDeviceIdentification(TAG, idn.toString()).length();
                        }

                        @Override
                        public boolean hasPrepare() {
                            return true;
                        }

                        @Override
                        public void prepare() throws IOException {
                            Files.deleteIfExists(idn);
                        }
                    },
                    new Op() {
                        @Override
                        public void run() throws IOException {
                            sink += JavaStore.identity(TAG, idj).length();
                        }

                        @Override
                        public boolean hasPrepare() {
                            return true;
                        }

                        @Override
                        public void prepare() throws IOException {
                            Files.deleteIfExists(idj);
                        }
                    });
            rows.add(new Row("getDeviceIdentification, new", "~23 B", idNew[0], idNew[1]));
        }

        double seconds = (System.nanoTime() - start) / 1e9;
        print(dir, rows, splitLines, seconds);
    }

    // ---------------------------------------------------------------------------------------
    // Measuring

    /** Warms every op up, then takes `rounds` samples of each, interleaved. */
    private static Stats[] measure(int rounds, Op... ops) throws Exception {
        System.gc();
        int[] batch = new int[ops.length];
        for (int v = 0; v < ops.length; v++) {
            batch[v] = warmUp(ops[v]);
        }
        double[][] samples = new double[ops.length][rounds];
        for (int r = 0; r < rounds; r++) {
            for (int i = 0; i < ops.length; i++) {
                int v = (r + i) % ops.length;
                Op op = ops[v];
                if (op.hasPrepare()) {
                    op.prepare();
                }
                long t0 = System.nanoTime();
                for (int k = 0; k < batch[v]; k++) {
                    op.run();
                }
                samples[v][r] = (double) (System.nanoTime() - t0) / batch[v];
            }
        }
        Stats[] out = new Stats[ops.length];
        for (int v = 0; v < ops.length; v++) {
            out[v] = Stats.ofNanos(samples[v]);
        }
        return out;
    }

    /** Runs op until warm, and returns how many calls make one sample. */
    private static int warmUp(Op op) throws Exception {
        long begin = System.nanoTime();
        long spent = 0;
        int calls = 0;
        while (calls < warmupCalls || (System.nanoTime() - begin < warmupNs && calls < MAX_WARMUP_CALLS)) {
            if (op.hasPrepare()) {
                op.prepare();
            }
            long t0 = System.nanoTime();
            op.run();
            spent += System.nanoTime() - t0;
            calls++;
        }
        if (op.hasPrepare() || calls == 0) {
            return 1;
        }
        double perCall = Math.max(1.0, (double) spent / calls);
        return (int) Math.max(1, Math.min(10_000, Math.round(SAMPLE_TARGET_NS / perCall)));
    }

    /** One row of the save split: the medians of the Java save's steps beside the totals. */
    private static String splitLine(Case c, double[][] t, Stats nativeSave, Stats javaSave,
            Stats javaNoSync) {
        StringBuilder line = new StringBuilder("| ").append(c.name()).append(" |");
        double sum = 0;
        double sync = 0;
        double rename = 0;
        for (int p = 0; p < JavaStore.PHASES; p++) {
            Stats s = Stats.ofNanos(t[p]);
            sum += s.median;
            if (p == JavaStore.PHASE_RENAME) {
                rename = s.median;
            }
            if (p == JavaStore.PHASE_SYNC) {
                sync = s.median;
                line.append(" **").append(Stats.us(s.median)).append("** |");
            } else {
                line.append(' ').append(Stats.us(s.median)).append(" |");
            }
        }
        line.append(' ').append(Stats.us(sum)).append(" |");
        line.append(' ').append(Stats.us(javaSave.median)).append(" |");
        line.append(' ').append(Stats.us(javaNoSync.median)).append(" |");
        line.append(' ').append(Stats.us(nativeSave.median)).append(" |");
        line.append(' ').append(Stats.us(nativeSave.median - sync)).append(" |");
        line.append(' ').append(String.format("%.0f%%", 100 * (sync + rename) / sum)).append(" |");
        return line.toString();
    }

    private static boolean wanted(String only, String cell) {
        return only.isEmpty() || cell.contains(only);
    }

    private static void check(JniModel r) {
        if (r.code != 200) {
            throw new IllegalStateException("native call failed: " + r.code + " " + r.msg);
        }
    }

    // ---------------------------------------------------------------------------------------
    // Content and the agreement check

    /** n bytes of ASCII text. */
    static String ascii(int n) {
        String line = "The quick brown fox jumps over the lazy dog; 0123456789, said the note.\n";
        StringBuilder b = new StringBuilder(n + line.length());
        while (b.length() < n) {
            b.append(line);
        }
        b.setLength(n);
        return b.toString();
    }

    /** About n UTF-8 bytes (never more) of Basic Multilingual Plane text mixing 1, 2 and 3-byte characters. */
    static String bmp(int n) {
        // "Grüße aus Köln, 東京と大阪 — ça va? Ωμέγα "
        String pattern = "Gr\u00fc\u00dfe aus K\u00f6ln, \u6771\u4eac\u3068\u5927\u962a \u2014 "
                + "\u00e7a va? \u03a9\u03bc\u03ad\u03b3\u03b1 ";
        StringBuilder b = new StringBuilder();
        int bytes = 0;
        for (int i = 0; ; i = (i + 1) % pattern.length()) {
            char ch = pattern.charAt(i);
            int w = ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
            if (bytes + w > n) {
                break;
            }
            b.append(ch);
            bytes += w;
        }
        return b.toString();
    }

    /** Both sides must store the same bytes and read each other's files, or nothing is timed. */
    private static void verify(Path dir, List<Case> cases) throws Exception {
        if (!Arrays.equals(JavaStore.scramble("abc".getBytes(StandardCharsets.US_ASCII)),
                "bda".getBytes(StandardCharsets.US_ASCII))) {
            throw new IllegalStateException("Java scramble of \"abc\" is not \"bda\"");
        }
        JniModel r = new JniModel();
        Path n = dir.resolve("verify-native.txt");
        Path j = dir.resolve("verify-java.txt");
        for (Case c : cases) {
            check(NativeLoader.writeFile(r, c.content(), n.toString()));
            JavaStore.write(c.content(), j);
            if (!Arrays.equals(Files.readAllBytes(n), Files.readAllBytes(j))) {
                throw new IllegalStateException("stored bytes differ for " + c.name());
            }
            if (!JavaStore.read(n).equals(c.content())) {
                throw new IllegalStateException("Java cannot read the native file, " + c.name());
            }
            check(NativeLoader.readFile(r, j.toString()));
            if (!c.content().equals(r.msg)) {
                throw new IllegalStateException("native cannot read the Java file, " + c.name());
            }
            check(NativeLoader.queryFile(r, j.toString()));
            if (JavaStore.query(n) != JavaStore.OK) {
                throw new IllegalStateException("Java query disagrees, " + c.name());
            }
        }
        Files.delete(n);
        Files.delete(j);
        NativeLoader.queryFile(r, n.toString());
        if (r.code != JavaStore.query(n)) {
            throw new IllegalStateException("query of a missing file: native " + r.code);
        }
        Path id = dir.resolve("verify.id");
        Files.deleteIfExists(id);
        String made = NativeLoader.getDeviceIdentification(TAG, id.toString());
        if (!made.equals(JavaStore.identity(TAG, id))) {
            throw new IllegalStateException("Java does not find the native identity");
        }
        Files.delete(id);
        made = JavaStore.identity(TAG, id);
        if (!made.equals(NativeLoader.getDeviceIdentification(TAG, id.toString()))) {
            throw new IllegalStateException("native does not find the Java identity");
        }
        Files.delete(id);
    }

    // ---------------------------------------------------------------------------------------
    // Output

    private static void progress(String what) {
        System.err.println("  timing " + what + " ...");
    }

    private static void print(Path dir, List<Row> rows, List<String> splitLines, double seconds)
            throws IOException {
        StringBuilder o = new StringBuilder();
        o.append("## Entry points: native (JNI) vs pure Java\n\n");
        o.append("- run: ").append(Instant.now().truncatedTo(ChronoUnit.SECONDS)).append('\n');
        o.append("- JVM: ").append(System.getProperty("java.vm.name")).append(' ')
                .append(System.getProperty("java.runtime.version")).append(", ")
                .append(System.getProperty("os.name")).append(' ').append(System.getProperty("os.arch"))
                .append(", ").append(Runtime.getRuntime().availableProcessors()).append(" CPUs\n");
        o.append("- files in ").append(dir).append(" (").append(Files.getFileStore(dir).type())
                .append(")\n");
        o.append(String.format("- %d rounds per cell (%d where the disk syncs) after warm-up (at least "
                + "%d calls and %d ms per variant); timed part took %.1f s%n%n",
                rounds, saveRounds, warmupCalls, warmupNs / 1_000_000, seconds));
        o.append("Times per call in µs: median (min–max). native/Java is the ratio of the medians "
                + "(below 1: native faster).\n\n");
        o.append("| operation | content | native | pure Java | native/Java |\n");
        o.append("|---|---|--:|--:|--:|\n");
        for (Row row : rows) {
            o.append("| ").append(row.operation()).append(" | ").append(row.size()).append(" | ")
                    .append(row.nativeStats() == null ? "—" : row.nativeStats().cell()).append(" | ")
                    .append(row.javaStats().cell()).append(" | ")
                    .append(row.nativeStats() == null ? "—"
                            : String.format("%.2f", row.nativeStats().median / row.javaStats().median))
                    .append(" |\n");
        }
        o.append("\n### Where a save's time goes (medians, µs)\n\n");
        o.append("The steps of a pure-Java save, timed one by one inside the same save (a fourth "
                + "variant interleaved with the writeFile cell above): encode (String to UTF-8, "
                + "scramble), open the temporary file, write, fsync, close, rename over the target. "
                + "\"native − fsync\" is the native writeFile median less the Java fsync median: "
                + "a rough estimate of everything the native save does besides syncing. The "
                + "\"writeFile on tmpfs\" rows above measure that part directly, since fsync "
                + "costs nothing there.\n\n");
        o.append("| content | encode | open | write | fsync | close | rename | Java sum of steps "
                + "| Java save | Java save without fsync | native writeFile | native − fsync "
                + "| fsync + rename share |\n");
        o.append("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
        for (String line : splitLines) {
            o.append(line).append('\n');
        }
        o.append("\n### Goals\n\n");
        for (Row row : rows) {
            if (row.nativeStats() == null) {
                continue;
            }
            double ratio = row.nativeStats().median / row.javaStats().median;
            if (row.operation().equals("readFile") && row.size().equals("1 MiB")) {
                o.append(String.format("- readFile 1 MiB at least 2x faster than pure Java: %s "
                        + "(pure Java / native = %.2fx)%n", 1 / ratio >= 2 ? "MET" : "NOT MET", 1 / ratio));
            }
            if (row.operation().equals("writeFile")) {
                String verdict = ratio <= 1 ? "MET" : ratio <= 1.05 ? "equal within 5 % (noise)" : "NOT MET";
                o.append(String.format("- writeFile %s no slower than the pure-Java save: %s "
                        + "(native/Java = %.2f)%n", row.size(), verdict, ratio));
            }
        }
        System.out.print(o);
        if (sink == 42) {
            System.out.println();  // keeps the results alive
        }
    }
}
