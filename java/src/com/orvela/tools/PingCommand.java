package com.orvela.tools;

import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.atomic.AtomicInteger;

/** Echo requests through the ping service, reported the way ping reports them. */
final class PingCommand {
    private PingCommand() {}

    static int run(Args args) throws Exception {
        int count = args.intOption("-c", 4);
        int interval = args.intOption("-i", 1000);
        int wait = args.intOption("-W", 1000);
        String host = args.single("address");
        int dest = Ipv4.parse(host);
        if (count < 1 || count > 32767) throw new UsageException("-c must be 1..32767");

        int sd = JNIPinger.nativeICMPInit();
        if (sd < 0) {
            System.err.println("orvela ping: cannot open a raw ICMP socket (needs root or"
                + " CAP_NET_RAW); the reason is in /tmp/pinger.log");
            return 1;
        }
        Map<Short, Boolean> answered = new ConcurrentHashMap<>();
        AtomicInteger received = new AtomicInteger();
        long[] rtts = new long[count + 1];
        Thread receiver =
            new Thread(() -> JNIPingReceiver.nativeReceivePings(sd, (address, reqID, rtt) -> {
                // Replies to other processes' pings arrive with id 0: not ours to count.
                if (reqID <= 0 || reqID > count || answered.putIfAbsent(reqID, true) != null) {
                    return;
                }
                rtts[reqID] = rtt;
                received.incrementAndGet();
                System.out.printf(
                    "64 bytes from %s: icmp_seq=%d time=%d ms%n", Ipv4.format(address), reqID, rtt);
            }), "ping-receiver");
        receiver.setDaemon(true);
        receiver.start();

        System.out.printf("PING %s (%s): 64 bytes per request%n", host, Ipv4.format(dest));
        for (int seq = 1; seq <= count; ++seq) {
            if (JNIPinger.nativeSendPing(sd, dest, (short) seq, (short) 64) < 0) {
                System.out.printf("send failed for icmp_seq=%d%n", seq);
            }
            if (seq < count) Thread.sleep(interval);
        }
        long deadline = System.currentTimeMillis() + wait;
        while (received.get() < count && System.currentTimeMillis() < deadline) Thread.sleep(10);
        JNIPinger.nativeICMPShutdown(sd);
        receiver.join(2000);

        int got = received.get();
        System.out.printf("%n--- %s ping statistics ---%n", host);
        System.out.printf("%d packets transmitted, %d received, %d%% packet loss%n", count, got,
            (count - got) * 100 / count);
        if (got > 0) {
            long min = Long.MAX_VALUE, max = 0, sum = 0;
            for (int seq = 1; seq <= count; ++seq) {
                if (answered.containsKey((short) seq)) {
                    min = Math.min(min, rtts[seq]);
                    max = Math.max(max, rtts[seq]);
                    sum += rtts[seq];
                }
            }
            System.out.printf("rtt min/avg/max = %d/%.1f/%d ms%n", min, (double) sum / got, max);
        }
        return got == count ? 0 : 1;
    }
}
