package com.orvela.tools;

import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.PingObserver;
import java.util.BitSet;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/** Echo requests through the ping service, reported the way iputils ping reports them. */
final class PingCommand {
    static final Orvela.Entry ENTRY = new Orvela.Entry("ciW", Destination.FAMILY_SWITCHES,
        PingCommand::run, Destination.FAMILY_USAGE + "[-c count] [-i interval] [-W wait] [--] host",
        "echo requests through the ping service, reported like ping",
        Destination.FAMILY_HELP
            + "  -c count     requests to send, 1..65535 (default 4)\n"
            + "  -i interval  milliseconds between requests, 0..3600000 (default 1000)\n"
            + "  -W wait      milliseconds to wait for replies after the last request,"
            + " 1..3600000 (default 1000)\n"
            + "Each request is 64 bytes of ICMP or ICMPv6 (56 data bytes). Times are in\n"
            + "microseconds, from the request's send time to the reply's arrival as the kernel\n"
            + "stamped it, so a busy tool doesn't lengthen them. The ping service passes only\n"
            + "this process's echo replies on: ICMP errors such as unreachable show as loss.\n"
            + "Ctrl-C stops and prints the statistics.\n"
            + "Exit status: 0 a reply came, 1 no reply, 2 any other failure or a bad command"
            + " line.\n"
            + "Needs root or CAP_NET_RAW, or the user's group in net.ipv4.ping_group_range.\n");

    /** A reply, as the receive loop hands it to the printing thread. */
    private record Reply(int seq, byte[] from, long micros) {}

    private static final Reply END = new Reply(0, null, 0);

    private PingCommand() {}

    static int run(Args args) throws Exception {
        int count = args.number('c', 4, 1, 65535);
        int interval = args.number('i', 1000, 0, 3_600_000);
        int wait = args.number('W', 1000, 1, 3_600_000);
        Destination dest = Destination.resolve(args, args.single("host"));
        return new PingCommand.Run(dest, count).ping(interval, wait);
    }

    /** One run: the sending thread, the native receive loop and a thread that prints. */
    private static final class Run {
        private final Destination dest;
        private final int count;
        private final LinkedBlockingQueue<Reply> replies = new LinkedBlockingQueue<>();
        private final AtomicInteger received = new AtomicInteger();
        private volatile boolean stopped;
        private volatile boolean outputClosed;
        // Kept by the printing thread; read after it has been joined.
        private final BitSet answered = new BitSet();
        private double minMs = Double.MAX_VALUE, maxMs, sumMs, sumSquares;

        Run(Destination dest, int count) {
            this.dest = dest;
            this.count = count;
        }

        int ping(int interval, int wait) throws Exception {
            // Warm up what the replies pass through, so the first isn't held back by class
            // loading: the formatter, the queue and the send call's native link (a descriptor we
            // don't hold is refused without sending).
            String.format("%s %d %.3f", "", 0, 0.0);
            replies.add(END);
            replies.clear();
            send(-1, 0);
            int sd = dest.ipv6() ? JNIPinger.nativeICMPInit6() : JNIPinger.nativeICMPInit();
            if (sd < 0) {
                throw new ToolException(2, Orvela.NO_ICMP_SOCKET);
            }
            Thread main = Thread.currentThread();
            Interrupts.onInterrupt(() -> {
                stopped = true;
                main.interrupt();
            });

            CountDownLatch listening = new CountDownLatch(1);
            Thread receiver = new Thread(() -> {
                listening.countDown();
                JNIPingReceiver.nativeReceivePings(sd, new ReplyTimes());
            }, "ping-receiver");
            Thread printer = new Thread(this::printReplies, "ping-printer");
            receiver.setDaemon(true);
            printer.setDaemon(true);
            receiver.start();
            printer.start();
            listening.await();

            long started = System.nanoTime();
            // ping's own header for each family
            System.out.printf(dest.ipv6() ? "PING %s(%s) 56 data bytes%n"
                                          : "PING %s (%s) 56(84) bytes of data.%n",
                dest.host(), dest.text());
            int transmitted = 0, errors = 0;
            try {
                for (int seq = 1; seq <= count && !stopped && !outputClosed; ++seq) {
                    ++transmitted;
                    if (send(sd, seq) < 0) {
                        ++errors;
                        String reason = dest.unreachableReason();
                        System.err.printf("orvela ping: icmp_seq=%d: send failed: %s%n", seq,
                            reason == null ? "refused by the system" : reason);
                    }
                    if (seq < count && interval > 0) Thread.sleep(interval);
                }
                long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(wait);
                while (received.get() < transmitted - errors && !stopped && !outputClosed
                    && System.nanoTime() < deadline) {
                    Thread.sleep(1);
                }
            } catch (InterruptedException e) {
                stopped = true;
            }
            long elapsedMs = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started);
            JNIPinger.nativeICMPShutdown(sd);
            receiver.join(2000);
            replies.add(END);
            printer.join();
            Thread.interrupted(); // a late Ctrl-C has nothing left to stop

