package com.orvela.tools;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.HopListener;
import java.util.LinkedHashSet;
import java.util.Set;

/** A route trace, reported the way traceroute reports it. */
final class TraceCommand {
    static final Orvela.Entry ENTRY = new Orvela.Entry("msw", Destination.FAMILY_SWITCHES,
        TraceCommand::run,
        Destination.FAMILY_USAGE + "[-m max-hops] [-s size] [-w timeout] [--] host",
        "route trace with UDP probes, reported like traceroute",
        Destination.FAMILY_HELP
            + "  -m max-hops  highest time to live (IPv6: hop limit) probed, 2..255 (default 30)\n"
            + "  -s size      probe bytes (IP header included), 64..1024 (default 64)\n"
            + "  -w timeout   milliseconds each probe waits, 1..3600000 (default 2000)\n"
            + "Up to three probes per hop; a hop shows its answer's round trip, or * without one.\n"
            + "After the time, a hop's unreachable answer, which ends the trace: !N network,\n"
            + "!H host, !P protocol, !X administratively prohibited, !F fragmentation needed,\n"
            + "!S source route failed, !<code> another ICMP code; over IPv6: !N no route,\n"
            + "!X administratively prohibited, !H beyond scope or address unreachable,\n"
            + "!<code> another ICMPv6 code.\n"
            + "Exit status: 0 the host was reached, 1 it was not, 2 any other failure or a bad"
            + " command line.\n"
            + "Works for any user: it needs no privilege.\n");

    private TraceCommand() {}

    static int run(Args args) throws Exception {
        // The trace takes a hop limit of 0 or 1 as "the default" (25): refuse those.
        int maxHops = args.number('m', 30, 2, 255);
        int size = args.number('s', 64, 64, 1024);
        int timeout = args.number('w', 2000, 1, 3_600_000);
        Destination dest = Destination.resolve(args, args.single("host"));
        int id = (int) (ProcessHandle.current().pid() & 0xffff);
        String header = "trace to " + dest.host().replace("%", "%%") + " (" + dest.text() + "), "
            + maxHops + " hops max, %d byte packets%n";
        // The destination's port unreachable is the answer a trace waits for.
        int arrived = dest.ipv6() ? 4 : 3;
        int[] hop = {0};
        boolean[] reached = {false};
        String[] failure = {null};
        Set<String> marks = new LinkedHashSet<>();
        HopListener listener = new HopListener() {
            @Override
            public void handleUnreachable(int tid, int seq, int address, int icmpCode) {
                handleUnreachable6(tid, seq, Destination.bytes(address), icmpCode);
            }

            @Override
            public void handleHop(int tid, int seq, int address, int rc, double latency,
                    int datalen, int to, int done) {
                handleHop6(tid, seq, address == 0 ? null : Destination.bytes(address), rc, latency,
                    datalen, null, done);
            }

            // Both families end here: addresses of 4 or 16 bytes.
            @Override
            public void handleUnreachable6(int tid, int seq, byte[] address, int icmpCode) {
                if (icmpCode != arrived || !dest.is(address)) {
                    marks.add(dest.ipv6() ? mark6(icmpCode) : mark(icmpCode));
                }
            }

            @Override
            public void handleHop6(int tid, int seq, byte[] address, int rc, double latency,
                    int datalen, byte[] to, int done) {
                if (seq == 0 && done == 1 && rc != 0) {
                    failure[0] = setupFailure(rc);
                    return;
                }
                // Said once the trace runs (a trace that can't start says only why), with the
                // packet size the trace reports using.
                if (++hop[0] == 1) System.out.printf(header, datalen);
                String suffix = marks.isEmpty() ? "" : " " + String.join(" ", marks);
                System.out.printf("%2d  %s%n", hop[0], describe(address, rc, latency, suffix));
                reached[0] = address != null && dest.is(address);
                // The route trace goes on past a prohibited hop; traceroute stops there.
                boolean unreachable = !marks.isEmpty();
                marks.clear();
                if (unreachable && done == 0) throw new EndOfTrace();
            }
        };
        try {
            if (dest.ipv6()) {
                ASM.getTrace6(id, dest.bytes(), maxHops, size, -1, timeout, listener);
            } else {
                ASM.getTrace(id, dest.ipv4() & 0xffffffffL, maxHops, size, -1, timeout, listener);
            }
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

    /** traceroute -6's mark for an unreachable answer with ICMPv6 code `code`. */
    private static String mark6(int code) {
        switch (code) {
            case 0:
                return "!N";
            case 1:
                return "!X";
            case 2:
            case 3:
                return "!H";
            default:
                return "!" + code;
        }
    }

    private static String describe(byte[] address, int rc, double latency, String marks) {
        if (address == null) return "*";
        String where = Destination.text(address);
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
