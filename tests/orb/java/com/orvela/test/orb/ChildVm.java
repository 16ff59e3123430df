package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

/** A child VM running {@link DumpChild}, its standard output and error collected as they come. */
final class ChildVm {
    /** Generous: a redirected dump takes ten seconds, and CI machines are busy. */
    private static final long PATIENCE_SECONDS = 120;

    private final String command;
    private final Process process;
    private final StringBuffer out = new StringBuffer();
    private final StringBuffer err = new StringBuffer();
    private final Thread outPump;
    private final Thread errPump;

    private ChildVm(List<String> command) throws IOException {
        this.command = String.join(" ", command);
        this.process = new ProcessBuilder(command).start();
        outPump = pump(process.getInputStream(), out);
        errPump = pump(process.getErrorStream(), err);
    }

    /**
     * Starts DumpChild with the given VM options and arguments; HotSpot is told to print its
     * thread dumps on standard error, where the natives expect them.
     */
    static ChildVm start(List<String> prefix, List<String> vmOptions, String... args)
            throws IOException {
        List<String> command = new ArrayList<>(prefix);
        command.add(System.getProperty("java.home") + "/bin/java");
        command.add("-XX:+DisplayVMOutputToStderr");
        command.add("-Djava.library.path=" + System.getProperty("orvela.test.libpath"));
        command.addAll(vmOptions);
        command.addAll(List.of("-cp", System.getProperty("orvela.test.classpath")));
        command.add(DumpChild.class.getName());
        command.addAll(List.of(args));
        return new ChildVm(command);
    }

    static ChildVm start(String... args) throws IOException {
        return start(List.of(), List.of(), args);
    }

    /** Waits for the child to end and expects it to end normally. */
    ChildVm awaitSuccess() throws Exception {
        if (!process.waitFor(PATIENCE_SECONDS, TimeUnit.SECONDS)) {
            process.destroyForcibly();
            process.waitFor();
        }
        outPump.join();
        errPump.join();
        assertEquals(0, process.exitValue(), this::describe);
        return this;
    }

    /** Waits until both streams together satisfy `seen`; fails if the child ends or stalls. */
    void awaitOutput(Predicate<ChildVm> seen) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(PATIENCE_SECONDS);
        while (!seen.test(this)) {
            assertTrue(process.isAlive() && System.nanoTime() < deadline, this::describe);
            Thread.sleep(50);
        }
    }

    /** Closes the child's standard input, its sign to finish. */
    void release() throws IOException {
        process.getOutputStream().close();
    }

    String out() {
        return out.toString();
    }

    String err() {
        return err.toString();
    }

    String describe() {
        return "child " + command + "\n--- stdout\n" + out
                + "\n--- stderr\n" + err;
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
