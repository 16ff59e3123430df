package com.orvela.test.icmp;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.HopListener;
import com.orvela.core.icmp.LatencyListener;
import java.net.InetAddress;
import java.net.UnknownHostException;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Runs traces and latency probes in a child VM (inside a test namespace) and prints every report
 * on a line of its own, for the tests to read; after each command, "took MS": the milliseconds
 * from its (last) native call to its last report, or to its end when it made none. Each argument is one command, its fields separated by commas:
 * <pre>
 *   trace,ID,DEST,TTL,SIZE,TOS,TIMEOUT        one "hop ..." line per report, then "end"
 *   trace-codes,ID,DEST,TTL,SIZE,TOS,TIMEOUT  as trace, with an "unreachable ID SEQ ADDRESS
 *                                             CODE" line per handleUnreachable call
 *   trace-throw,ID,DEST,TTL,SIZE,TOS,TIMEOUT  the listener throws on its first report
 *   trace6-codes,ID,DEST,TTL,SIZE,TOS,TIMEOUT as trace-codes to an IPv6 host (getTrace6); no
 *                                             address is "-"
 *   latency,DEST,TTL,SIZE,TIMEOUT             one "latency ..." line
 *   latency6,DEST,TTL,SIZE,TIMEOUT            the same to an IPv6 host (getLatency6), the
 *                                             destination printed twice
 *   sleep,MS                                  waits
 *   latency-under-traces,DEST,COUNT           COUNT latency probes to DEST while two threads
 *                                             trace DEST's first two hops with probes whose UDP
 *                                             length and checksum read as the next probe's
 *                                             identifier and try 0; prints only failed hops
 *                                             (the first command of the process)
 *   latency-hosts,FIRST,COUNT,THREADS         one latency probe to each of COUNT consecutive
 *                                             hosts from FIRST, from THREADS threads at once:
 *                                             one "latency ..." line each
 * </pre>
 */
public final class ProbeMain {
    private ProbeMain() {}

    public static void main(String[] args) throws Exception {
        // Loading the library is not part of the first command's time.
        Class.forName(ASM.class.getName());
        for (String command : args) {
            String[] f = command.split(",");
            callStart = System.nanoTime();
            lastReport = 0;
            switch (f[0]) {
                case "trace" -> {
                    trace(f, ProbeMain::printHop);
                    System.out.println("end");
                }
                case "trace-codes" -> {
                    trace(f, new HopListener() {
                        @Override
                        public void handleHop(int id, int seq, int address, int rc,
                                double latency, int datalen, int dest, int done) {
                            printHop(id, seq, address, rc, latency, datalen, dest, done);
                        }

                        @Override
                        public void handleUnreachable(int id, int seq, int address, int code) {
                            System.out.println("unreachable " + id + " " + seq + " "
                                    + dotted(address) + " " + code);
                        }
                    });
                    System.out.println("end");
                }
                case "trace-throw" -> {
                    try {
                        trace(f, (id, seq, address, rc, latency, datalen, dest, done) -> {
                            printHop(id, seq, address, rc, latency, datalen, dest, done);
                            throw new IllegalStateException("stop");
                        });
                        System.out.println("returned");
                    } catch (IllegalStateException e) {
                        System.out.println("threw " + e.getMessage());
                    }
                }
                case "trace6-codes" -> {
                    ASM.getTrace6(Integer.parseInt(f[1]), address6(f[2]), Integer.parseInt(f[3]),
                            Long.parseLong(f[4]), Integer.parseInt(f[5]), Integer.parseInt(f[6]),
                            new HopListener() {
                                @Override
                                public void handleHop(int id, int seq, int address, int rc,
                                        double latency, int datalen, int dest, int done) {
                                    throw new IllegalStateException("an IPv4 report");
                                }

                                @Override
                                public void handleHop6(int id, int seq, byte[] address, int rc,
                                        double latency, int datalen, byte[] dest, int done) {
                                    lastReport = System.nanoTime();
                                    System.out.println("hop " + id + " " + seq + " "
                                            + text6(address) + " " + rc + " " + latency + " "
                                            + datalen + " " + text6(dest) + " " + done);
                                }

                                @Override
                                public void handleUnreachable6(int id, int seq, byte[] address,
                                        int code) {
                                    System.out.println("unreachable " + id + " " + seq + " "
                                            + text6(address) + " " + code);
                                }
                            });
                    System.out.println("end");
                }
                case "latency" -> latency(address(f[1]), Integer.parseInt(f[2]),
                        Long.parseLong(f[3]), Integer.parseInt(f[4]));
                case "latency6" -> ASM.getLatency6(0, address6(f[1]), Integer.parseInt(f[2]),
                        Long.parseLong(f[3]), 0, Integer.parseInt(f[4]), new LatencyListener() {
                            @Override
                            public void handleLatency(int id, int seq, int dest, int rc,
                                    double latency, int datalen, int dest2) {
                                throw new IllegalStateException("an IPv4 report");
                            }

                            @Override
                            public void handleLatency6(int id, int seq, byte[] dest, int rc,
                                    double latency, int datalen) {
                                lastReport = System.nanoTime();
                                System.out.println("latency " + id + " " + seq + " "
                                        + text6(dest) + " " + rc + " " + latency + " " + datalen
                                        + " " + text6(dest));
                            }
                        });
                case "sleep" -> Thread.sleep(Long.parseLong(f[1]));
                case "latency-under-traces" -> latencyUnderTraces(address(f[1]),
                        Integer.parseInt(f[2]));
                case "latency-hosts" -> latencyHosts(address(f[1]), Integer.parseInt(f[2]),
                        Integer.parseInt(f[3]));
                default -> throw new IllegalArgumentException(command);
            }
            long end = lastReport != 0 ? lastReport : System.nanoTime();
            System.out.println("took " + (end - callStart) / 1_000_000);
        }
        System.out.flush();
    }

