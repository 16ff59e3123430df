package com.orvela.tools;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.HopListener;
import java.util.LinkedHashSet;
import java.util.Set;

/** A route trace, reported the way traceroute reports it. */
final class TraceCommand {
    static final Orvela.Entry ENTRY = new Orvela.Entry("msw", "", TraceCommand::run,
        "[-m max-hops] [-s size] [-w timeout] [--] host",
        "route trace with UDP probes, reported like traceroute",
        "  -m max-hops  highest time to live probed, 2..255 (default 30)\n"
            + "  -s size      probe bytes (IPv4 header included), 64..1024 (default 64)\n"
            + "  -w timeout   milliseconds each probe waits, 1..3600000 (default 2000)\n"
            + "Up to three probes per hop; a hop shows its answer's round trip, or * without one.\n"
            + "After the time, a hop's unreachable answer, which ends the trace: !N network,\n"
            + "!H host, !P protocol, !X administratively prohibited, !F fragmentation needed,\n"
            + "!S source route failed, !<code> another ICMP code.\n"
            + "Exit status: 0 the host was reached, 1 it was not, 2 any other failure or a bad"
            + " command line.\n"
            + "Works for any user: it needs no privilege.\n");

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
        Set<String> marks = new LinkedHashSet<>();
        HopListener listener = new HopListener() {
            @Override
            public void handleUnreachable(int tid, int seq, int address, int icmpCode) {
                // The destination's port unreachable is the answer a trace waits for.
                if (icmpCode != 3 || address != dest) marks.add(mark(icmpCode));
            }

            @Override
            public void handleHop(int tid, int seq, int address, int rc, double latency,
                    int datalen, int to, int done) {
                if (seq == 0 && done == 1 && rc != 0) {
                    failure[0] = setupFailure(rc);
                    return;
                }
                // Said once the trace runs (a trace that can't start says only why), with the
                // packet size the trace reports using.
                if (++hop[0] == 1) System.out.printf(header, datalen);
                String suffix = marks.isEmpty() ? "" : " " + String.join(" ", marks);
                System.out.printf("%2d  %s%n", hop[0], describe(address, rc, latency, suffix));
                reached[0] = address == dest;
                // The route trace goes on past a prohibited hop; traceroute stops there.
                boolean unreachable = !marks.isEmpty();
                marks.clear();
                if (unreachable && done == 0) throw new EndOfTrace();
            }
        };
        try {
            ASM.getTrace(id, dest & 0xffffffffL, maxHops, size, -1, timeout, listener);
        } catch (EndOfTrace e) {
            // the hop's line is out
        }
        if (failure[0] != null) throw new ToolException(2, failure[0]);
        return reached[0] ? 0 : 1;
    }

    private static String setupFailure(int rc) {
        switch (rc) {
            case -1:
            case -5:
                return "cannot open a socket for the probes";
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

    /** Ends a trace from its listener. */
    private static final class EndOfTrace extends RuntimeException {
        private static final long serialVersionUID = 1L;

        EndOfTrace() {
            super(null, null, false, false);
        }
    }

    /** traceroute's mark for an unreachable answer with ICMP code `code`. */
    private static String mark(int code) {
        switch (code) {
            case 0:
                return "!N";
            case 1:
                return "!H";
            case 2:
                return "!P";
            case 4:
                return "!F";
            case 5:
                return "!S";
            case 9:
            case 10:
            case 13:
                return "!X";
            default:
                return "!" + code;
        }
    }

    private static String describe(int address, int rc, double latency, String marks) {
        if (address == 0) return "*";
        String where = Ipv4.format(address);
        switch (rc) {
            case 0:
            case -6:
                return String.format("%s  %.3f ms%s", where, latency, marks);
            case -12:
                // An earlier probe's answer, then silence.
                if (marks.isEmpty()) return where + "  *";
                return String.format("%s  %.3f ms%s  *", where, latency, marks);
            default:
                return String.format("%s  (status %d)", where, rc);
        }
    }
}
