import com.orvela.core.icmp.ASM;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;

/**
 * Probes `count` consecutive addresses from `first`, each once, with ASM.getLatency (2 s limit)
 * from `threads` threads that take the next address as they finish one, for each COUNT:THREADS
 * argument in turn, all in this one VM. The threads are started and waiting before the clock
 * starts, so the figures cover the probes only.
 * Usage: ParallelBench FIRST-DOTTED COUNT:THREADS... Prints one line per argument:
 *   count threads answered wall-seconds cpu-seconds retried
 * answered: reports with status 0 for the address probed, each address once; retried: probes
 * that took more than one try (a reply lost, or late past a try's share of the limit); cpu: the
 * processor time of every thread of the process over the same span (the kernel's nanosecond
 * counts in /proc/self/task/N/schedstat).
 */
public final class ParallelBench {
    public static void main(String[] args) throws Exception {
        long first = address(args[0]);
        // The first calls load classes and the library and compile the listener: not timed.
        run(first, 64, 8);
        for (int i = 1; i < args.length; i++) {
            String[] f = args[i].split(":");
            int count = Integer.parseInt(f[0]);
            int threads = Integer.parseInt(f[1]);
            System.gc();
            double[] r = run(first, count, threads);
            System.out.printf("%d %d %d %.6f %.6f %d%n", count, threads, (int) r[0], r[1], r[2],
                    (int) r[3]);
        }
    }

    /** Returns answered, wall seconds, processor seconds and retried. */
    private static double[] run(long first, int count, int threads) throws Exception {
        AtomicIntegerArray answers = new AtomicIntegerArray(count);
        AtomicInteger next = new AtomicInteger();
        AtomicInteger retried = new AtomicInteger();
        CountDownLatch ready = new CountDownLatch(threads);
        CountDownLatch go = new CountDownLatch(1);
        CountDownLatch finished = new CountDownLatch(threads);
        // The threads stay until the processor time is read: an ended thread's time is gone.
        CountDownLatch release = new CountDownLatch(1);
        List<Thread> probers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            Thread prober = new Thread(() -> {
                ready.countDown();
                try {
                    go.await();
                } catch (InterruptedException e) {
                    return;
                }
                for (int k; (k = next.getAndIncrement()) < count; ) {
                    int host = (int) (first + k);
                    int index = k;
                    ASM.getLatency(0, host & 0xFFFFFFFFL, 64, 64, 0, 2000,
                            (id, seq, dest, rc, latency, datalen, dest2) -> {
                                if (rc == 0 && dest == host && dest2 == host) {
                                    answers.incrementAndGet(index);
                                }
                                if (seq > 1) retried.incrementAndGet();
                            });
                }
                finished.countDown();
                try {
                    release.await();
                } catch (InterruptedException e) {
                    // ending anyway
                }
            }, "prober " + t);
            prober.start();
            probers.add(prober);
        }
        ready.await();
        long cpuStart = processCpuNanos();
        long start = System.nanoTime();
        go.countDown();
        finished.await();
        long end = System.nanoTime();
        long cpuEnd = processCpuNanos();
        release.countDown();
        for (Thread prober : probers) prober.join();
        int answered = 0;
        for (int k = 0; k < count; k++) {
            if (answers.get(k) == 1) answered++;
        }
        return new double[] {answered, (end - start) / 1e9, (cpuEnd - cpuStart) / 1e9,
                retried.get()};
    }

    /** The processor time of every thread of this process so far, in nanoseconds. */
    private static long processCpuNanos() throws IOException {
        long sum = 0;
        try (var tasks = Files.list(Path.of("/proc/self/task"))) {
            for (Path task : tasks.toList()) {
                try {
                    String stat = Files.readString(task.resolve("schedstat"));
                    sum += Long.parseLong(stat.substring(0, stat.indexOf(' ')));
                } catch (IOException endedMeanwhile) {
                    // a thread that has ended since the listing
                }
            }
        }
        return sum;
    }

    private static long address(String dotted) {
        long value = 0;
        for (String part : dotted.split("\\.")) value = (value << 8) | Integer.parseInt(part);
        return value;
    }
}
