package com.orvela.tools;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.LatencyListener;

/** One latency probe, reported in one line. */
final class LatencyCommand {
    static final Orvela.Entry ENTRY = new Orvela.Entry("stw", Destination.FAMILY_SWITCHES,
        LatencyCommand::run, Destination.FAMILY_USAGE + "[-s size] [-t ttl] [-w timeout] [--] host",
        "one latency probe with a self-built echo datagram",
        Destination.FAMILY_HELP
            + "  -s size      datagram bytes (IP header included), 64..1024 (default 64)\n"
            + "  -t ttl       time to live (IPv6: hop limit), 2..255 (default 64)\n"
            + "  -w timeout   milliseconds each of the three tries waits, 1..3600000"
            + " (default 2000)\n"
            + "Exit status: 0 a reply came, 1 no reply, 2 any other failure or a bad command"
            + " line.\n"
            + "Needs root or CAP_NET_RAW, or the user's group in"
            + " net.ipv4.ping_group_range.\n");

    private LatencyCommand() {}

    static int run(Args args) throws Exception {
        int size = args.number('s', 64, 64, 1024);
        // The probe takes a time to live of 0 or 1 as "the default": refuse those.
        int ttl = args.number('t', 64, 2, 255);
        int timeout = args.number('w', 2000, 1, 3_600_000);
        Destination dest = Destination.resolve(args, args.single("host"));
        int[] result = {1};
        LatencyListener listener = new LatencyListener() {
            @Override
            public void handleLatency(
                int id, int seq, int to, int rc, double latency, int datalen, int to2) {
                handleLatency6(id, seq, null, rc, latency, datalen);
            }

            // Both families end here; the destination is the one given.
            @Override
            public void handleLatency6(
                int id, int seq, byte[] to, int rc, double latency, int datalen) {
                if (seq == 0) {
                    // No try was made: the probe's sockets or buffers could not be had.
                    result[0] = 2;
                    System.err.println(
                        "orvela latency: " + (rc == -11 ? "out of memory" : Orvela.NO_ICMP_SOCKET));
                } else if (rc == 0) {
                    result[0] = 0;
                    System.out.printf("latency to %s: %.3f ms (%d bytes, try %d of 3)%n",
                        dest.text(), latency, datalen, seq);
                } else {
                    System.out.printf("latency to %s: no answer in %d tries of %d ms%n",
                        dest.text(), seq, timeout);
                }
            }
        };
        if (dest.ipv6()) {
            ASM.getLatency6(0, dest.bytes(), ttl, size, 0, timeout, listener);
        } else {
            ASM.getLatency(0, dest.ipv4() & 0xffffffffL, ttl, size, 0, timeout, listener);
        }
        return result[0];
    }
}
