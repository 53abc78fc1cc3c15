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
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Times the native entry points writeFile, readFile, queryFile and getDeviceIdentification against
 * a pure-Java implementation of the same operations ({@link JavaStore}) in the same JVM, and
 * prints Markdown tables: median, minimum and maximum per call in microseconds, the native/Java
 * ratio of the medians (below 1: native is faster), and at the end each goal cell with its
 * ratio, its goal and whether the goal is met.
 *
 * <p>The whole list of cells is run several times over (passes), so that each cell's samples are
 * spread over the run and a burst of load from elsewhere on the machine spoils a part of every
 * cell rather than all of one. Each cell is warmed up in the first pass (a number of calls and a
 * minimum time) and briefly again in each later one; in every round each variant takes one
 * sample, in an order that rotates from round to round, so that load falls on both sides alike.
 * A sample is the mean of a batch of calls sized to last about 200 µs; calls that take longer,
 * such as saves that sync to disk, are timed one by one. Medians are over all samples of all
 * passes.
 *
 * <p>Saves are timed on the disk (the --dir directory) and on a memory file system (/dev/shm
 * unless --mem-dir says otherwise, or "none"), where fsync costs nothing, to show what each side
 * spends besides the disk.
 */
public final class EntryPointBench {
    private EntryPointBench() {}

    private static final String USAGE = String.join("\n",
            "EntryPointBench [options]",
            "  --dir D           directory on disk for the files (default bench-files); the disk saves measure its file system",
            "  --mem-dir D       memory file system (tmpfs) for the fsync-free saves (default /dev/shm; none: skip them)",
            "  --passes N        times the whole list of cells is run; samples are pooled (default 6)",
            "  --rounds N        timed samples per cell and pass (default 31)",
            "  --save-rounds N   timed samples per pass of a cell that syncs to disk (default 21)",
            "  --warmup N        warm-up calls per variant at least (default 5)",
            "  --warmup-ms MS    warm-up time per variant in the first pass, for calls that do not sync (default 300)",
            "  --quick           1 pass of 7 rounds, short warm-up: a smoke run",
            "  --only TEXT       only the cells whose name contains TEXT: \"writeFile disk <content>\",",
            "                    \"writeFile tmpfs <content>\", \"readFile <content>\", \"queryFile\",",
            "                    \"getDeviceIdentification stored\", \"getDeviceIdentification new\";",
            "                    content is 100 B ASCII, 4 KiB ASCII, 1 MiB ASCII or 1 MiB CJK");

    /** One timed operation; prepare() runs before every call, untimed. */
    private interface Op {
        void run() throws Exception;

        default boolean hasPrepare() {
            return false;
        }

        default void prepare() throws Exception {}

        /** Called after the timed sample with the given index (over all passes) was taken. */
        default void sampled(int index) {}
    }

    private static final String TAG = "kiv-bench-app";
    private static final List<String> CASE_NAMES =
            List.of("100 B ASCII", "4 KiB ASCII", "1 MiB ASCII", "1 MiB CJK");
    private static final long SAMPLE_TARGET_NS = 200_000;
    private static final int MAX_WARMUP_CALLS = 20_000;
    private static final long REWARM_NS = 20_000_000L;

    private static int passes = 6;
    private static int rounds = 31;
    private static int saveRounds = 21;
    private static int warmupCalls = 5;
    private static long warmupNs = 300_000_000L;
    private static long sink;

    private record Case(String name, String content, boolean ascii) {
        int bytes() {
            return content.getBytes(StandardCharsets.UTF_8).length;
        }

        String stem() {
            return bytes() + (ascii ? "" : "-cjk") + ".txt";
        }
    }

    /**
     * A cell of the goal table: the key of the measured cell it reads, and the largest
     * native/Java ratio of the medians that meets the goal.
     */
    private record Goal(String label, String key, double limit, String note) {}

