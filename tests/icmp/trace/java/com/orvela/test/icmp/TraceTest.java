package com.orvela.test.icmp;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.icmp.Topology.Hop;
import com.orvela.test.icmp.Topology.Latency;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** Route traces across a chain of three routers, answered by the kernel in each namespace. */
class TraceTest extends Topology.Chain {
    private static List<String> addresses(List<Hop> hops) {
        return hops.stream().map(Hop::address).toList();
    }

    @Test
    void reportsEveryRouterInOrderThenTheDestinationAsTracerouteDoes() throws Exception {
        String dest = net.destination();
        List<Hop> hops = Hop.of(net.probe("trace,4242," + dest + ",0,10,-1,2000"));
        assertEquals(List.of("198.18.0.2", "198.18.1.2", "198.18.2.2", dest), addresses(hops));
        for (int i = 0; i < hops.size(); i++) {
            Hop hop = hops.get(i);
            assertEquals(4242, hop.id());
            assertEquals(i + 1, hop.seq());
            assertEquals(0, hop.rc());
            assertEquals(64, hop.datalen());
            assertEquals(dest, hop.dest());
            assertEquals(i == hops.size() - 1 ? 1 : 0, hop.done());
            assertTrue(hop.latency() >= 0, hop.toString());
        }
        assertEquals(net.traceroute(dest), addresses(hops));
    }

    /** The "hop" and "unreachable" lines, the hops' latency as "_". */
    private static List<String> reports(List<String> lines) {
        return lines.stream().filter(l -> l.startsWith("hop ") || l.startsWith("unreachable "))
                .map(l -> l.replaceFirst("^(hop (?:\\S+ ){4})\\S+", "$1_")).toList();
    }

    @Test
    void hostUnreachableFailsEveryProbeOfTheHopAndEndsTheTrace() throws Exception {
        // Each answer's code goes to handleUnreachable just before the hop's report.
        List<String> lines = net.probe("trace-codes,7,198.19.1.1,0,64,-1,2000");
        assertEquals(List.of("hop 7 1 198.18.0.2 0 _ 64 198.19.1.1 0",
                "unreachable 7 2 198.18.1.2 1", "unreachable 7 3 198.18.1.2 1",
                "unreachable 7 4 198.18.1.2 1", // three probes at hop 2
                "hop 7 4 198.18.1.2 -6 _ 64 198.19.1.1 1"), reports(lines));
    }

    @Test
    void prohibitedIsAcceptedLikeARouterUntilTheHighestHop() throws Exception {
        // A listener that keeps handleUnreachable's default gets the same reports.
        List<String> lines = net.probe("trace,8,198.19.2.1,4,64,-1,2000",
                "trace-codes,8,198.19.2.1,4,64,-1,2000");
        List<String> hops = List.of("hop 8 1 198.18.0.2 0 _ 64 198.19.2.1 0",
                "hop 8 2 198.18.1.2 0 _ 64 198.19.2.1 0", "hop 8 3 198.18.2.2 0 _ 64 198.19.2.1 0",
                "hop 8 4 198.18.2.2 0 _ 64 198.19.2.1 1");
        List<String> expected = new ArrayList<>(hops);
        expected.addAll(List.of(hops.get(0), hops.get(1), "unreachable 8 3 198.18.2.2 13",
                hops.get(2), "unreachable 8 4 198.18.2.2 13", hops.get(3)));
        assertEquals(expected, reports(lines));
    }

    @Test
    void theHighestHopRequestedIsTheLast() throws Exception {
        List<Hop> hops = Hop.of(net.probe("trace,11," + net.destination() + ",2,64,-1,2000"));
        assertEquals(List.of("198.18.0.2", "198.18.1.2"), addresses(hops));
        assertEquals(List.of(0, 1), hops.stream().map(Hop::done).toList());
    }

    @Test
    void aThrowingListenerStopsTheTraceWithItsException() throws Exception {
        List<String> lines = net.probe("trace-throw,12," + net.destination() + ",0,64,-1,2000");
        assertEquals(1, Hop.of(lines).size(), lines.toString());
        assertTrue(lines.contains("threw stop"), lines.toString());
    }

