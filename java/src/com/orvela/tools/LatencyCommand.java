package com.orvela.tools;

import com.orvela.core.icmp.ASM;

/** One latency probe, reported in one line. */
final class LatencyCommand {
    private LatencyCommand() {}

    static int run(Args args) throws Exception {
        int size = args.intOption("-s", 64);
        int ttl = args.intOption("-t", 64);
        int timeout = args.intOption("-w", 2000);
        String host = args.single("address");
        int dest = Ipv4.parse(host);
        int[] result = new int[1];
        ASM.getLatency(0, dest & 0xffffffffL, ttl, size, 0, timeout,
            (id, seq, to, rc, latency, datalen, to2) -> {
                result[0] = rc;
                if (rc == 0) {
                    System.out.printf("latency to %s: %.3f ms (%d bytes, id %d, try %d)%n",
                        Ipv4.format(to), latency, datalen, id, seq);
                } else {
                    System.out.printf("latency to %s: no answer (status %d after %d tries)%n",
                        Ipv4.format(to), rc, seq);
                }
            });
        return result[0] == 0 ? 0 : 1;
    }
}