    private static final List<Goal> GOALS = List.of(
            new Goal("readFile 1 MiB of mostly CJK text", "readFile 1 MiB CJK", 0.5, ""),
            new Goal("writeFile 1 MiB CJK, on tmpfs", "writeFile tmpfs 1 MiB CJK", 0.5, ""),
            new Goal("queryFile", "queryFile", 1.0, ""),
            new Goal("writeFile 100 B, on tmpfs", "writeFile tmpfs 100 B ASCII", 0.9, ""),
            new Goal("writeFile 4 KiB, on tmpfs", "writeFile tmpfs 4 KiB ASCII", 0.9, ""),
            new Goal("writeFile 4 KiB, on disk", "writeFile disk 4 KiB ASCII", 1.05, ""),
            new Goal("readFile 4 KiB ASCII", "readFile 4 KiB ASCII", 0.7, ""),
            new Goal("readFile 1 MiB ASCII", "readFile 1 MiB ASCII", 0.5, ""),
            new Goal("readFile 100 B ASCII", "readFile 100 B ASCII", 0.8, " (keep)"),
            new Goal("writeFile 1 MiB ASCII, on tmpfs", "writeFile tmpfs 1 MiB ASCII", 0.5, " (keep)"));

    /** One measured cell: its variants (native first, then Java) and their samples over all passes. */
    private static final class Cell {
        final String key;
        final int perPass;
        final Op[] ops;
        final double[][] samples;
        int[] batch;
        int taken;

        Cell(String key, int perPass, Op... ops) {
            this.key = key;
            this.perPass = perPass;
            this.ops = ops;
            this.samples = new double[ops.length][perPass * passes];
        }

        Stats stats(int variant) {
            return Stats.ofNanos(Arrays.copyOf(samples[variant], taken));
        }

        /** native/Java of each round, from the two samples taken next to each other. */
        double[] ratios() {
            double[] r = new double[taken];
            for (int k = 0; k < taken; k++) {
                r[k] = samples[0][k] / samples[1][k];
            }
            return r;
        }
    }

    private record Row(String key, String operation, String content, Stats nativeStats,
            Stats javaStats, double[] ratios) {}