    @Test
    void withoutRawSocketsTracesTakeUdpAndLatencyProbesTheGroupsTheSystemAllows()
            throws Exception {
        String dest = net.destination();
        // Unreachable at router 1, which limits its unreachable answers on its own: the other
        // cases' answers from router 2 stay unspent.
        Topology.run(60, "ip", "-n", net.ns("r1"), "route", "replace", "unreachable",
                "198.19.4.0/24");
        String[] commands = {"trace-codes,13," + dest + ",0,64,-1,2000",
                "latency," + dest + ",64,64,2000", "latency,198.19.4.1,64,64,300",
                "latency,198.19.3.1,64,64,300"};
        List<String> asRoot = net.probe(commands);
        // The client's ping_group_range is a new namespace's, "1 0": no datagram ICMP socket.
        List<String> refused = net.probeAs(Topology.NOBODY, commands);
        assertEquals(reports(asRoot), reports(refused));
        Latency none = Latency.of(refused).get(0);
        assertEquals(List.of(-1, 0), List.of(none.rc(), none.seq())); // no try made

        net.allowPingGroups(65534, 65534);
        try {
            List<String> allowed = net.probeAs(Topology.NOBODY, commands);
            assertEquals(reports(asRoot), reports(allowed));
            List<String> statuses = Latency.of(allowed).stream()
                    .map(l -> l.dest() + " " + l.rc() + " " + l.seq()).toList();
            assertEquals(Latency.of(asRoot).stream()
                    .map(l -> l.dest() + " " + l.rc() + " " + l.seq()).toList(), statuses);
            assertEquals(List.of(dest + " 0 1", "198.19.4.1 -1 3", "198.19.3.1 -1 3"), statuses);
        } finally {
            net.allowPingGroups(1, 0);
        }
    }

    @Test
    void overIpv6EveryUserGetsTheHopsOfTracerouteTheUnreachableCodesAndTheLatencyStatuses()
            throws Exception {
        Topology net6 = new Topology("o6p", "trace", 3);
        try {
            String dest = net6.destination6();
            String[] commands = {"latency6," + dest + ",64,64,2000", // neighbour discovery first
                    "trace6-codes,21," + dest + ",0,10,-1,2000",
                    "trace6-codes,22,2001:db8:1:2::1,4,64,-1,2000",
                    "trace6-codes,23,2001:db8:1:1::1,0,64,-1,2000",
                    "trace6-codes,24,2001:db8:1:3::1,0,64,-1,300",
                    "latency6," + dest + ",64,64,2000", "latency6,2001:db8:1:1::1,64,64,300",
                    "latency6,2001:db8:1:3::1,64,64,300"};
            List<String> asRoot = net6.probe(commands);
            String r1 = "2001:db8:0:0:0:0:0:2";
            String r2 = "2001:db8:0:1:0:0:0:2";
            String r3 = "2001:db8:0:2:0:0:0:2";
            String d = "2001:db8:0:3:0:0:0:2";
            String prohibited = "2001:db8:1:2:0:0:0:1";
            String noRoute = "2001:db8:1:1:0:0:0:1";
            String silent = "2001:db8:1:3:0:0:0:1";
            List<String> expected = List.of("hop 21 1 " + r1 + " 0 _ 64 " + d + " 0",
                    "hop 21 2 " + r2 + " 0 _ 64 " + d + " 0", "hop 21 3 " + r3 + " 0 _ 64 " + d + " 0",
                    "unreachable 21 4 " + d + " 4", "hop 21 4 " + d + " 0 _ 64 " + d + " 1",
                    // administratively prohibited (code 1) is accepted like a router's answer
                    "hop 22 1 " + r1 + " 0 _ 64 " + prohibited + " 0",
                    "hop 22 2 " + r2 + " 0 _ 64 " + prohibited + " 0",
                    "unreachable 22 3 " + r3 + " 1", "hop 22 3 " + r3 + " 0 _ 64 " + prohibited + " 0",
                    "unreachable 22 4 " + r3 + " 1", "hop 22 4 " + r3 + " 0 _ 64 " + prohibited + " 1",
                    // no route (code 0) fails every probe of the hop and ends the trace
                    "hop 23 1 " + r1 + " 0 _ 64 " + noRoute + " 0",
                    "unreachable 23 2 " + r2 + " 0", "unreachable 23 3 " + r2 + " 0",
                    "unreachable 23 4 " + r2 + " 0", "hop 23 4 " + r2 + " -6 _ 64 " + noRoute + " 1",
                    "hop 24 1 " + r1 + " 0 _ 64 " + silent + " 0",
                    "hop 24 4 - -12 _ 64 " + silent + " 1");
            assertEquals(expected, reports(asRoot));

            assertEquals(net6.traceroute("-6", dest).stream()
                    .map(a -> ProbeMain.text6(ProbeMain.address6(a))).toList(),
                    Hop.of(asRoot).stream().filter(h -> h.id() == 21).map(Hop::address).toList());

            List<String> statuses = List.of(d + " 0 1", noRoute + " -1 3", silent + " -1 3");
            assertEquals(statuses, latencyStatuses(asRoot));
            // Without raw sockets: the same trace, and no latency probe at "1 0".
            List<String> refused = net6.probeAs(Topology.NOBODY, commands);
            assertEquals(expected, reports(refused));
            assertEquals(List.of(d + " -1 0", noRoute + " -1 0", silent + " -1 0"),
                    latencyStatuses(refused));
            net6.allowPingGroups(65534, 65534);
            List<String> allowed = net6.probeAs(Topology.NOBODY, commands);
            assertEquals(expected, reports(allowed));
            assertEquals(statuses, latencyStatuses(allowed));
        } finally {
            net6.remove();
        }
    }

