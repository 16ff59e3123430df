package com.orvela.test.icmp;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.PingObserver;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Opens the ping socket in a process of its own and prints the result. With the argument
 * "latency" it prints its process id, runs the receive loop, probes 127.0.0.1 once with the
 * latency probe and then once with a ping, and prints "latency ID RC" and every observer call
 * as "call ADDRESS REQID RTT". With "burst", see {@link #burst}. "6" and "burst6" do the same
 * as no argument and "burst" with ICMPv6 sockets and ::1.
 */
public final class PingInitMain {
    private PingInitMain() {}

    private static int open(boolean ipv6) {
        return ipv6 ? JNIPinger.nativeICMPInit6() : JNIPinger.nativeICMPInit();
    }

    public static void main(String[] args) throws Exception {
        boolean ipv6 = args.length > 0 && args[0].endsWith("6");
        int socket = open(ipv6);
        if (args.length == 0 || args[0].equals("6")) {
            System.out.println(socket);
            return;
        }
        if (args[0].startsWith("burst")) {
            burst(socket, ipv6);
            return;
        }
        System.out.println("pid " + ProcessHandle.current().pid());
        CountDownLatch pingBack = new CountDownLatch(1);
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket,
                (address, reqID, rtt) -> {
                    System.out.println("call " + address + " " + reqID + " " + rtt);
                    if (reqID == 5) pingBack.countDown();
                }));
        loop.start();
        ASM.getLatency(0, PingPeer.LOOPBACK, 64, 84, 0, 2000,
                (id, seq, dest, rc, latency, datalen, dest2) -> System.out.println(
                        "latency " + id + " " + rc));
        JNIPinger.nativeSendPing(socket, PingPeer.LOOPBACK, (short) 5, (short) 64);
        pingBack.await(20, TimeUnit.SECONDS);
        JNIPinger.nativeICMPShutdown(socket);
        loop.join();
    }

    /**
     * Two sockets at once, `first` and a second one, each with its loop: a burst of 512 requests
     * on the first and 16 on the second, both to 127.0.0.1 (::1 with `ipv6`). Prints per socket
     * "socket N CALLS OWN": the observer calls, and how many of them carry that socket's own
     * request ids from that address with a time; then "ended" once both loops have returned after
     * their shutdown.
     */
    private static void burst(int first, boolean ipv6) throws Exception {
        int[] sockets = {first, open(ipv6)};
        int[] counts = {512, 16};
        int[] firstIds = {0, 1000};
        List<ConcurrentLinkedQueue<int[]>> calls = new ArrayList<>();
        List<Thread> loops = new ArrayList<>();
        for (int socket : sockets) {
            ConcurrentLinkedQueue<int[]> seen = new ConcurrentLinkedQueue<>();
            calls.add(seen);
            // The sender as 1 for the loopback address, else 0.
            PingObserver observer = new PingObserver() {
                @Override
                public void removePingRequest(int address, short reqID, int rtt) {
                    seen.add(new int[] {address == PingPeer.LOOPBACK ? 1 : 0, reqID, rtt});
                }

                @Override
                public void removePingRequest6(byte[] address, short reqID, int rtt) {
                    boolean loopback = Arrays.equals(address, PingPeer.LOOPBACK6);
                    seen.add(new int[] {loopback ? 1 : 0, reqID, rtt});
                }
            };
            Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket, observer));
            loop.start();
            loops.add(loop);
        }
        for (int s = 0; s < sockets.length; s++) {
            for (int k = 0; k < counts[s]; k++) {
                short reqID = (short) (firstIds[s] + k);
                if (ipv6) {
                    JNIPinger.nativeSendPing6(sockets[s], PingPeer.LOOPBACK6, reqID, (short) 64);
                } else {
                    JNIPinger.nativeSendPing(sockets[s], PingPeer.LOOPBACK, reqID, (short) 64);
                }
            }
        }
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(20);
        while ((calls.get(0).size() < counts[0] || calls.get(1).size() < counts[1])
                && System.nanoTime() < deadline) {
            Thread.sleep(10);
        }
        for (int s = 0; s < sockets.length; s++) {
            int from = firstIds[s], to = firstIds[s] + counts[s];
            long own = calls.get(s).stream().filter(c -> c[0] == 1
                    && c[1] >= from && c[1] < to && c[2] >= 0).mapToInt(c -> c[1]).distinct()
                    .count();
            System.out.println("socket " + s + " " + calls.get(s).size() + " " + own);
        }
        for (int socket : sockets) JNIPinger.nativeICMPShutdown(socket);
        for (Thread loop : loops) loop.join(20_000);
        if (loops.stream().noneMatch(Thread::isAlive)) System.out.println("ended");
    }
}
