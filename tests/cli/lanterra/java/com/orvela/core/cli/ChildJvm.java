package com.orvela.core.cli;

import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;

/** A second Java VM running one of the test's main classes against the built library. */
final class ChildJvm {
    private final Process process;
    private final CompletableFuture<String> stdout;
    private final CompletableFuture<String> stderr;

    private ChildJvm(Process process) {
        this.process = process;
        this.stdout = drain(process.getInputStream());
        this.stderr = drain(process.getErrorStream());
    }

    /** Starts {@code mainClass} with the test's class and library path. */
    static ChildJvm start(Map<String, String> env, Class<?> mainClass, String... args)
            throws IOException {
        return start(List.of(), System.getProperty("orvela.test.classpath"),
                System.getProperty("orvela.test.libpath"), env, mainClass, args);
    }

    /**
     * Starts {@code mainClass} as another user ({@code userPrefix} is the command that switches,
     * such as setpriv), from copies of the jars and the library in {@code dir}, which that user
     * can read wherever the build tree lies.
     */
    static ChildJvm startAs(List<String> userPrefix, Path dir, Class<?> mainClass, String... args)
            throws IOException {
        List<String> classpath = new ArrayList<>();
        for (String jar : System.getProperty("orvela.test.classpath").split(":")) {
            classpath.add(copyReadable(Path.of(jar), dir).toString());
        }
        for (String libDir : System.getProperty("orvela.test.libpath").split(":")) {
            copyReadable(Path.of(libDir, "libLanterra.so"), dir);
        }
        return start(userPrefix, String.join(":", classpath), dir.toString(), Map.of(), mainClass,
                args);
    }

    private static ChildJvm start(List<String> prefix, String classpath, String libpath,
            Map<String, String> env, Class<?> mainClass, String... args) throws IOException {
        List<String> command = new ArrayList<>(prefix);
        command.add(System.getProperty("java.home") + "/bin/java");
        command.add("-Djava.library.path=" + libpath);
        command.add("-cp");
        command.add(classpath);
        command.add(mainClass.getName());
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command);
        builder.environment().remove("ZELKCLI_DEBUG");
        builder.environment().putAll(env);
        return new ChildJvm(builder.start());
    }

    private static Path copyReadable(Path file, Path dir) throws IOException {
        Path copy = dir.resolve(file.getFileName());
        if (Files.exists(file) && !Files.exists(copy)) {
            Files.copy(file, copy, StandardCopyOption.COPY_ATTRIBUTES);
            copy.toFile().setReadable(true, false);
        }
        return copy;
    }

    private static CompletableFuture<String> drain(InputStream in) {
        return CompletableFuture.supplyAsync(() -> {
            try {
                return new String(in.readAllBytes(), StandardCharsets.UTF_8);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        });
    }

    long pid() {
        return process.pid();
    }

    /**
     * Waits for the child to end and returns its exit status (-1 when it had to be killed). A
     * client socket file the child left behind is removed.
     */
    int waitFor() throws InterruptedException, IOException {
        boolean ended = process.waitFor(120, TimeUnit.SECONDS);
        if (!ended) process.destroyForcibly().waitFor();
        Files.deleteIfExists(Path.of("/var/tmp/" + process.pid()));
        return ended ? process.exitValue() : -1;
    }

    String stdout() {
        return stdout.join();
    }

    String stderr() {
        return stderr.join();
    }

    /** Everything the child wrote, for failure messages. */
    String output() {
        return "stdout:\n" + stdout() + "\nstderr:\n" + stderr();
    }
}