    /** "DEST RC SEQ" of each latency report after the first (a warm-up). */
    private static List<String> latencyStatuses(List<String> lines) {
        List<Latency> all = Latency.of(lines);
        return all.subList(1, all.size()).stream().map(l -> l.dest() + " " + l.rc() + " "
                + l.seq()).toList();
    }

    /** Silence, under a flood that the probes' sockets must not wait on. */
    @Test
    void silenceTimesOutEveryProbeOfTheHopAndEndsTheTraceEvenUnderAPingFlood() throws Exception {
        Process flood = new ProcessBuilder("ip", "netns", "exec", net.ns("d"), "ping", "-q", "-f",
                "-w", "60", "198.18.0.1").redirectErrorStream(true)
                .redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        try {
            List<String> lines = net.probe("trace,14,198.19.3.1,0,64,-1,300",
                    "latency,198.19.3.1,64,64,300");
            List<Hop> hops = Hop.of(lines);
            assertEquals(List.of("198.18.0.2", "0.0.0.0"), addresses(hops));
            Hop last = hops.get(1);
            assertEquals(List.of(-12, 4, 1), List.of(last.rc(), last.seq(), last.done()));
            assertEquals(-1.0, last.latency()); // nothing measured at this hop
            Latency latency = Latency.of(lines).get(0);
            assertEquals(List.of(-1, 3, 64), List.of(latency.rc(), latency.seq(), latency.datalen()));
            assertEquals(0.0, latency.latency());
        } finally {
            flood.destroy();
            flood.waitFor(10, TimeUnit.SECONDS);
        }
    }

    @Test
    void anOnLinkAddressThatNeverResolvesEndsEachProbeWithinItsTimeOut() throws Exception {
        // Large datagrams waiting for address resolution fill the small send buffer.
        List<String> lines = net.probe("latency,198.18.0.99,64,1024,300",
                "trace,15,198.18.0.99,0,1024,-1,300");
        Latency latency = Latency.of(lines).get(0);
        assertEquals(List.of(-1, 3), List.of(latency.rc(), latency.seq()));
        Hop hop = Hop.of(lines).get(0);
        assertEquals(List.of(-12, 3, 1), List.of(hop.rc(), hop.seq(), hop.done()));
        for (int millis : Topology.took(lines)) assertTrue(millis < 1000, lines.toString());
    }

