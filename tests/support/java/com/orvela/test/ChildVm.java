package com.orvela.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

/**
 * A child VM of the running one (under Wine: a second Windows VM process), with the suite's
 * class path and library path, its standard output and error collected as they come. Each start
 * costs seconds under Wine: suites there start few and reuse them.
 */
public final class ChildVm implements AutoCloseable {
    /** Generous: VMs start slowly under Wine, and CI machines are busy. */
    private static final long PATIENCE_SECONDS = 180;

    private final String command;
    private final Process process;
    private final StringBuffer out = new StringBuffer();
    private final StringBuffer err = new StringBuffer();
    private final Thread outPump;
    private final Thread errPump;

    private ChildVm(List<String> command, Map<String, String> environment) throws IOException {
        this.command = String.join(" ", command);
        ProcessBuilder builder = new ProcessBuilder(command);
        // A null value takes the variable out of the child's environment.
        environment.forEach((name, value) -> {
            if (value == null) {
                builder.environment().remove(name);
            } else {
                builder.environment().put(name, value);
            }
        });
        this.process = builder.start();
        outPump = pump(process.getInputStream(), out);
        errPump = pump(process.getErrorStream(), err);
    }

    /**
     * Starts {@code mainClass} with the given VM options, extra environment and arguments, the
     * VM itself run by the {@code prefix} command when there is one (such as prlimit).
     */
    public static ChildVm start(List<String> prefix, List<String> vmOptions,
            Map<String, String> environment, Class<?> mainClass, String... args)
            throws IOException {
        List<String> command = new ArrayList<>(prefix);
        command.add(javaExecutable());
        command.add("-Djava.library.path=" + System.getProperty("orvela.test.libpath"));
        command.addAll(vmOptions);
        command.addAll(List.of("-cp", System.getProperty("orvela.test.classpath")));
        command.add(mainClass.getName());
        command.addAll(List.of(args));
        return new ChildVm(command, environment);
    }

    /**
     * Starts {@code mainClass} as a user would: this class path alone (entries joined by the
     * platform's separator), no java.library.path.
     */
    public static ChildVm startWithClassPath(String classPath, Class<?> mainClass, String... args)
            throws IOException {
        List<String> command = new ArrayList<>(List.of(javaExecutable(), "-cp", classPath,
                mainClass.getName()));
        command.addAll(List.of(args));
        return new ChildVm(command, Map.of());
    }

    public static ChildVm start(List<String> vmOptions, Map<String, String> environment,
            Class<?> mainClass, String... args) throws IOException {
        return start(List.of(), vmOptions, environment, mainClass, args);
    }

    public static ChildVm start(Class<?> mainClass, String... args) throws IOException {
        return start(List.of(), Map.of(), mainClass, args);
    }

    /**
     * The suite's jars and libraries copied into a directory any user can read, for a child run
     * as another user (setpriv): the build tree may sit where only root can enter.
     */
    public record ReadableCopy(Path dir, String classPath, String libPath) implements AutoCloseable {
        public static ReadableCopy make() throws IOException {
            Path dir = Files.createTempDirectory("orvela-shared", PosixFilePermissions
                    .asFileAttribute(PosixFilePermissions.fromString("rwxr-xr-x")));
            List<String> jars = new ArrayList<>();
            for (String jar : System.getProperty("orvela.test.classpath").split(File.pathSeparator)) {
                Path copy = dir.resolve(Path.of(jar).getFileName());
                Files.copy(Path.of(jar), copy);
                jars.add(copy.toString());
            }
            for (String libDir : System.getProperty("orvela.test.libpath").split(File.pathSeparator)) {
                try (var libs = Files.list(Path.of(libDir))) {
                    for (Path lib : libs.filter(f -> f.toString().endsWith(".so")).toList()) {
                        Files.copy(lib, dir.resolve(lib.getFileName()));
                    }
                }
            }
            return new ReadableCopy(dir, String.join(File.pathSeparator, jars), dir.toString());
        }

        /** The command that runs {@code mainClass} from the copy. */
        public List<String> command(Class<?> mainClass, String... args) {
            List<String> command = new ArrayList<>(List.of(javaExecutable(),
                    "-Djava.library.path=" + libPath, "-cp", classPath, mainClass.getName()));
            command.addAll(List.of(args));
            return command;
        }

        @Override
        public void close() throws IOException {
            try (var files = Files.list(dir)) {
                for (Path f : files.toList()) Files.delete(f);
            }
            Files.delete(dir);
        }
    }

    /** Starts {@code mainClass} from {@code copy}, the VM run by the {@code prefix} command. */
    public static ChildVm startAs(List<String> prefix, ReadableCopy copy, Class<?> mainClass,
            String... args) throws IOException {
        List<String> command = new ArrayList<>(prefix);
        command.addAll(copy.command(mainClass, args));
        return new ChildVm(command, Map.of());
    }

    private static String javaExecutable() {
        return System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
    }

    /** Waits until both streams together satisfy {@code seen}; fails if the child ends or stalls. */
    public ChildVm awaitOutput(Predicate<ChildVm> seen) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(PATIENCE_SECONDS);
        while (!seen.test(this)) {
            assertTrue(process.isAlive() && System.nanoTime() < deadline, this::describe);
            Thread.sleep(20);
        }
        return this;
    }

    /** Waits until standard output holds {@code line} as a whole line. */
    public ChildVm awaitLine(String line) throws InterruptedException {
        return awaitOutput(vm -> vm.out().lines().anyMatch(line::equals));
    }

    /** Sends one line to the child's standard input. */
    public void send(String line) throws IOException {
        OutputStream in = process.getOutputStream();
        in.write((line + "\n").getBytes(StandardCharsets.UTF_8));
        in.flush();
    }

    /** Waits for the child to end and expects exit status 0. */
    public ChildVm awaitSuccess() throws Exception {
        if (!process.waitFor(PATIENCE_SECONDS, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            process.waitFor();
        }
        outPump.join();
        errPump.join();
        assertEquals(0, process.exitValue(), this::describe);
        return this;
    }

    /** Closes the child's standard input, its sign to finish. */
    public void release() throws IOException {
        process.getOutputStream().close();
    }

    public long pid() {
        return process.pid();
    }

    public String out() {
        return out.toString().replace("\r\n", "\n");
    }

    public String err() {
        return err.toString().replace("\r\n", "\n");
    }

    public String describe() {
        return "child " + command + "\n--- stdout\n" + out() + "\n--- stderr\n" + err();
    }

    /** Ends a child that is still running (a failed test's), and waits for it. */
    @Override
    public void close() {
        if (!process.isAlive()) return;
        process.destroyForcibly();
        try {
            process.waitFor(PATIENCE_SECONDS, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private static Thread pump(InputStream in, StringBuffer into) {
        Thread pump = new Thread(() -> {
            byte[] buf = new byte[8192];
            try {
                for (int n; (n = in.read(buf)) > 0;) {
                    into.append(new String(buf, 0, n, StandardCharsets.UTF_8));
                }
            } catch (IOException e) {
                into.append("[read failed: ").append(e).append(']');
            }
        });
        pump.setDaemon(true);
        pump.start();
        return pump;
    }
}
