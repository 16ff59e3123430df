package com.orvela.test.icmp;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.TestInstance;

/**
 * A chain of network namespaces (client, routers, destination) built by trace-netns.sh, and
 * child VMs that run {@link ProbeMain} inside it. Addresses: the client is 198.18.0.1, router i
 * answers from 198.18.(i-1).2, the destination is 198.18.N.2; 198.19.1.1 is unreachable at
 * router 2, 198.19.2.1 prohibited at router 3, 198.19.3.1 a black hole at router 2. With no
 * routers, the destination also answers every address of 198.18.16.0/20. Over IPv6, router i
 * answers from 2001:db8:0:(i-1)::2, the destination is 2001:db8:0:N::2, and 2001:db8:1:1::1 is
 * unreachable (no route) at router 2, 2001:db8:1:2::1 prohibited at router 3, 2001:db8:1:3::1 a
 * black hole at router 2.
 */
final class Topology {
    private static final String SCRIPT = System.getProperty("orvela.test.netns");
    /** Runs a child as an ordinary user (nobody, nogroup). */
    static final List<String> NOBODY =
            List.of("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups");

    final String prefix;
    final int routers;

    Topology(String tag, int routers) throws Exception {
        this("orvtr", tag, routers);
    }

    /** A chain whose namespaces are named OWNER-PID-TAG-NODE. */
    Topology(String owner, String tag, int routers) throws Exception {
        this.prefix = owner + "-" + ProcessHandle.current().pid() + "-" + tag;
        this.routers = routers;
        run(60, "bash", SCRIPT, "down", prefix);
        Result up = run(60, "bash", SCRIPT, "up", prefix, Integer.toString(routers));
        assertEquals(0, up.exit, up.err);
    }

    void remove() throws Exception {
        run(60, "bash", SCRIPT, "down", prefix);
    }

    String ns(String node) {
        return prefix + "-" + node;
    }

    String destination() {
        return "198.18." + routers + ".2";
    }

    String destination6() {
        return "2001:db8:0:" + routers + "::2";
    }

    /** Runs ProbeMain with `commands` in the client namespace; returns its output lines. */
    List<String> probe(String... commands) throws Exception {
        return probeAs(List.of(), commands);
    }

    /**
     * As probe, with `wrapper` (e.g. setpriv and its options) in front of the child VM, which
     * may so run as another user: it runs from a copy anyone can read.
     */
    List<String> probeAs(List<String> wrapper, String... commands) throws Exception {
        List<String> prefix = new ArrayList<>(List.of("ip", "netns", "exec", ns("c")));
        prefix.addAll(wrapper);
        if (wrapper.isEmpty()) {
            try (ChildVm vm = ChildVm.start(prefix, List.of(), Map.of(), ProbeMain.class,
                    commands)) {
                return vm.awaitSuccess().out().lines().toList();
            }
        }
        try (ChildVm.ReadableCopy copy = ChildVm.ReadableCopy.make();
                ChildVm vm = ChildVm.startAs(prefix, copy, ProbeMain.class, commands)) {
            return vm.awaitSuccess().out().lines().toList();
        }
    }

    /** Lets the groups from `first` to `last` open datagram ICMP sockets in the client. */
    void allowPingGroups(int first, int last) throws Exception {
        Result r = run(60, "ip", "netns", "exec", ns("c"), "sysctl", "-qw",
                "net.ipv4.ping_group_range=" + first + " " + last);
        assertEquals(0, r.exit, r.err);
    }

    /** Runs one ProbeMain per command list in the client namespace, all at once. */
    List<List<String>> probeAtOnce(List<List<String>> processes) throws Exception {
        List<ChildVm> children = new ArrayList<>();
        try {
            for (List<String> commands : processes) {
                children.add(ChildVm.start(List.of("ip", "netns", "exec", ns("c")), List.of(),
                        Map.of(), ProbeMain.class, commands.toArray(new String[0])));
            }
            List<List<String>> lines = new ArrayList<>();
            for (ChildVm child : children) lines.add(child.awaitSuccess().out().lines().toList());
            return lines;
        } finally {
            for (ChildVm child : children) child.close();
        }
    }

