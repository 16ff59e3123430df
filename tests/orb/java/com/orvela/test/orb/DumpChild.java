package com.orvela.test.orb;

import com.orvela.core.cli.Stackprinter;
import com.orvela.core.orb.Orb;
import com.orvela.test.OpenDescriptors;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.locks.LockSupport;
import java.util.stream.Collectors;

/**
 * A VM of its own for one scenario, so that its standard error, its descriptors and its signal
 * handling can be watched from outside. Arguments: the class ("Orb" or "Stackprinter"), the
 * scenario, and its file path. Results go to standard output, one line each.
 */
public final class DumpChild {
    static final String WITNESS_THREAD = "orvela-dump-witness";
    static final String AFTER_MARKER = "written to stderr after dump1 returned";
    static final boolean WINDOWS = System.getProperty("os.name").startsWith("Windows");
    static final int DUMP0_CALLERS = 4;

    interface Dumper {
        void dump0();

        void dump1(String filename) throws IOException;
    }

    interface Call {
        void run() throws IOException;
    }

    private static final Dumper ORB = new Dumper() {
        public void dump0() { Orb.dump0(); }
        public void dump1(String filename) throws IOException { Orb.dump1(filename); }
    };
    private static final Dumper STACKPRINTER = new Dumper() {
        public void dump0() { Stackprinter.dump0(); }
        public void dump1(String filename) throws IOException { Stackprinter.dump1(filename); }
    };

    public static void main(String[] args) throws Exception {
        boolean orb = args[0].equals("Orb");
        Dumper dumper = orb ? ORB : STACKPRINTER;
        // The other class, whose natives another library carries.
        Dumper other = orb ? STACKPRINTER : ORB;
        // The first file channel makes the JDK open a descriptor of its own for good; so does
        // the first class of a platform module on a 32-bit VM, which reads its module image
        // through a descriptor of its own instead of mapping it whole. Both happen here, before
        // anything counts descriptors. (Descriptors are counted on Unix only, and the Windows
        // runtime has no java.sql.)
        if (!WINDOWS) {
            Files.readAllBytes(Path.of("/proc/self/status"));
            Class.forName("java.sql.Date", false, ClassLoader.getPlatformClassLoader());
        }
        // The Windows VM keeps the handles of ended threads for reuse: a few threads at once
        // here, so that the scenarios' threads find them and the count only shows our own.
        warmUpThreads(DUMP0_CALLERS + 1);
        startWitness();
        switch (args[1]) {
            case "dump0" -> dump0UntilReleased(dumper);
            case "overlap" -> overlapping(dumper, other, Path.of(args[2]), Path.of(args[3]));
            case "overlapThenDump0" -> {
                overlapping(dumper, other, Path.of(args[2]), Path.of(args[3]));
                // Where standard error is now, shown by a dump that goes there.
                onCallerThread(dumper::dump0);
                System.out.println("dump0 returned");
            }
            case "noHandler" -> noHandler(dumper, Path.of(args[2]));
            default -> throw new IllegalArgumentException(args[1]);
        }
    }

    private static void warmUpThreads(int count) throws InterruptedException {
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < count; ++i) {
            threads.add(new Thread(() -> LockSupport.parkNanos(100_000_000L)));
        }
        for (Thread thread : threads) thread.start();
        for (Thread thread : threads) thread.join();
    }

    /** A thread of the program's own, to be found by name in the dump. */
    private static void startWitness() {
        Thread witness = new Thread(() -> {
            while (true) LockSupport.park();
        }, WITNESS_THREAD);
        witness.setDaemon(true);
        witness.start();
    }

    /** The dump is asked for from a thread other than main, like a management command would. */
    private static void onCallerThread(Call call) throws Exception {
        Exception[] failure = new Exception[1];
        Thread caller = new Thread(() -> {
            try {
                call.run();
            } catch (Exception e) {
                failure[0] = e;
            }
        }, "orvela-dump-caller");
        caller.start();
        caller.join();
        if (failure[0] != null) throw failure[0];
    }

    /** dump0 from several threads at once, as management commands arriving together. */
    private static void dump0UntilReleased(Dumper dumper) throws Exception {
        String before = openDescriptors();
        List<Thread> callers = new ArrayList<>();
        for (int i = 0; i < DUMP0_CALLERS; ++i) {
            callers.add(new Thread(dumper::dump0, "orvela-dump-caller-" + i));
        }
        for (Thread caller : callers) caller.start();
        for (Thread caller : callers) caller.join();
        System.out.println("descriptors " + before + " " + openDescriptors());
        System.out.println("dump0 returned");
        // The parent closes standard input once it has seen the dump.
        System.in.readAllBytes();
    }

    /**
     * A second dump1, through the other class and so through another library, asked for while
     * the first one's file stands in for standard error: it waits its turn, so each file gets a
     * dump and standard error is back afterwards.
     */
    private static void overlapping(Dumper dumper, Dumper other, Path first, Path second)
            throws Exception {
        String before = openDescriptors();
        Thread firstCall = new Thread(() -> {
            try {
                dumper.dump1(first.toString());
            } catch (IOException e) {
                System.out.println("first dump1 threw " + e);
            }
        }, "orvela-dump-first");
        firstCall.start();
        while (!contains(first, "Full thread dump")) LockSupport.parkNanos(20_000_000);
        onCallerThread(() -> other.dump1(second.toString()));
        firstCall.join();
        System.err.println(AFTER_MARKER);
        System.out.println("descriptors " + before + " " + openDescriptors());
    }

    private static void noHandler(Dumper dumper, Path file) throws Exception {
        onCallerThread(dumper::dump0);
        System.out.println("dump0 returned");
        try {
            onCallerThread(() -> dumper.dump1(file.toString()));
            System.out.println("dump1 returned");
        } catch (IOException e) {
            System.out.println("dump1 threw " + e.getMessage());
        }
        System.out.println("file exists " + Files.exists(file));
    }

    /**
     * The process's open descriptors with what each refers to, as one line; on Windows the
     * numbers of kernel handles and C runtime descriptors. Taken once they hold still.
     */
    static String openDescriptors() {
        if (WINDOWS) return WindowsCensus.settled();
        return OpenDescriptors.settled().entrySet().stream().map(Object::toString)
                .collect(Collectors.joining(","));
    }

    private static boolean contains(Path file, String text) {
        try {
            return new String(Files.readAllBytes(file), StandardCharsets.UTF_8).contains(text);
        } catch (IOException e) {
            return false;
        }
    }
}
