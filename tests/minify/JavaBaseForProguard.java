import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.URI;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Writes the running JDK's java.base classes to a jar, marked as Java 11 class files: ProGuard
 * 6.2 refuses class files newer than Java 13 even as library input, and reads from library
 * classes only their names, hierarchy and members, which it understands in these.
 * Usage: java JavaBaseForProguard.java OUT.jar
 */
public final class JavaBaseForProguard {
    public static void main(String[] args) throws IOException {
        Path base = FileSystems.getFileSystem(URI.create("jrt:/")).getPath("/modules/java.base");
        List<Path> classes;
        try (Stream<Path> files = Files.walk(base)) {
            classes = files.filter(p -> p.toString().endsWith(".class"))
                    .filter(p -> !p.endsWith("module-info.class"))
                    .collect(Collectors.toList());
        }
        try (OutputStream file = new FileOutputStream(args[0]);
                JarOutputStream jar = new JarOutputStream(file)) {
            for (Path p : classes) {
                byte[] bytes = Files.readAllBytes(p);
                bytes[6] = 0; // major version, big-endian: 55 is Java 11
                bytes[7] = 55;
                jar.putNextEntry(new JarEntry(base.relativize(p).toString()));
                jar.write(bytes);
                jar.closeEntry();
            }
        }
    }
}
