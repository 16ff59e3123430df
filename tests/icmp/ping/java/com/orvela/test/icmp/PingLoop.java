package com.orvela.test.icmp;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.PingObserver;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

/**
 * A ping socket with its receive loop on a thread of its own, recording every call (on an ICMPv6
 * socket with the sender in {@code address6} and {@code address} 0).
 */
final class PingLoop implements AutoCloseable {
    record Call(int address, short reqID, int rtt, byte[] address6) {
        boolean fromLoopback() {
            return address6 != null ? Arrays.equals(address6, PingPeer.LOOPBACK6)
                    : address == PingPeer.LOOPBACK;
        }
    }

    static final long PATIENCE_MS = 20_000;

    final int socket;
    final Thread thread;
    private final LinkedBlockingQueue<Call> calls = new LinkedBlockingQueue<>();
    private final List<Call> seen = new ArrayList<>();
    volatile Throwable thrown;

    PingLoop() {
        this(JNIPinger.nativeICMPInit());
    }

    /** On an ICMPv6 socket (or an IPv4 one when `ipv6` is false). */
    static PingLoop of(boolean ipv6) {
        return new PingLoop(ipv6 ? JNIPinger.nativeICMPInit6() : JNIPinger.nativeICMPInit());
    }

    PingLoop(int socket) {
        assertTrue(socket >= 0, "nativeICMPInit: " + socket);
        this.socket = socket;
        PingObserver observer = new PingObserver() {
            @Override
            public void removePingRequest(int address, short reqID, int rtt) {
                calls.add(new Call(address, reqID, rtt, null));
            }

            @Override
            public void removePingRequest6(byte[] address, short reqID, int rtt) {
                calls.add(new Call(0, reqID, rtt, address));
            }
        };
        thread = new Thread(() -> {
            try {
                JNIPingReceiver.nativeReceivePings(socket, observer);
            } catch (Throwable t) {
                thrown = t;
            }
        }, "ping receive loop");
        thread.start();
    }

    /** The first call (in arrival order) that matches, waiting for it if need be. */
    Call await(Predicate<Call> wanted) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(PATIENCE_MS);
        for (Call c : seen) {
            if (wanted.test(c)) return c;
        }
        while (true) {
            long left = deadline - System.nanoTime();
            Call c = calls.poll(Math.max(left, 0), TimeUnit.NANOSECONDS);
            if (c == null) {
                fail("no matching call among " + seen.size() + ", the last: "
                        + seen.subList(Math.max(0, seen.size() - 10), seen.size()));
            }
            seen.add(c);
            if (wanted.test(c)) return c;
        }
    }

    /** Every call so far from this address (after a marker from it has been awaited). */
    List<Call> from(int address) {
        calls.drainTo(seen);
        return seen.stream().filter(c -> c.address() == address).toList();
    }

    /** Shuts the socket down and waits for the loop to end. */
    @Override
    public void close() {
        JNIPinger.nativeICMPShutdown(socket);
        try {
            thread.join(PATIENCE_MS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            fail("interrupted while waiting for the receive loop");
        }
        assertFalse(thread.isAlive(), "the receive loop did not end");
    }
}
