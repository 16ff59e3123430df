package com.orvela.test.icmp;

import static com.orvela.test.icmp.PingPeer.IDENTIFIER;
import static com.orvela.test.icmp.PingPeer.LOOPBACK;
import static com.orvela.test.icmp.PingPeer.LOOPBACK6;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.PingObserver;
import com.orvela.test.ChildVm;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class PingTest {
    private static final int CAPTURE_MS = 10_000;

    /** Sends one echo request with this request id to 127.0.0.1. */
    private static int send(int socket, int reqID) {
        return JNIPinger.nativeSendPing(socket, LOOPBACK, (short) reqID, (short) 64);
    }

    /** Sends one echo request with this request id to 127.0.0.1, or to ::1 on an ICMPv6 socket. */
    private static int send(int socket, boolean ipv6, int reqID) {
        return ipv6 ? JNIPinger.nativeSendPing6(socket, LOOPBACK6, (short) reqID, (short) 64)
                : send(socket, reqID);
    }

    /** A source address of its own for each case, so other traffic on the host can't mix in. */
    private static int source(int lastOctet) {
        return 0x7F000000 | lastOctet;
    }

    @ParameterizedTest(name = "ipv6 {0}")
    @ValueSource(booleans = {false, true})
    void aReplyToRequestSevenReachesTheObserverWithSenderIdAndTime(boolean ipv6)
            throws Exception {
        try (PingLoop loop = PingLoop.of(ipv6)) {
            assertEquals(0, send(loop.socket, ipv6, 7));
            PingLoop.Call call = loop.await(c -> c.reqID() == 7);
            assertTrue(call.fromLoopback(), call.toString());
            assertTrue(call.rtt() >= 0, "rtt " + call.rtt());
            // A socket takes only the requests of its own family.
            assertEquals(-1, send(loop.socket, !ipv6, 8));
        }
    }

    @Test
    void theRequestOnTheWireIsTheSixtyFourByteEchoRequest() throws Exception {
        int capture = PingPeer.openCapture();
        assertTrue(capture >= 0, "capture socket: errno " + -capture);
        try (PingLoop loop = new PingLoop()) {
            long before = System.currentTimeMillis() / 1000;
            assertEquals(0, send(loop.socket, 7));
            byte[] first = PingPeer.nextEchoRequest(capture, IDENTIFIER, 7, CAPTURE_MS);
            assertEquals(0, JNIPinger.nativeSendPing(loop.socket, LOOPBACK, (short) 7, (short) 1));
            byte[] second = PingPeer.nextEchoRequest(capture, IDENTIFIER, 7, CAPTURE_MS);
            long after = System.currentTimeMillis() / 1000 + 1;

            for (byte[] request : List.of(first, second)) {
                assertNotNull(request);
                assertEquals(64, request.length);
                ByteBuffer b = ByteBuffer.wrap(request);
                assertEquals(8, b.get(0));
                assertEquals(0, b.get(1));
                assertEquals(0, PingPeer.checksum(request, 0, 64), "checksum");
                assertEquals(IDENTIFIER, b.getShort(4) & 0xFFFF);
                assertEquals(7, b.getShort(6));
                b.order(ByteOrder.nativeOrder());
                long seconds = b.getInt(8);
                int micros = b.getInt(12);
                assertTrue(seconds >= before && seconds <= after, "send time " + seconds);
                assertTrue(micros >= 0 && micros < 1_000_000, "microseconds " + micros);
                assertArrayEquals(new byte[48], Arrays.copyOfRange(request, 16, 64));
            }
            // The same request id: only the checksum and the send time differ.
            byte[] a = first.clone();
            byte[] b = second.clone();
            for (byte[] r : List.of(a, b)) {
                Arrays.fill(r, 2, 4, (byte) 0);
                Arrays.fill(r, 8, 16, (byte) 0);
            }
            assertArrayEquals(a, b);
        } finally {
            PingPeer.closeCapture(capture);
        }
    }

    @Test
    void requestIdMinusOneGoesOutAsFfffAndComesBackAsMinusOne() throws Exception {
        int capture = PingPeer.openCapture();
        assertTrue(capture >= 0, "capture socket: errno " + -capture);
        try (PingLoop loop = new PingLoop()) {
            assertEquals(0, send(loop.socket, -1));
            byte[] request = PingPeer.nextEchoRequest(capture, IDENTIFIER, 0xFFFF, CAPTURE_MS);
            assertNotNull(request, "no request with sequence number 0xFFFF");
            PingLoop.Call call = loop.await(c -> c.reqID() == -1);
            assertEquals(LOOPBACK, call.address());
        } finally {
            PingPeer.closeCapture(capture);
        }
    }

    @Test
    void anotherProcesssReplyIsHeldBackByTheKernel() throws Exception {
        int from = source(77);
        long now = System.currentTimeMillis();
        try (PingLoop loop = new PingLoop()) {
            assertTrue(PingPeer.inject(
                    PingPeer.icmpDatagram(from, 0, 64, 0, 0, IDENTIFIER ^ 0x5A5A, 9, now)));
            // A marker of ours: once it is in, the other reply has been handled.
            assertTrue(PingPeer.inject(PingPeer.icmpDatagram(from, 0, 64, 0, 0, IDENTIFIER, 99, now)));
            loop.await(c -> c.address() == from && c.reqID() == 99);
            List<PingLoop.Call> calls = loop.from(from);
            assertEquals(1, calls.size(), calls.toString());
            assertEquals(99, calls.get(0).reqID());
        }
    }

    @Test
    void theIcmpMessageIsReadBehindIpOptions() throws Exception {
        int from = source(88);
        long twoSecondsAgo = System.currentTimeMillis() - 2000;
        try (PingLoop loop = new PingLoop()) {
            // Four bytes of options: read at a fixed 20 bytes, the message would be garbage.
            assertTrue(PingPeer.inject(
                    PingPeer.icmpDatagram(from, 4, 64, 0, 0, IDENTIFIER, 21, twoSecondsAgo)));
            PingLoop.Call call = loop.await(c -> c.address() == from);
            assertEquals(21, call.reqID());
            assertTrue(call.rtt() >= 2000, "rtt " + call.rtt());
        }
    }

    @Test
    void errorsEchoRequestsAndShortRepliesGiveNoCall() throws Exception {
        int from = source(66);
        long now = System.currentTimeMillis();
        try (PingLoop loop = new PingLoop()) {
            // Our own requests: the socket sees each request and its reply, one call per pair.
            for (short id = 31; id <= 35; ++id) {
                assertEquals(0, send(loop.socket, id));
            }
            List<byte[]> noCall = List.of(
                    PingPeer.icmpError(from, 3, 3),
                    PingPeer.icmpError(from, 11, 0),
                    PingPeer.icmpDatagram(from, 0, 64, 13, 0, IDENTIFIER, 5, now),
                    // Ours, but too short for the send time: after a full one it must not be
                    // reported from what the full one left behind.
                    PingPeer.icmpDatagram(from, 0, 64, 0, 0, IDENTIFIER, 5, now),
                    PingPeer.icmpDatagram(from, 0, 15, 0, 0, IDENTIFIER, 6, now),
                    PingPeer.icmpDatagram(from, 0, 8, 0, 0, IDENTIFIER, 6, now),
                    PingPeer.icmpDatagram(from, 0, 7, 0, 0, IDENTIFIER, 6, now));
            for (byte[] datagram : noCall) assertTrue(PingPeer.inject(datagram));
            // An echo request from there: the kernel answers it from 127.0.0.1, we report nothing
            // from 127.0.0.66.
            assertTrue(PingPeer.inject(
                    PingPeer.icmpDatagram(from, 0, 64, 8, 0, IDENTIFIER ^ 1, 6, now)));
            // A marker: once it is in, everything injected before it has been handled.
            assertTrue(PingPeer.inject(
                    PingPeer.icmpDatagram(from, 0, 64, 0, 0, IDENTIFIER, 99, now)));
            loop.await(c -> c.address() == from && c.reqID() == 99);

            List<PingLoop.Call> calls = loop.from(from);
            assertEquals(2, calls.size(), calls.toString());
            assertEquals(5, calls.get(0).reqID());
            assertEquals(99, calls.get(1).reqID());

            List<Short> ours = new ArrayList<>();
            for (PingLoop.Call c : loop.from(LOOPBACK)) {
                if (c.reqID() != 0) ours.add(c.reqID());
            }
            assertEquals(List.of((short) 31, (short) 32, (short) 33, (short) 34, (short) 35), ours);
        }
    }

    @ParameterizedTest(name = "ipv6 {0}")
    @ValueSource(booleans = {false, true})
    void aBurstOfTenThousandRequestsFromTwoThreadsIsAnsweredInFull(boolean ipv6) throws Exception {
        int perThread = 5000;
        BitSet answered = new BitSet();
        try (PingLoop loop = PingLoop.of(ipv6)) {
            List<Thread> senders = new ArrayList<>();
            int[] failed = new int[2];
            for (int t = 0; t < 2; ++t) {
                int first = 1 + t * perThread;
                int slot = t;
                senders.add(new Thread(() -> {
                    for (int id = first; id < first + perThread; ++id) {
                        if (send(loop.socket, ipv6, id) != 0) ++failed[slot];
                    }
                }));
            }
            for (Thread s : senders) s.start();
            for (Thread s : senders) s.join();
            assertArrayEquals(new int[2], failed);
            loop.await(c -> {
                if (c.fromLoopback() && c.reqID() > 0) answered.set(c.reqID());
                return answered.cardinality() == 2 * perThread;
            });
        }
    }

    /** Records our replies' round trips; its first call takes 100 ms. */
    private static class SlowFirstCall implements PingObserver {
        int socket;
        final long[] rtt = new long[201];
        final BitSet answered = new BitSet();
        int slept = -1;

        @Override
        public void removePingRequest(int address, short reqID, int rttMillis) {
            record(reqID, rttMillis);
        }

        void record(short reqID, long value) {
            if (slept < 0) {
                slept = reqID;
                try {
                    Thread.sleep(100);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }
            if (reqID < 1 || reqID > 200) return;
            rtt[reqID] = value;
            answered.set(reqID);
            if (answered.cardinality() == 200) JNIPinger.nativeICMPShutdown(socket);
        }
    }

    /** The same in microseconds: the loop calls only removePingRequestMicros. */
    private static class SlowFirstCallMicros extends SlowFirstCall {
        @Override
        public void removePingRequest(int address, short reqID, int rttMillis) {
            throw new AssertionError("removePingRequest called beside removePingRequestMicros");
        }

        @SuppressWarnings("unused") // found by the receive loop
        public void removePingRequestMicros(int address, short reqID, long rttMicros) {
            record(reqID, rttMicros);
        }
    }

    /** On an ICMPv6 socket: the loop calls only removePingRequest6Micros. */
    private static final class SlowFirstCallMicros6 extends SlowFirstCallMicros {
        @SuppressWarnings("unused") // found by the receive loop
        public void removePingRequest6Micros(byte[] address, short reqID, long rttMicros) {
            assertArrayEquals(LOOPBACK6, address);
            record(reqID, rttMicros);
        }
    }

    @Test
    void aSlowObserverDoesNotLengthenTheTimesOfTheRepliesBehindIt() throws Exception {
        // Whole milliseconds, then microseconds: in a burst of 200 on loopback, each reply comes
        // within microseconds of its request, whatever the observer does meanwhile. The kernel
        // switches its receive stamps on a moment after the process first asks for them.
        JNIPinger.nativeICMPShutdown(JNIPinger.nativeICMPInit());
        Thread.sleep(100);
        for (SlowFirstCall observer : List.of(new SlowFirstCall(), new SlowFirstCallMicros(),
                new SlowFirstCallMicros6())) {
            boolean ipv6 = observer instanceof SlowFirstCallMicros6;
            observer.socket = ipv6 ? JNIPinger.nativeICMPInit6() : JNIPinger.nativeICMPInit();
            assertTrue(observer.socket >= 0);
            Throwable[] thrown = {null};
            Thread loop = new Thread(() -> {
                try {
                    JNIPingReceiver.nativeReceivePings(observer.socket, observer);
                } catch (Throwable t) {
                    thrown[0] = t;
                }
            });
            loop.start();
            for (int id = 1; id <= 200; ++id) assertEquals(0, send(observer.socket, ipv6, id));
            loop.join(PingLoop.PATIENCE_MS);
            JNIPinger.nativeICMPShutdown(observer.socket);
            loop.join(PingLoop.PATIENCE_MS);
            assertEquals(null, thrown[0]);
            assertEquals(200, observer.answered.cardinality());
            boolean micros = observer instanceof SlowFirstCallMicros;
            long limit = micros ? 10_000 : 10;
            for (int id = 1; id <= 200; ++id) {
                if (id == observer.slept) continue;
                long rtt = observer.rtt[id];
                assertTrue(rtt >= 0 && rtt < limit, observer.getClass().getSimpleName() + " "
                        + id + ": " + rtt);
            }
            // Not milliseconds in disguise: a loopback round trip takes some microseconds.
            if (micros) assertTrue(Arrays.stream(observer.rtt).anyMatch(t -> t > 0));
        }
    }

    @Test
    void aHundredSocketsOpenAtOnceEachSendAndShutDown() throws Exception {
        List<Integer> sockets = new ArrayList<>();
        try {
            for (int i = 0; i < 100; ++i) {
                int socket = JNIPinger.nativeICMPInit();
                assertTrue(socket >= 0, "socket " + (i + 1) + ": " + socket);
                sockets.add(socket);
            }
            for (int socket : sockets) assertEquals(0, send(socket, 3));
        } finally {
            for (int socket : sockets) JNIPinger.nativeICMPShutdown(socket);
        }
    }

    @Test
    void aLatencyProbeNeverTakesThePingIdentifier() throws Exception {
        // A process with id 101 in a pid namespace of its own: its first latency identifier
        // would be its ping identifier.
        // The shell is the namespace's process 1, and the VM it starts the next after 100.
        List<String> pidNamespace = List.of("unshare", "--pid", "--fork", "--mount-proc", "sh",
                "-c", "echo 100 >/proc/sys/kernel/ns_last_pid && \"$0\" \"$@\"; exit $?");
        String out;
        try (ChildVm child = ChildVm.start(pidNamespace, List.of(), Map.of(),
                PingInitMain.class, "latency")) {
            out = child.awaitSuccess().out();
        }
        List<String> lines = out.lines().toList();
        assertTrue(lines.contains("pid 101"), out);
        assertTrue(lines.contains("latency 102 0"), out);
        for (String line : lines) {
            if (!line.startsWith("call ")) continue;
            String[] f = line.split(" ");
            int reqID = Integer.parseInt(f[2]);
            int rtt = Integer.parseInt(f[3]);
            assertTrue(reqID == 5 ? rtt >= 0 && rtt < 20_000 : rtt == 0, line);
        }
    }

    @Test
    void theObserverMaySendAndShutDownFromItsCallback() throws Exception {
        int socket = JNIPinger.nativeICMPInit();
        assertTrue(socket >= 0);
        List<Short> ids = new ArrayList<>();
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket,
                (address, reqID, rtt) -> {
                    if (reqID == 0) return;
                    ids.add(reqID);
                    if (reqID < 5) {
                        send(socket, reqID + 1);
                    } else {
                        JNIPinger.nativeICMPShutdown(socket);
                    }
                }));
        loop.start();
        assertEquals(0, send(socket, 1));
        loop.join(PingLoop.PATIENCE_MS);
        assertFalse(loop.isAlive());
        assertEquals(List.of((short) 1, (short) 2, (short) 3, (short) 4, (short) 5), ids);
    }

    @Test
    void anObserverExceptionEndsTheLoopAndReachesTheCaller() throws Exception {
        int socket = JNIPinger.nativeICMPInit();
        assertTrue(socket >= 0);
        IllegalStateException boom = new IllegalStateException("observer failed");
        int[] calls = {0};
        Thread sender = new Thread(() -> {
            send(socket, 11);
        });
        sender.start();
        IllegalStateException thrown = assertThrows(IllegalStateException.class,
                () -> JNIPingReceiver.nativeReceivePings(socket, (address, reqID, rtt) -> {
                    ++calls[0];
                    throw boom;
                }));
        sender.join();
        assertEquals(boom, thrown);
        assertEquals(1, calls[0]);

        // The socket stays open: a new loop on it goes on reporting.
        try (PingLoop loop = new PingLoop(socket)) {
            assertEquals(0, send(socket, 12));
            loop.await(c -> c.reqID() == 12);
        }
    }

    @Test
    void aNullObserverDrainsUntilShutdown() throws Exception {
        int socket = JNIPinger.nativeICMPInit();
        assertTrue(socket >= 0);
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket, null));
        loop.start();
        assertEquals(0, send(socket, 14));
        JNIPinger.nativeICMPShutdown(socket);
        loop.join(PingLoop.PATIENCE_MS);
        assertFalse(loop.isAlive());
    }

    // Without the privilege for raw sockets

    private static final Path LOG = Path.of("/tmp/pinger.log");

    /**
     * Runs PingInitMain in a network namespace of its own whose ping_group_range is `groups`,
     * run there by `user` (setpriv and its options); returns what it printed.
     */
    private static String runUnprivileged(String groups, List<String> user, String... args)
            throws Exception {
        List<String> prefix = new ArrayList<>(List.of("unshare", "-n", "sh", "-c",
                "ip link set lo up && sysctl -qw net.ipv4.ping_group_range=\"$0\" && exec \"$@\"",
                groups));
        prefix.addAll(user);
        try (ChildVm.ReadableCopy copy = ChildVm.ReadableCopy.make();
                ChildVm child = ChildVm.startAs(prefix, copy, PingInitMain.class, args)) {
            return child.awaitSuccess().out().trim();
        }
    }

    /** Runs nativeICMPInit (with "6" nativeICMPInit6) in a JVM without CAP_NET_RAW. */
    private static String initWithoutRawSockets(String... args) throws Exception {
        return runUnprivileged("1 0", List.of("setpriv", "--bounding-set=-net_raw",
                "--inh-caps=-net_raw"), args);
    }

    @Test
    void anOrdinaryUserPingsThroughDatagramSocketsWhereTheSystemAllowsItsGroup()
            throws Exception {
        List<String> nobody = List.of("setpriv", "--reuid=65534", "--regid=65534",
                "--clear-groups");
        assertEquals("-1", runUnprivileged("1 0", nobody));
        assertEquals("-1", runUnprivileged("1 0", nobody, "6"));
        // Each socket gets its own replies, the whole burst of what the socket holds by default.
        assertEquals("socket 0 512 512\nsocket 1 16 16\nended",
                runUnprivileged("65534 65534", nobody, "burst"));
        assertEquals("socket 0 512 512\nsocket 1 16 16\nended",
                runUnprivileged("65534 65534", nobody, "burst6"));
    }

    @Test
    void withoutThePrivilegeInitFailsAndSaysSoInTheLog() throws Exception {
        try {
            for (String[] args : new String[][] {{}, {"6"}}) {
                Files.writeString(LOG, "an older line\n");
                assertEquals("-1", initWithoutRawSockets(args));
                assertEquals("Error: Failed to open socket (errno = 1)\n", Files.readString(LOG));
            }
        } finally {
            Files.deleteIfExists(LOG);
        }
    }
}