    @Test
    void probesOnTheWireFollowTheLayout() throws Exception {
        Path capture = Files.createTempFile("orvtr-probes", ".pcap");
        Path log = Files.createTempFile("orvtr-tcpdump", ".txt");
        Process tcpdump = new ProcessBuilder("ip", "netns", "exec", net.ns("c"), "tcpdump", "-Z",
                "root", "-i", "e0", "-U", "-n", "-c", "6", "-w", capture.toString(), "udp")
                .redirectErrorStream(true).redirectOutput(log.toFile()).start();
        try {
            for (int i = 0; i < 100 && !Files.readString(log).contains("listening on"); i++) {
                Thread.sleep(100);
            }
            String dest = net.destination();
            net.probe("trace,4660," + dest + ",2,100,16,2000", "trace,4661," + dest + ",2,10,-1,2000",
                    "trace,4662," + dest + ",2,5000,-1,2000");
            assertTrue(tcpdump.waitFor(20, TimeUnit.SECONDS), Files.readString(log));
            List<byte[]> probes = ipDatagrams(Files.readAllBytes(capture));
            assertEquals(6, probes.size());
            int[] ids = {4660, 4660, 4661, 4661, 4662, 4662};
            int[] lengths = {100, 100, 64, 64, 1024, 1024};
            for (int k = 0; k < probes.size(); k++) {
                ByteBuffer p = ByteBuffer.wrap(probes.get(k));
                int seq = k % 2 + 1;
                assertEquals(lengths[k], p.limit(), "probe " + k);
                assertEquals(0x45, p.get(0) & 0xff);
                assertEquals(k < 2 ? 16 : 0, p.get(1) & 0xff);
                assertEquals(lengths[k], p.getShort(2) & 0xffff);
                assertEquals(ids[k], p.getShort(4) & 0xffff);
                assertEquals(0, p.getShort(6));
                assertEquals(seq, p.get(8) & 0xff); // the hop is the time to live
                assertEquals(17, p.get(9) & 0xff);
                assertEquals(0, onesComplementSum(probes.get(k), 20)); // the system's checksum
                assertEquals(ProbeMain.address("198.18.0.1"), p.getInt(12) & 0xffffffffL);
                assertEquals(ProbeMain.address(dest), p.getInt(16) & 0xffffffffL);
                assertEquals(ids[k], p.getShort(20) & 0xffff);
                assertEquals(33434 + seq, p.getShort(22) & 0xffff);
                assertEquals(lengths[k] - 20, p.getShort(24) & 0xffff);
                assertEquals(0, p.getShort(26));
                assertEquals(seq, p.get(28));
                assertEquals(seq, p.get(29));
                for (int i = 30; i < lengths[k]; i++) assertEquals(0, p.get(i), "byte " + i);
            }
        } finally {
            tcpdump.destroy();
            tcpdump.waitFor(10, TimeUnit.SECONDS);
            Files.deleteIfExists(capture);
            Files.deleteIfExists(log);
        }
    }

    /** The IPv4 datagrams of an Ethernet capture file, in order. */
    private static List<byte[]> ipDatagrams(byte[] pcap) {
        ByteBuffer b = ByteBuffer.wrap(pcap).order(ByteOrder.LITTLE_ENDIAN);
        assertEquals(0xa1b2c3d4, b.getInt(0));
        List<byte[]> datagrams = new ArrayList<>();
        int at = 24;
        while (at + 16 <= pcap.length) {
            int captured = b.getInt(at + 8);
            byte[] d = new byte[captured - 14];
            System.arraycopy(pcap, at + 16 + 14, d, 0, d.length);
            datagrams.add(d);
            at += 16 + captured;
        }
        return datagrams;
    }

    private static int onesComplementSum(byte[] d, int length) {
        int sum = 0;
        for (int i = 0; i < length; i += 2) sum += ((d[i] & 0xff) << 8) | (d[i + 1] & 0xff);
        while ((sum >> 16) != 0) sum = (sum & 0xffff) + (sum >> 16);
        return ~sum & 0xffff;
    }
}
