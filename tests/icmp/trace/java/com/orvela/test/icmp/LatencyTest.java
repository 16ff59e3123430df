package com.orvela.test.icmp;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.HopListener;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.LatencyListener;
import com.orvela.test.OpenDescriptors;
import com.orvela.test.icmp.Topology.Latency;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;

/** Latency probes to loopback (in this VM) and across a namespace chain (in child VMs). */
class LatencyTest extends Topology.Chain {
    private static final long LOOPBACK = 0x7f000001L;

    /** A listener that adds every report, IPv4 or IPv6, to `reports`. */
    private static LatencyListener recording(List<Latency> reports) {
        return new LatencyListener() {
            @Override
            public void handleLatency(int id, int seq, int dest, int rc, double ms, int len,
                    int dest2) {
                reports.add(new Latency(id, seq, ProbeMain.dotted(dest), rc, ms, len,
                        ProbeMain.dotted(dest2)));
            }

            @Override
            public void handleLatency6(int id, int seq, byte[] dest, int rc, double ms,
                    int len) {
                String to = ProbeMain.text6(dest);
                reports.add(new Latency(id, seq, to, rc, ms, len, to));
            }
        };
    }

    /** The one report of a probe to this host's IPv4 or IPv6 loopback address. */
    private static Latency probeLoopback(boolean ipv6, long size) {
        List<Latency> reports = new ArrayList<>();
        if (ipv6) {
            ASM.getLatency6(0, ProbeMain.address6("::1"), 64, size, 0, 2000, recording(reports));
        } else {
            ASM.getLatency(0, LOOPBACK, 64, size, 0, 2000, recording(reports));
        }
        assertEquals(1, reports.size(), reports.toString());
        return reports.get(0);
    }

    private static void assertAnsweredAtFirstTry(Latency r, String dest) {
        assertEquals(0, r.rc(), r.toString());
        assertEquals(1, r.seq());
        assertEquals(dest, r.dest());
        assertEquals(dest, r.dest2());
        assertTrue(r.latency() >= 0, r.toString());
        double micros = r.latency() * 1000;
        assertEquals(Math.rint(micros), micros, 1e-6, "at most three decimals: " + r);
    }

    @Test
    void aHostAcrossRoutersAnswersWithIdentifiersFrom101() throws Exception {
        String dest = net.destination();
        List<Latency> reports = Latency.of(net.probe("latency," + dest + ",64,10,2000",
                "latency," + dest + ",0,5000,2000", "latency," + dest + ",64,-5,2000",
                "latency," + dest + ",64,100,2000"));
        assertEquals(List.of(101, 102, 103, 104), reports.stream().map(Latency::id).toList());
        assertEquals(List.of(64, 1024, 64, 100), reports.stream().map(Latency::datalen).toList());
        for (Latency r : reports) assertAnsweredAtFirstTry(r, dest);
    }

    @Test
    void anUnreachableHostEndsEachTryAtOnce() throws Exception {
        long start = System.nanoTime();
        Latency r = Latency.of(net.probe("latency,198.19.1.1,64,64,30000")).get(0);
        long millis = (System.nanoTime() - start) / 1_000_000;
        assertEquals(-1, r.rc());
        assertEquals(3, r.seq());
        assertEquals(0.0, r.latency());
        // A try that waited for its time-out would alone take 30 s.
        assertTrue(millis < 30000, millis + " ms");
    }

    @Test
    void twoProcessesProbingAtOnceEachReportOnlyTheirOwnHost() throws Exception {
        // Both start at identifier 101; the silent host's probe must not take the other's reply.
        List<List<String>> out = net.probeAtOnce(List.of(
                List.of("latency,198.19.3.1,64,64,3000"),
                List.of("sleep,500", "latency,198.18.0.2,64,64,3000")));
        Latency silent = Latency.of(out.get(0)).get(0);
        Latency answering = Latency.of(out.get(1)).get(0);
        assertEquals(List.of(101, -1, 3), List.of(silent.id(), silent.rc(), silent.seq()),
                silent.toString());
        assertEquals(101, answering.id());
        assertAnsweredAtFirstTry(answering, "198.18.0.2");
    }

    @Test
    void probesUnderARunningTraceTakeOnlyTheirOwnReplies() throws Exception {
        // The trace's errors quote UDP length and checksum where an echo request has its
        // identifier and sequence number: they read as the latency probe's first try.
        String dest = net.destination();
        List<String> lines = net.probe("latency-under-traces," + dest + ",50");
        List<Latency> reports = Latency.of(lines);
        assertEquals(50, reports.size());
        for (Latency r : reports) assertAnsweredAtFirstTry(r, dest);
        assertEquals(List.of(), Topology.Hop.of(lines)); // and every hop of the traces was answered
    }

    @Test
    void sixtyFourThreadsProbingAThousandHostsEachGetTheirOwnHostsReply() throws Exception {
        // The client and, on the same segment, a destination that answers all of them.
        Topology many = new Topology("hosts", 0);
        Set<String> expected = new HashSet<>();
        for (int k = 0; k < 1024; k++) expected.add("198.18." + (16 + k / 256) + "." + k % 256);
        try {
            many.allowPingGroups(65534, 65534);
            // As root on raw sockets, then as an ordinary user on datagram sockets.
            for (List<String> user : List.of(List.<String>of(), Topology.NOBODY)) {
                Set<String> hosts = new HashSet<>();
                for (Latency r : Latency.of(many.probeAs(user, "latency-hosts,198.18.16.0,1024,64"))) {
                    assertEquals(List.of(0, r.dest()), List.of(r.rc(), r.dest2()), r.toString());
                    assertTrue(hosts.add(r.dest()), "reported twice: " + r);
                }
                assertEquals(expected, hosts, user.toString());
            }
        } finally {
            many.remove();
        }
    }

