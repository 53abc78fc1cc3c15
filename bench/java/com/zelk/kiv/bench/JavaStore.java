package com.zelk.kiv.bench;

import com.zelk.kiv.jni.JniModel;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.SecureRandom;
import java.util.concurrent.ThreadLocalRandom;

/**
 * The file store and the device identity written in plain Java, as an app would write them
 * without the native library: the same stored format and the same durability (a temporary file
 * beside the target, written, synced, closed and renamed over the target).
 *
 * <p>Stored format: for the plain bytes P (n of them) and E = ceil(n / 2), the file holds
 * P[2k] + 1 for k &lt; E, then P[2k + 1] - 1 for k &lt; n / 2, all mod 256. The plain bytes are
 * the string's UTF-8 bytes, which equal the modified UTF-8 the native side uses for any text
 * without U+0000 and without characters outside the Basic Multilingual Plane.
 *
 * <p>writeFile, readFile and queryFile report into a {@link JniModel} as the native methods do:
 * the same codes, and the same fixed messages written as string literals.
 */
final class JavaStore {
    /** Status codes as the native side reports them. */
    static final int OK = 200;
    static final int NO_FILE = 803;
    static final int EMPTY = 804;

    /** The messages the native side reports, as an app would write them. */
    static final String SAVED = "\u4fdd\u5b58\u6210\u529f";  // 保存成功
    static final String WRITE_FAILED = "\u5199\u5165\u5931\u8d25\uff1a";  // 写入失败：
    static final String NO_SUCH_FILE = "\u6587\u4ef6\u4e0d\u5b58\u5728";  // 文件不存在
    static final String READ_FAILED = "\u8bfb\u53d6\u5185\u5bb9\u5931\u8d25\uff1a";  // 读取内容失败：
    static final String NOT_EMPTY =
            "\u6587\u4ef6\u5b58\u5728\uff0c\u5185\u5bb9\u4e0d\u4e3a\u7a7a";  // 文件存在，内容不为空
    static final String EMPTY_FILE = "\u6587\u4ef6\u5b58\u5728\uff0c\u5185\u5bb9\u4e3a\u7a7a";  // 文件存在，内容为空

    /** Indices into the array filled by {@link #saveTimed}. */
    static final int PHASE_ENCODE = 0;
    static final int PHASE_OPEN = 1;
    static final int PHASE_WRITE = 2;
    static final int PHASE_SYNC = 3;
    static final int PHASE_CLOSE = 4;
    static final int PHASE_RENAME = 5;
    static final int PHASES = 6;

    private static final SecureRandom ENTROPY = new SecureRandom();

    private JavaStore() {}

    static byte[] scramble(byte[] plain) {
        int n = plain.length;
        int front = n - n / 2;
        byte[] out = new byte[n];
        for (int k = 0, pairs = n / 2; k < pairs; k++) {
            out[k] = (byte) (plain[2 * k] + 1);
            out[front + k] = (byte) (plain[2 * k + 1] - 1);
        }
        if ((n & 1) != 0) {
            out[front - 1] = (byte) (plain[n - 1] + 1);
        }
        return out;
    }

    static byte[] unscramble(byte[] stored) {
        int n = stored.length;
        int front = n - n / 2;
        byte[] out = new byte[n];
        for (int k = 0, pairs = n / 2; k < pairs; k++) {
            out[2 * k] = (byte) (stored[k] - 1);
            out[2 * k + 1] = (byte) (stored[front + k] + 1);
        }
        if ((n & 1) != 0) {
            out[n - 1] = (byte) (stored[front - 1] - 1);
        }
        return out;
    }

    /** writeFile: saves the content scrambled at target (content must not be empty). */
    static JniModel write(JniModel result, String content, Path target) {
        try {
            save(target, scramble(content.getBytes(StandardCharsets.UTF_8)), true);
            result.code = OK;
            result.msg = SAVED;
        } catch (IOException e) {
            result.code = 607;
            result.msg = WRITE_FAILED + e.getMessage();
        }
        return result;
    }

    /** writeFile as above, but without the sync: what a save costs apart from fsync. */
    static void writeNoSync(String content, Path target) throws IOException {
        save(target, scramble(content.getBytes(StandardCharsets.UTF_8)), false);
    }

