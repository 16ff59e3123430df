package com.orvela.tools;

import com.orvela.core.icmp.ASM;

/** A route trace, reported the way traceroute reports it. */
final class TraceCommand {
    private TraceCommand() {}

    static int run(Args args) throws Exception {
        int maxHops = args.intOption("-m", 30);
        int size = args.intOption("-s", 64);
        int timeout = args.intOption("-w", 2000);
        String host = args.single("address");
        int dest = Ipv4.parse(host);
        int id = (int) (ProcessHandle.current().pid() & 0xffff);
        System.out.printf("trace to %s (%s), %d hops max, %d byte packets%n", host,
            Ipv4.format(dest), maxHops, size);
        int[] hop = {0};
        boolean[] reached = {false};
        ASM.getTrace(id, dest & 0xffffffffL, maxHops, size, -1, timeout,
            (tid, seq, address, rc, latency, datalen, to, done) -> {
                if (seq == 0 && done == 1 && rc != 0) {
                    System.out.printf("trace could not start: status %d%n", rc);
                    return;
                }
                ++hop[0];
                System.out.printf("%2d  %s%n", hop[0], describe(address, rc, latency));
                reached[0] = address == dest;
            });
        return reached[0] ? 0 : 1;
    }

    private static String describe(int address, int rc, double latency) {
        if (address == 0) return "*";
        String where = Ipv4.format(address);
        switch (rc) {
            case 0:
                return String.format("%s  %.3f ms", where, latency);
            case -6:
                return String.format("%s  %.3f ms !H", where, latency);
            case -12:
                return where + "  *";
            default:
                return String.format("%s  (status %d)", where, rc);
        }
    }
}