    @Test
    void theProbesSocketsAreClosedOnExec() throws Exception {
        // The first probe of the process also opens the one socket that keeps the kernel's
        // receive stamps on; it stays, so it is counted before.
        ASM.getLatency(0, LOOPBACK, 64, 64, 0, 2000, (id, seq, dest, rc, latency, len, d2) -> {});
        Set<Integer> before = openSockets();
        List<String> seen = new ArrayList<>();
        ASM.getLatency(0, LOOPBACK, 64, 64, 0, 2000,
                (id, seq, dest, rc, latency, datalen, dest2) -> seen.addAll(newSockets(before)));
        ASM.getTrace(4243, LOOPBACK, 0, 64, -1, 2000,
                (id, seq, address, rc, latency, datalen, dest, done) -> seen.addAll(
                        newSockets(before)));
        assertEquals(4, seen.size(), seen.toString()); // a send and a receive socket each
        for (String socket : seen) assertTrue(socket.endsWith(" close-on-exec"), socket);
    }

    /** The descriptors of this process that are sockets. */
    private static Set<Integer> openSockets() {
        Set<Integer> sockets = new HashSet<>();
        OpenDescriptors.list().forEach((fd, target) -> {
            if (target.startsWith("socket:")) sockets.add(fd);
        });
        return sockets;
    }

    /** The sockets opened since `before`, each as "FD" or "FD close-on-exec". */
    private static List<String> newSockets(Set<Integer> before) {
        try {
            List<String> added = new ArrayList<>();
            for (int fd : openSockets()) {
                if (before.contains(fd)) continue;
                String flags = Files.readAllLines(Path.of("/proc/self/fdinfo/" + fd)).stream()
                        .filter(l -> l.startsWith("flags:")).findFirst().orElseThrow();
                boolean cloexec = (Long.parseLong(flags.substring(6).trim(), 8) & 02000000) != 0;
                added.add(fd + (cloexec ? " close-on-exec" : ""));
            }
            return added;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    @Test
    void identifiersRunUpTo65535ThenStartAgainAt100SkippingThePingIdentifier() {
        // This process's pings carry its id: a probe with that identifier would be reported
        // to the ping observer as one of them.
        int pingId = (int) (ProcessHandle.current().pid() & 0xFFFF);
        int last = probeLoopback(false, 64).id();
        for (int calls = 0; last != 65535 && calls < 70000; calls++) {
            int id = probeLoopback(false, 64).id();
            assertEquals(last + 1 == pingId ? last + 2 : last + 1, id);
            last = id;
        }
        assertEquals(65535, last);
        assertEquals(100, probeLoopback(false, 64).id());
        assertEquals(101, probeLoopback(false, 64).id());
    }

    @Test
    void concurrentProbesTakeDistinctIdentifiers() throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(8);
        try {
            List<Future<Latency>> results = new ArrayList<>();
            // IPv4 and IPv6 probes take their identifiers from the same counter.
            for (int i = 0; i < 40; i++) {
                boolean ipv6 = i % 2 == 1;
                results.add(pool.submit(() -> probeLoopback(ipv6, 64)));
            }
            Set<Integer> ids = new HashSet<>();
            for (Future<Latency> f : results) {
                Latency r = f.get();
                assertEquals(0, r.rc(), r.toString());
                ids.add(r.id());
            }
            assertEquals(40, ids.size());
        } finally {
            pool.shutdownNow();
        }
    }

    @Test
    void ipv6LoopbackAnswersAndEveryNativeRefusesAnAddressNotOf16BytesBeforeAnything() {
        Latency answered = probeLoopback(true, 100);
        assertAnsweredAtFirstTry(answered, "0:0:0:0:0:0:0:1");
        assertEquals(100, answered.datalen());
        byte[] loopback = ProbeMain.address6("::1");
        List<Latency> latencies = new ArrayList<>();
        LatencyListener latency = recording(latencies);
        List<String> reports = new ArrayList<>();
        HopListener hops = new HopListener() {
            @Override
            public void handleHop(int id, int seq, int address, int rc, double ms, int len,
                    int dest, int done) {
                reports.add("IPv4 report");
            }

            @Override
            public void handleHop6(int id, int seq, byte[] address, int rc, double ms, int len,
                    byte[] dest, int done) {
                reports.add(id + " " + seq + " " + ProbeMain.text6(address) + " " + rc + " "
                        + len + " " + done);
            }
        };
        ASM.getTrace6(4244, loopback, 0, 5000, -1, 2000, hops);
        for (byte[] bad : new byte[][] {null, new byte[4], new byte[17]}) {
            Class<? extends Exception> thrown = bad == null ? NullPointerException.class
                    : IllegalArgumentException.class;
            assertThrows(thrown, () -> ASM.getLatency6(0, bad, 64, 64, 0, 2000, latency));
            assertThrows(thrown, () -> ASM.getTrace6(1, bad, 0, 64, -1, 2000, hops));
            assertThrows(thrown, () -> JNIPinger.nativeSendPing6(-1, bad, (short) 1, (short) 64));
        }
        assertEquals(List.of(), latencies);
        assertEquals(List.of("4244 1 0:0:0:0:0:0:0:1 0 1024 1"), reports);
    }

    @Test
    void aThrowingListenerReachesTheCaller() {
        LatencyListener throwing = (id, seq, dest, rc, latency, datalen, dest2) -> {
            throw new IllegalStateException("listener");
        };
        IllegalStateException e = assertThrows(IllegalStateException.class,
                () -> ASM.getLatency(0, LOOPBACK, 64, 64, 0, 2000, throwing));
        assertEquals("listener", e.getMessage());
    }
}