            int got = answered.cardinality();
            if (!outputClosed) printStatistics(transmitted, got, errors, elapsedMs);
            return got > 0 ? 0 : 1;
        }

        private int send(int sd, int seq) {
            short id = (short) seq;
            return dest.ipv6() ? JNIPinger.nativeSendPing6(sd, dest.bytes(), id, (short) 64)
                               : JNIPinger.nativeSendPing(sd, dest.ipv4(), id, (short) 64);
        }

        /**
         * Takes the kernel's round trips in microseconds (the receive loop calls
         * removePingRequestMicros or removePingRequest6Micros where the observer has them) and
         * leaves the printing to its own thread.
         */
        private final class ReplyTimes implements PingObserver {
            @Override
            public void removePingRequest(int address, short reqID, int rttMillis) {
                removePingRequestMicros(address, reqID, rttMillis * 1000L);
            }

            @Override
            public void removePingRequest6(byte[] address, short reqID, int rttMillis) {
                removePingRequest6Micros(address, reqID, rttMillis * 1000L);
            }

            public void removePingRequestMicros(int address, short reqID, long rttMicros) {
                removePingRequest6Micros(Destination.bytes(address), reqID, rttMicros);
            }

            // Both families end here: the address is 4 or 16 bytes.
            public void removePingRequest6Micros(byte[] address, short reqID, long rttMicros) {
                int seq = reqID & 0xffff;
                if (seq < 1 || seq > count) return; // not one of ours
                replies.add(new Reply(seq, address, rttMicros));
            }
        }

        private void printReplies() {
            try {
                for (Reply reply = replies.take(); reply != END; reply = replies.take()) {
                    int seq = reply.seq();
                    double ms = reply.micros() / 1e3;
                    boolean duplicate = answered.get(seq);
                    if (!duplicate) {
                        answered.set(seq);
                        minMs = Math.min(minMs, ms);
                        maxMs = Math.max(maxMs, ms);
                        sumMs += ms;
                        sumSquares += ms * ms;
                        received.incrementAndGet();
                    }
                    System.out.printf("64 bytes from %s: icmp_seq=%d time=%.3f ms%s%n",
                        Destination.text(reply.from()), seq, ms, duplicate ? " (DUP!)" : "");
                    // Nobody reads any more (| head): stop like ping does.
                    if (System.out.checkError()) outputClosed = true;
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }

        private void printStatistics(int transmitted, int got, int errors, long elapsedMs) {
            System.out.printf("%n--- %s ping statistics ---%n", dest.host());
            System.out.printf(
                "%d packets transmitted, %d received,%s %d%% packet loss, time %dms%n", transmitted,
                got, errors > 0 ? " +" + errors + " errors," : "",
                transmitted == 0 ? 0 : (transmitted - got) * 100 / transmitted, elapsedMs);
            if (got > 0) {
                double avg = sumMs / got;
                double mdev = Math.sqrt(Math.max(0, sumSquares / got - avg * avg));
                System.out.printf(
                    "rtt min/avg/max/mdev = %.3f/%.3f/%.3f/%.3f ms%n", minMs, avg, maxMs, mdev);
            }
        }
    }
}
