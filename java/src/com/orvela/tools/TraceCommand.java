package com.orvela.tools;

import com.orvela.core.icmp.ASM;

/** A route trace, reported the way traceroute reports it. */
final class TraceCommand {
    static final Orvela.Spec SPEC = new Orvela.Spec("msw", "", TraceCommand::run,
        "[-m max-hops] [-s size] [-w timeout] [--] host",
        "route trace with UDP probes, reported like traceroute",
        "  -m max-hops  highest time to live probed, 2..255 (default 30)\n"
            + "  -s size      probe bytes (IPv4 header included), 64..1024 (default 64)\n"
            + "  -w timeout   milliseconds each probe waits, 1..3600000 (default 2000)\n"
            + "Up to three probes per hop; a hop shows its answer's round trip, or * without one.\n"
            + "!U after a time: the hop answered unreachable (network, host, fragmentation needed\n"
            + "or source route failed: the route trace reports these four alike).\n"
            + "Exit status: 0 the host was reached, 1 it was not, 2 any other failure or a bad"
            + " command line.\n"
            + "Needs root or CAP_NET_RAW (raw sockets).\n");

    private TraceCommand() {}

    static int run(Args args) throws Exception {
        // The trace takes a hop limit of 0 or 1 as "the default" (25): refuse those.
        int maxHops = args.number('m', 30, 2, 255);
        int size = args.number('s', 64, 64, 1024);
        int timeout = args.number('w', 2000, 1, 3_600_000);
        String host = args.single("host");
        int dest = Ipv4.parse(host);
        int id = (int) (ProcessHandle.current().pid() & 0xffff);
        String header = "trace to " + host.replace("%", "%%") + " (" + Ipv4.format(dest) + "), "
            + maxHops + " hops max, %d byte packets%n";
        int[] hop = {0};
        boolean[] reached = {false};
        String[] failure = {null};
        ASM.getTrace(id, dest & 0xffffffffL, maxHops, size, -1, timeout,
            (tid, seq, address, rc, latency, datalen, to, done) -> {
                if (seq == 0 && done == 1 && rc != 0) {
                    failure[0] = setupFailure(rc);
                    return;
                }
                // Said once the trace runs (a trace that can't start says only why), with the
                // packet size the trace reports using.
                if (++hop[0] == 1) System.out.printf(header, datalen);
                System.out.printf("%2d  %s%n", hop[0], describe(address, rc, latency));
                reached[0] = address == dest;
            });
        if (failure[0] != null) throw new ToolException(2, failure[0]);
        return reached[0] ? 0 : 1;
    }

    private static String setupFailure(int rc) {
        switch (rc) {
            case -1:
            case -5:
                return "cannot open raw sockets: they need root or CAP_NET_RAW";
            case -6:
                return "cannot set up the probe socket";
            case -11:
                return "out of memory";
            case -13:
                return "the system has no \"icmp\" protocol entry (/etc/protocols)";
            default:
                return "the trace could not start (status " + rc + ")";
        }
    }

    private static String describe(int address, int rc, double latency) {
        if (address == 0) return "*";
        String where = Ipv4.format(address);
        switch (rc) {
            case 0:
                return String.format("%s  %.3f ms", where, latency);
            case -6:
                return String.format("%s  %.3f ms !U", where, latency);
            case -12:
                return where + "  *";
            default:
                return String.format("%s  (status %d)", where, rc);
        }
    }
}