    public static void main(String[] args) throws Exception {
        Path dir = Paths.get("bench-files");
        String memDirArg = "/dev/shm";
        String only = "";
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--dir" -> dir = Paths.get(args[++i]);
                case "--passes" -> passes = Integer.parseInt(args[++i]);
                case "--rounds" -> rounds = Integer.parseInt(args[++i]);
                case "--save-rounds" -> saveRounds = Integer.parseInt(args[++i]);
                case "--mem-dir" -> memDirArg = args[++i];
                case "--only" -> only = args[++i];
                case "--warmup" -> warmupCalls = Integer.parseInt(args[++i]);
                case "--warmup-ms" -> warmupNs = Long.parseLong(args[++i]) * 1_000_000L;
                case "--quick" -> {
                    passes = 1;
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
        if (passes < 1 || rounds < 1 || saveRounds < 1 || warmupCalls < 0 || warmupNs < 0) {
            throw new IllegalArgumentException("passes and rounds must be at least 1, warm-up at least 0");
        }
        Files.createDirectories(dir);
        dir = dir.toAbsolutePath();
        String diskType = Files.getFileStore(dir).type();
        if (isMemoryFileSystem(diskType)) {
            System.err.println("warning: --dir " + dir + " is on " + diskType
                    + ": the disk saves will not measure a real fsync");
        }
        // A directory on a memory file system, where fsync costs nothing: the saves there show
        // what each side spends besides the disk.
        Path memDir = null;
        boolean tmpfsCells = false;
        for (String name : CASE_NAMES) {
            tmpfsCells |= wanted(only, "writeFile tmpfs " + name);
        }
        if (tmpfsCells && !memDirArg.equals("none")) {
            Path base = Paths.get(memDirArg);
            if (!Files.isDirectory(base)) {
                throw new IllegalArgumentException("--mem-dir " + base + " is not a directory (none: skip those cells)");
            }
            String type = Files.getFileStore(base).type();
            if (!isMemoryFileSystem(type)) {
                throw new IllegalArgumentException("--mem-dir " + base + " is on " + type
                        + ", not a memory file system; give a tmpfs directory, or none");
            }
            memDir = base.resolve("kiv-entry-point-bench-" + ProcessHandle.current().pid());
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

    private static boolean isMemoryFileSystem(String type) {
        return type.equals("tmpfs") || type.equals("ramfs");
    }

    private static void run(Path dir, Path memDir, String only) throws Exception {
        List<Case> cases = List.of(
                new Case(CASE_NAMES.get(0), ascii(100), true),
                new Case(CASE_NAMES.get(1), ascii(4096), true),
                new Case(CASE_NAMES.get(2), ascii(1 << 20), true),
                new Case(CASE_NAMES.get(3), cjk(1 << 20), false));

        verify(dir, cases);
        String loadBefore = loadAverage();
        long start = System.nanoTime();

        JniModel record = new JniModel();
        JniModel javaRecord = new JniModel();
        List<Cell> cells = new ArrayList<>();
        // Steps of the timed Java save per content: [phase][sample].
        Map<String, double[][]> steps = new LinkedHashMap<>();

        for (Case c : cases) {
            String stem = c.stem();
            String content = c.content();
            String diskKey = "writeFile disk " + c.name();
            if (wanted(only, diskKey)) {
                Path nat = dir.resolve("native-" + stem);
                Path jav = dir.resolve("java-" + stem);
                Path javNoSync = dir.resolve("java-nosync-" + stem);
                Path javSteps = dir.resolve("java-steps-" + stem);
                // The fourth variant is the Java save with each step timed; it runs interleaved
                // with the others, so its split describes the same minutes of disk behaviour.
                double[][] split = new double[JavaStore.PHASES][saveRounds * passes];
                long[] phases = new long[JavaStore.PHASES];
                steps.put(c.name(), split);
                cells.add(new Cell(diskKey, saveRounds,
                        () -> check(NativeLoader.writeFile(record, content, nat.toString())),
                        () -> check(JavaStore.write(javaRecord, content, jav)),
                        () -> JavaStore.writeNoSync(content, javNoSync),
                        new Op() {
                            @Override
                            public void run() throws IOException {
                                JavaStore.saveTimed(content, javSteps, phases);
                            }

                            @Override
                            public void sampled(int index) {
                                for (int p = 0; p < JavaStore.PHASES; p++) {
                                    split[p][index] = phases[p];
                                }
                            }
                        }));
            }
            String memKey = "writeFile tmpfs " + c.name();
            if (memDir != null && wanted(only, memKey)) {
                Path mn = memDir.resolve("native-" + stem);
                Path mj = memDir.resolve("java-" + stem);
                cells.add(new Cell(memKey, rounds,
                        () -> check(NativeLoader.writeFile(record, content, mn.toString())),
                        () -> check(JavaStore.write(javaRecord, content, mj))));
            }
            String readKey = "readFile " + c.name();
            if (wanted(only, readKey)) {
                // The files the reads use, each written by its own side.
                Path rn = dir.resolve("read-native-" + stem);
                Path rj = dir.resolve("read-java-" + stem);
                check(NativeLoader.writeFile(record, content, rn.toString()));
                check(JavaStore.write(javaRecord, content, rj));
                cells.add(new Cell(readKey, rounds,
                        () -> {
                            check(NativeLoader.readFile(record, rn.toString()));
                            sink += record.msg.length();
                        },
                        () -> {
                            check(JavaStore.read(javaRecord, rj));
                            sink += javaRecord.msg.length();
                        }));
            }
        }

        if (wanted(only, "queryFile")) {
            Path qn = dir.resolve("query-native-100.txt");
            Path qj = dir.resolve("query-java-100.txt");
            check(NativeLoader.writeFile(record, cases.get(0).content(), qn.toString()));
            check(JavaStore.write(javaRecord, cases.get(0).content(), qj));
            cells.add(new Cell("queryFile", rounds,
                    () -> check(NativeLoader.queryFile(record, qn.toString())),
                    () -> check(JavaStore.query(javaRecord, qj))));
        }

        Path idn = dir.resolve("native.id");
        Path idj = dir.resolve("java.id");
        if (wanted(only, "getDeviceIdentification stored")) {
            Files.deleteIfExists(idn);
            Files.deleteIfExists(idj);
            cells.add(new Cell("getDeviceIdentification stored", rounds,
                    () -> sink += NativeLoader.getDeviceIdentification(TAG, idn.toString()).length(),
                    () -> sink += JavaStore.identity(TAG, idj).length()));
        }

        if (wanted(only, "getDeviceIdentification new")) {
            cells.add(new Cell("getDeviceIdentification new", saveRounds,
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
                    }));
        }

        for (int pass = 0; pass < passes; pass++) {
            System.err.printf("  pass %d of %d (%d cells), %.0f s so far ...%n", pass + 1, passes,
                    cells.size(), (System.nanoTime() - start) / 1e9);
            for (Cell cell : cells) {
                measure(cell);
            }
        }
        double seconds = (System.nanoTime() - start) / 1e9;
        String loadAfter = loadAverage();

        for (Case c : cases) {
            String stem = c.stem();
            for (String prefix : List.of("java-nosync-", "java-steps-")) {
                Files.deleteIfExists(dir.resolve(prefix + stem));
            }
        }

        List<Row> rows = new ArrayList<>();
        List<String> splitLines = new ArrayList<>();
        for (Cell cell : cells) {
            rows.addAll(rowsOf(cell));
            if (cell.key.startsWith("writeFile disk ")) {
                String content = cell.key.substring("writeFile disk ".length());
                splitLines.add(splitLine(content, steps.get(content), cell.taken, cell.stats(0),
                        cell.stats(1), cell.stats(2)));
            }
        }
        print(dir, memDir, rows, splitLines, seconds, loadBefore, loadAfter);
    }

    private static List<Row> rowsOf(Cell cell) {
        Stats n = cell.stats(0);
        Stats j = cell.stats(1);
        double[] ratios = cell.ratios();
        String key = cell.key;
        if (key.startsWith("writeFile disk ")) {
            String content = key.substring("writeFile disk ".length());
            return List.of(new Row(key, "writeFile (disk)", content, n, j, ratios),
                    new Row(key + " without fsync", "Java save without fsync (disk)", content, null,
                            cell.stats(2), null));
        }
        if (key.startsWith("writeFile tmpfs ")) {
            return List.of(new Row(key, "writeFile on tmpfs (fsync free)",
                    key.substring("writeFile tmpfs ".length()), n, j, ratios));
        }
        if (key.startsWith("readFile ")) {
            return List.of(new Row(key, "readFile", key.substring("readFile ".length()), n, j, ratios));
        }
        if (key.equals("queryFile")) {
            return List.of(new Row(key, "queryFile", "100 B file", n, j, ratios));
        }
        if (key.equals("getDeviceIdentification stored")) {
            return List.of(new Row(key, "getDeviceIdentification, stored", "~23 B", n, j, ratios));
        }
        return List.of(new Row(key, "getDeviceIdentification, new", "~23 B", n, j, ratios));
    }

    // ---------------------------------------------------------------------------------------
    // Measuring

    /**
     * One pass of a cell: warms every variant up (fully in the first pass, briefly later), then
     * takes perPass samples of each, interleaved, and adds them to the cell's.
     */
    private static void measure(Cell cell) throws Exception {
        System.gc();
        Op[] ops = cell.ops;
        boolean first = cell.batch == null;
        if (first) {
            cell.batch = new int[ops.length];
        }
        for (int v = 0; v < ops.length; v++) {
            int b = first ? warmUp(ops[v], warmupCalls, warmupNs)
                          : warmUp(ops[v], Math.min(warmupCalls, 2), Math.min(warmupNs, REWARM_NS));
            if (first) {
                cell.batch[v] = b;
            }
        }
        for (int r = 0; r < cell.perPass; r++) {
            int at = cell.taken + r;
            for (int i = 0; i < ops.length; i++) {
                int v = (at + i) % ops.length;
                Op op = ops[v];
                int batch = cell.batch[v];
                if (op.hasPrepare()) {
                    op.prepare();
                }
                long t0 = System.nanoTime();
                for (int k = 0; k < batch; k++) {
                    op.run();
                }
                cell.samples[v][at] = (double) (System.nanoTime() - t0) / batch;
                op.sampled(at);
            }
        }
        cell.taken += cell.perPass;
    }

    /** Runs op until warm, and returns how many calls make one sample. */
    private static int warmUp(Op op, int minCalls, long minNs) throws Exception {
        long begin = System.nanoTime();
        long spent = 0;
        int calls = 0;
        while (calls < minCalls || (System.nanoTime() - begin < minNs && calls < MAX_WARMUP_CALLS)) {
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
    private static String splitLine(String content, double[][] t, int taken, Stats nativeSave,
            Stats javaSave, Stats javaNoSync) {
        StringBuilder line = new StringBuilder("| ").append(content).append(" |");
        double sum = 0;
        double sync = 0;
        double rename = 0;
        for (int p = 0; p < JavaStore.PHASES; p++) {
            Stats s = Stats.ofNanos(Arrays.copyOf(t[p], taken));
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

    private static JniModel check(JniModel r) {
        if (r.code != 200) {
            throw new IllegalStateException("call failed: " + r.code + " " + r.msg);
        }
        return r;
    }

    private static String loadAverage() {
        try {
            String[] f = Files.readString(Paths.get("/proc/loadavg")).trim().split(" ");
            return f[0] + " " + f[1] + " " + f[2];
        } catch (IOException | RuntimeException e) {
            return "unknown";
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

    /**
     * About n UTF-8 bytes (never more) of Chinese prose: full-width punctuation, a date in ASCII
     * digits, a line break; 207 of every 216 bytes belong to three-byte characters.
     */
    static String cjk(int n) {
        // "文件已经保存成功。今天是2019年11月15日，我们在办公室里讨论新版本的发布计划，
        //  大家都认为这个功能非常重要：用户的数据必须安全可靠，读取和写入都要快！"
        String pattern = "\u6587\u4ef6\u5df2\u7ecf\u4fdd\u5b58\u6210\u529f\u3002\u4eca\u5929\u662f"
                + "2019\u5e7411\u670815\u65e5\uff0c\u6211\u4eec\u5728\u529e\u516c\u5ba4\u91cc\u8ba8"
                + "\u8bba\u65b0\u7248\u672c\u7684\u53d1\u5e03\u8ba1\u5212\uff0c\u5927\u5bb6\u90fd"
                + "\u8ba4\u4e3a\u8fd9\u4e2a\u529f\u80fd\u975e\u5e38\u91cd\u8981\uff1a\u7528\u6237"
                + "\u7684\u6570\u636e\u5fc5\u987b\u5b89\u5168\u53ef\u9760\uff0c\u8bfb\u53d6\u548c"
                + "\u5199\u5165\u90fd\u8981\u5feb\uff01\n";
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
        JniModel jr = new JniModel();
        Path n = dir.resolve("verify-native.txt");
        Path j = dir.resolve("verify-java.txt");
        for (Case c : cases) {
            check(NativeLoader.writeFile(r, c.content(), n.toString()));
            check(JavaStore.write(jr, c.content(), j));
            if (!Arrays.equals(Files.readAllBytes(n), Files.readAllBytes(j))) {
                throw new IllegalStateException("stored bytes differ for " + c.name());
            }
            if (!c.content().equals(check(JavaStore.read(jr, n)).msg)) {
                throw new IllegalStateException("Java cannot read the native file, " + c.name());
            }
            check(NativeLoader.readFile(r, j.toString()));
            if (!c.content().equals(r.msg)) {
                throw new IllegalStateException("native cannot read the Java file, " + c.name());
            }
            check(NativeLoader.queryFile(r, j.toString()));
            if (!r.msg.equals(check(JavaStore.query(jr, n)).msg)) {
                throw new IllegalStateException("Java query disagrees, " + c.name());
            }
        }
        Files.delete(n);
        Files.delete(j);
        NativeLoader.queryFile(r, n.toString());
        JavaStore.query(jr, n);
        if (r.code != jr.code || !r.msg.equals(jr.msg)) {
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

    private static String ratio(double v) {
        return String.format("%.2f", v);
    }

    /** The middle half of the per-round ratios: "first quartile–third quartile". */
    private static String middleHalf(double[] ratios) {
        double[] s = ratios.clone();
        Arrays.sort(s);
        return ratio(Stats.quantile(s, 0.25)) + "–" + ratio(Stats.quantile(s, 0.75));
    }

    private static void print(Path dir, Path memDir, List<Row> rows, List<String> splitLines,
            double seconds, String loadBefore, String loadAfter) throws IOException {
        StringBuilder o = new StringBuilder();
        o.append("## Entry points: native (JNI) vs pure Java\n\n");
        o.append("- finished: ").append(Instant.now().truncatedTo(ChronoUnit.SECONDS)).append('\n');
        o.append("- JVM: ").append(System.getProperty("java.vm.name")).append(' ')
                .append(System.getProperty("java.runtime.version")).append(", ")
                .append(System.getProperty("os.name")).append(' ').append(System.getProperty("os.arch"))
                .append(", ").append(Runtime.getRuntime().availableProcessors()).append(" CPUs\n");
        o.append("- load average (1, 5, 15 min) before: ").append(loadBefore).append(", after: ")
                .append(loadAfter).append('\n');
        o.append("- disk files in ").append(dir).append(" (").append(Files.getFileStore(dir).type())
                .append(")\n");
        if (memDir != null) {
            o.append("- tmpfs files in ").append(memDir.getParent()).append(" (")
                    .append(Files.getFileStore(memDir).type()).append(")\n");
        }
        o.append(String.format("- %d passes over all cells; per pass and cell %d rounds (%d where a "
                + "save syncs or an identity is made); warm-up at least %d calls and %d ms per variant "
                + "in the first pass; timed part took %.1f s%n%n",
                passes, rounds, saveRounds, warmupCalls, warmupNs / 1_000_000, seconds));
        o.append("Times per call in µs: median (min–max) over all samples. native/Java is the ratio "
                + "of the medians (below 1: native faster); \"per round\" is the middle half (first to "
                + "third quartile) of the ratios of the two samples taken side by side in each round.\n\n");
        o.append("| operation | content | native | pure Java | native/Java | per round |\n");
        o.append("|---|---|--:|--:|--:|--:|\n");
        for (Row row : rows) {
            boolean both = row.nativeStats() != null;
            o.append("| ").append(row.operation()).append(" | ").append(row.content()).append(" | ")
                    .append(both ? row.nativeStats().cell() : "—").append(" | ")
                    .append(row.javaStats().cell()).append(" | ")
                    .append(both ? ratio(row.nativeStats().median / row.javaStats().median) : "—")
                    .append(" | ").append(both ? middleHalf(row.ratios()) : "—").append(" |\n");
        }
        if (!splitLines.isEmpty()) {
            o.append("\n### Where a save's time goes (medians, µs)\n\n");
            o.append("The steps of a pure-Java save on disk, timed one by one inside the same save (a "
                    + "fourth variant interleaved with the writeFile (disk) cell above): encode (String "
                    + "to UTF-8, scramble), open the temporary file, write, fsync, close, rename over "
                    + "the target. \"native − fsync\" is the native writeFile median less the Java "
                    + "fsync median: a rough estimate of everything the native save does besides "
                    + "syncing. The \"writeFile on tmpfs\" rows above measure that part directly, "
                    + "since fsync costs nothing there.\n\n");
            o.append("| content | encode | open | write | fsync | close | rename | Java sum of steps "
                    + "| Java save | Java save without fsync | native writeFile | native − fsync "
                    + "| fsync + rename share |\n");
            o.append("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
            for (String line : splitLines) {
                o.append(line).append('\n');
            }
        }
        o.append("\n### Goals (native/Java, ratio of the medians)\n\n");
        o.append("| cell | native µs | Java µs | native/Java | per round | goal | result |\n");
        o.append("|---|--:|--:|--:|--:|--:|---|\n");
        int met = 0;
        int measured = 0;
        for (Goal g : GOALS) {
            Row row = rows.stream().filter(r -> r.key().equals(g.key())).findFirst().orElse(null);
            o.append("| ").append(g.label()).append(" | ");
            if (row == null) {
                o.append("— | — | — | — | ≤ ").append(g.limit()).append(g.note()).append(" | not run |\n");
                continue;
            }
            double r = row.nativeStats().median / row.javaStats().median;
            boolean ok = r <= g.limit();
            measured++;
            met += ok ? 1 : 0;
            o.append(Stats.us(row.nativeStats().median)).append(" | ")
                    .append(Stats.us(row.javaStats().median)).append(" | ")
                    .append(ratio(r)).append(" | ").append(middleHalf(row.ratios())).append(" | ≤ ")
                    .append(g.limit()).append(g.note()).append(" | ").append(ok ? "met" : "**not met**")
                    .append(" |\n");
        }
        o.append(String.format("%n%d of %d goals met.%n", met, measured));
        System.out.print(o);
        if (sink == 42) {
            System.out.println();  // keeps the results alive
        }
    }
}