    /** The hops `traceroute -n -q 1 -w 2 OPTIONS DEST` lists from the client, in order. */
    List<String> traceroute(String... optionsAndDest) throws Exception {
        List<String> cmd = new ArrayList<>(List.of("ip", "netns", "exec", ns("c"), "traceroute",
                "-n", "-q", "1", "-w", "2"));
        cmd.addAll(Arrays.asList(optionsAndDest));
        Result peer = run(60, cmd.toArray(new String[0]));
        assertEquals(0, peer.exit, peer.err);
        List<String> hops = new ArrayList<>();
        Matcher m = Pattern.compile("(?m)^\\s*\\d+\\s+(\\S+)").matcher(peer.out);
        while (m.find()) hops.add(m.group(1));
        return hops;
    }

    /**
     * A test class with a chain of three routers of its own, up from before its first case to
     * after its last.
     */
    @TestInstance(TestInstance.Lifecycle.PER_CLASS)
    abstract static class Chain {
        Topology net;

        @BeforeAll
        void up() throws Exception {
            net = new Topology(getClass().getSimpleName().toLowerCase(), 3);
        }

        @AfterAll
        void down() throws Exception {
            if (net != null) net.remove();
        }
    }

    /** The "took MS" lines of ProbeMain, one per command. */
    static List<Integer> took(List<String> lines) {
        return lines.stream().filter(l -> l.startsWith("took ")).map(l -> Integer.parseInt(
                l.substring(5))).toList();
    }

    record Result(int exit, String out, String err) {}

    /** Runs a command to its end, at most `seconds`; a command still running then fails. */
    static Result run(int seconds, String... command) throws IOException, InterruptedException {
        Path out = Files.createTempFile("orvtr-out", ".txt");
        Path err = Files.createTempFile("orvtr-err", ".txt");
        try {
            Process p = new ProcessBuilder(command).redirectOutput(out.toFile())
                    .redirectError(err.toFile()).start();
            boolean ended = p.waitFor(seconds, TimeUnit.SECONDS);
            if (!ended) {
                p.destroyForcibly().waitFor();
            }
            assertTrue(ended, "still running after " + seconds + " s: " + String.join(" ", command));
            return new Result(p.exitValue(), Files.readString(out, StandardCharsets.UTF_8),
                    Files.readString(err, StandardCharsets.UTF_8));
        } finally {
            Files.deleteIfExists(out);
            Files.deleteIfExists(err);
        }
    }

    /** One "hop" line of ProbeMain. */
    record Hop(int id, int seq, String address, int rc, double latency, int datalen, String dest,
            int done) {
        static List<Hop> of(List<String> lines) {
            return lines.stream().filter(l -> l.startsWith("hop ")).map(Hop::parse).toList();
        }

        static Hop parse(String line) {
            String[] f = line.split(" ");
            return new Hop(Integer.parseInt(f[1]), Integer.parseInt(f[2]), f[3],
                    Integer.parseInt(f[4]), Double.parseDouble(f[5]), Integer.parseInt(f[6]), f[7],
                    Integer.parseInt(f[8]));
        }
    }

    /** One "latency" line of ProbeMain. */
    record Latency(int id, int seq, String dest, int rc, double latency, int datalen,
            String dest2) {
        static List<Latency> of(List<String> lines) {
            return lines.stream().filter(l -> l.startsWith("latency ")).map(Latency::parse)
                    .toList();
        }

        static Latency parse(String line) {
            String[] f = line.split(" ");
            return new Latency(Integer.parseInt(f[1]), Integer.parseInt(f[2]), f[3],
                    Integer.parseInt(f[4]), Double.parseDouble(f[5]), Integer.parseInt(f[6]),
                    f[7]);
        }
    }
}
