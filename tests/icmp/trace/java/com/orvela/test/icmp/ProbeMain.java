package com.orvela.test.icmp;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.HopListener;

/**
 * Runs traces and latency probes in a child VM (inside a test namespace) and prints every report
 * on a line of its own, for the tests to read. Each argument is one command, its fields
 * separated by commas:
 * <pre>
 *   trace,ID,DEST,TTL,SIZE,TOS,TIMEOUT        one "hop ..." line per report, then "end"
 *   trace-throw,ID,DEST,TTL,SIZE,TOS,TIMEOUT  the listener throws on its first report
 *   latency,DEST,TTL,SIZE,TIMEOUT             one "latency ..." line
 * </pre>
 */
public final class ProbeMain {
    private ProbeMain() {}

    public static void main(String[] args) {
        for (String command : args) {
            String[] f = command.split(",");
            switch (f[0]) {
                case "trace" -> {
                    trace(f, ProbeMain::printHop);
                    System.out.println("end");
                }
                case "trace-throw" -> {
                    try {
                        trace(f, (id, seq, address, rc, latency, datalen, dest, done) -> {
                            printHop(id, seq, address, rc, latency, datalen, dest, done);
                            throw new IllegalStateException("stop");
                        });
                        System.out.println("returned");
                    } catch (IllegalStateException e) {
                        System.out.println("threw " + e.getMessage());
                    }
                }
                case "latency" -> ASM.getLatency(0, address(f[1]), Integer.parseInt(f[2]),
                        Long.parseLong(f[3]), 0, Integer.parseInt(f[4]),
                        (id, seq, dest, rc, latency, datalen, dest2) -> System.out.println(
                                "latency " + id + " " + seq + " " + dotted(dest) + " " + rc + " "
                                + latency + " " + datalen + " " + dotted(dest2)));
                default -> throw new IllegalArgumentException(command);
            }
        }
        System.out.flush();
    }

    private static void trace(String[] f, HopListener listener) {
        ASM.getTrace(Integer.parseInt(f[1]), address(f[2]), Integer.parseInt(f[3]),
                Long.parseLong(f[4]), Integer.parseInt(f[5]), Integer.parseInt(f[6]), listener);
    }

    private static void printHop(int id, int seq, int address, int rc, double latency,
            int datalen, int dest, int done) {
        System.out.println("hop " + id + " " + seq + " " + dotted(address) + " " + rc + " "
                + latency + " " + datalen + " " + dotted(dest) + " " + done);
    }

    /** The integer form of a dotted address: first number in the most significant byte. */
    public static long address(String dotted) {
        long value = 0;
        for (String part : dotted.split("\\.")) {
            value = (value << 8) | Integer.parseInt(part);
        }
        return value;
    }

    public static String dotted(int address) {
        return ((address >>> 24) & 0xff) + "." + ((address >>> 16) & 0xff) + "."
                + ((address >>> 8) & 0xff) + "." + (address & 0xff);
    }
}