    private static int latency(long dest, int ttl, long size, int timeout) {
        int[] id = {0};
        LatencyListener listener = (i, seq, d, rc, latency, datalen, d2) -> {
            lastReport = System.nanoTime();
            id[0] = i;
            synchronized (System.out) {
                System.out.println("latency " + i + " " + seq + " " + dotted(d) + " " + rc + " "
                        + latency + " " + datalen + " " + dotted(d2));
            }
        };
        callStart = System.nanoTime();
        ASM.getLatency(0, dest, ttl, size, 0, timeout, listener);
        return id[0];
    }

    private static volatile long callStart;
    private static volatile long lastReport;
    private static volatile int nextLatencyId = 101;
    private static volatile boolean probing = true;

    private static void latencyUnderTraces(long dest, int count) throws InterruptedException {
        // Two tracers over the first two hops: a steady stream of router errors.
        List<Thread> tracers = new ArrayList<>();
        for (int t = 0; t < 2; t++) {
            int traceId = 31000 + t;
            tracers.add(new Thread(() -> {
                while (probing) {
                    ASM.getTrace(traceId, dest, 2, nextLatencyId + 20, -1, 2000,
                            (id, seq, address, rc, latency, datalen, d, done) -> {
                                if (rc == 0) return;
                                synchronized (System.out) {
                                    printHop(id, seq, address, rc, latency, datalen, d, done);
                                }
                            });
                }
            }));
        }
        for (Thread t : tracers) t.start();
        try {
            Thread.sleep(200);
            for (int i = 0; i < count; i++) nextLatencyId = latency(dest, 64, 64, 2000) + 1;
        } finally {
            probing = false;
            for (Thread t : tracers) t.join();
        }
    }

    private static void latencyHosts(long first, int count, int threads)
            throws InterruptedException {
        AtomicInteger next = new AtomicInteger();
        List<Thread> probers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            probers.add(new Thread(() -> {
                for (int k; (k = next.getAndIncrement()) < count; ) latency(first + k, 64, 64, 2000);
            }));
        }
        for (Thread t : probers) t.start();
        for (Thread t : probers) t.join();
    }

    private static void trace(String[] f, HopListener listener) {
        callStart = System.nanoTime();
        ASM.getTrace(Integer.parseInt(f[1]), address(f[2]), Integer.parseInt(f[3]),
                Long.parseLong(f[4]), Integer.parseInt(f[5]), Integer.parseInt(f[6]), listener);
    }

    private static void printHop(int id, int seq, int address, int rc, double latency,
            int datalen, int dest, int done) {
        lastReport = System.nanoTime();
        System.out.println("hop " + id + " " + seq + " " + dotted(address) + " " + rc + " "
                + latency + " " + datalen + " " + dotted(dest) + " " + done);
    }

    /** The integer form of a dotted address: first number in the most significant byte. */
    public static long address(String dotted) {
        long value = 0;
        for (String part : dotted.split("\\.")) {
            value = (value << 8) | Integer.parseInt(part);
        }
        return value;
    }

    /** The 16 bytes of a numeric IPv6 address (no name look-up). */
    public static byte[] address6(String numeric) {
        try {
            return InetAddress.getByName(numeric).getAddress();
        } catch (UnknownHostException e) {
            throw new IllegalArgumentException(numeric, e);
        }
    }

    /** An IPv6 address in Java's text form, "-" for none. */
    public static String text6(byte[] address) {
        if (address == null) return "-";
        try {
            return InetAddress.getByAddress(address).getHostAddress();
        } catch (UnknownHostException e) {
            throw new IllegalArgumentException(e);
        }
    }

    public static String dotted(int address) {
        return ((address >>> 24) & 0xff) + "." + ((address >>> 16) & 0xff) + "."
                + ((address >>> 8) & 0xff) + "." + (address & 0xff);
    }
}