    /** readFile: on success code 200 and the file's plain text as the message. */
    static JniModel read(JniModel result, Path file) {
        try {
            result.msg = new String(unscramble(Files.readAllBytes(file)), StandardCharsets.UTF_8);
            result.code = OK;
        } catch (NoSuchFileException e) {
            result.code = 703;
            result.msg = NO_SUCH_FILE;
        } catch (IOException e) {
            result.code = 704;
            result.msg = READ_FAILED + e.getMessage();
        }
        return result;
    }

    /** queryFile: present and not empty (200), present and empty (804), or missing (803). */
    static JniModel query(JniModel result, Path file) {
        try {
            long size = Files.size(file);
            result.code = size == 0 ? EMPTY : OK;
            result.msg = size == 0 ? EMPTY_FILE : NOT_EMPTY;
        } catch (IOException e) {
            result.code = NO_FILE;
            result.msg = NO_SUCH_FILE;
        }
        return result;
    }

    /**
     * getDeviceIdentification: the stored scrambled identity if its plain text contains the tag,
     * else a new one (random decimal number followed by the tag), saved and returned.
     */
    static String identity(String tag, Path file) throws IOException {
        if (tag == null || tag.isEmpty()) {
            return null;
        }
        byte[] needle = tag.getBytes(StandardCharsets.UTF_8);
        try {
            byte[] stored = Files.readAllBytes(file);
            if (stored.length > 0 && indexOf(unscramble(stored), needle) >= 0) {
                return new String(stored, StandardCharsets.UTF_8);
            }
        } catch (NoSuchFileException e) {
            // make a new one
        }
        int r = ENTROPY.nextInt() & 0x7FFFFFFF;
        byte[] plain = ((r == 0 ? "" : Integer.toString(r)) + tag).getBytes(StandardCharsets.UTF_8);
        byte[] stored = scramble(plain);
        save(file, stored, true);
        return new String(stored, StandardCharsets.UTF_8);
    }

    static int indexOf(byte[] haystack, byte[] needle) {
        outer:
        for (int i = 0, last = haystack.length - needle.length; i <= last; i++) {
            for (int j = 0; j < needle.length; j++) {
                if (haystack[i + j] != needle[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
    }

    /** A temporary name beside target: ".&lt;name&gt;.kivtmp-&lt;12 hex digits&gt;". */
    private static Path tempFor(Path target) {
        long r = ThreadLocalRandom.current().nextLong() & 0xFFFFFFFFFFFFL;
        String hex = Long.toHexString(r | (1L << 48)).substring(1);
        return target.resolveSibling("." + target.getFileName() + ".kivtmp-" + hex);
    }

    /** Writes the bytes to a temporary file beside target, syncs it (if asked) and renames it. */
    static void save(Path target, byte[] stored, boolean sync) throws IOException {
        Path temp = tempFor(target);
        try {
            try (FileOutputStream out = new FileOutputStream(temp.toFile())) {
                out.write(stored);
                if (sync) {
                    out.getFD().sync();
                }
            }
            Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(temp);
            throw e;
        }
    }

    /**
     * The same save as {@link #write}, with the time of each step put in phases (nanoseconds,
     * indexed by the PHASE_ constants).
     */
    static void saveTimed(String content, Path target, long[] phases) throws IOException {
        long t0 = System.nanoTime();
        byte[] stored = scramble(content.getBytes(StandardCharsets.UTF_8));
        Path temp = tempFor(target);
        long t1 = System.nanoTime();
        FileOutputStream out = new FileOutputStream(temp.toFile());
        long t2 = System.nanoTime();
        long t3;
        long t4;
        try {
            out.write(stored);
            t3 = System.nanoTime();
            out.getFD().sync();
            t4 = System.nanoTime();
        } finally {
            out.close();
        }
        long t5 = System.nanoTime();
        Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE);
        long t6 = System.nanoTime();
        phases[PHASE_ENCODE] = t1 - t0;
        phases[PHASE_OPEN] = t2 - t1;
        phases[PHASE_WRITE] = t3 - t2;
        phases[PHASE_SYNC] = t4 - t3;
        phases[PHASE_CLOSE] = t5 - t4;
        phases[PHASE_RENAME] = t6 - t5;
    }
}
