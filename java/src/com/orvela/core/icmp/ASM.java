package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/**
 * Latency probe and route trace. Both calls block the calling thread until their reports are
 * made, and report every outcome, failures included, as a status code to their listener: they
 * throw nothing of their own. With the privilege for raw sockets (CAP_NET_RAW) both use raw
 * sockets; without it the probe uses a datagram ICMP socket, which the kernel opens only to the
 * groups in net.ipv4.ping_group_range, and the trace a UDP socket, which any user may open. An
 * exception thrown by the listener ends the call and reaches the caller; a null listener makes
 * the call return at once without probing.
 */
public final class ASM {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private ASM() {}

    /**
     * Measures the round-trip time to {@code dest} (first octet in the most significant byte of
     * the low 32 bits) with ICMP echo, up to three tries, and reports once to {@code listener}.
     * Each try waits at most {@code timeout} milliseconds in all (5000 when 0 or less), and an
     * ICMP error that quotes the try ends it at once. {@code ttl} 0 or 1 sends 25;
     * {@code packetSize} is limited to 64..1024 bytes. {@code id} and {@code tos} are not used:
     * every call takes the next identifier of the process (101, 102, ..., 65535, 100, ...), also
     * when calls run at the same time, skipping this process's ping identifier (pid &amp; 0xFFFF),
     * whose replies the ping service's receive loop takes as its own; the type of service is 0.
     * On a datagram ICMP socket the identifier on the wire is the kernel's; the report still
     * carries the call's own.
     *
     * <p>Status codes: 0 a reply was matched; -1 no reply in any try, or a socket could not be
     * opened (then no try is made); -11 no memory for the buffers.
     */
    public static native void getLatency(int id, long dest, int ttl, long packetSize, int tos,
            int timeout, LatencyListener listener);

    /**
     * Traces the route to {@code dest} (as for getLatency) with UDP probes of rising time to
     * live to ports 33434 + k, up to three per hop, and reports every hop to {@code listener}; the
     * last report carries done = 1. {@code id} (low 16 bits) is the probes' IP identification
     * and UDP source port: traces that run at the same time need different ids (on the UDP
     * socket of a process without the privilege, the system chooses the source port, and any
     * ids do). {@code ttl} is
     * the highest hop (0 or 1: 25); {@code packetSize} is limited to 64..1024 bytes;
     * {@code tos} is the type of service (negative: 0); each probe waits at most
     * {@code timeout} milliseconds in all (5000 when 0 or less).
     *
     * <p>Status codes: 0 answered (by a router or the destination); -1 a receive failed, or the
     * receive socket could not be opened; -4 an empty receive; -5 or -6 the send socket could
     * not be opened or set up (the only report); -6 also a network, host, fragmentation or
     * source-route unreachable answer; -11 no memory; -12 no answer in time; -13 the system has
     * no "icmp" protocol entry. The ICMP code of each unreachable answer goes to
     * {@link HopListener#handleUnreachable} before the hop's report.
     */
    public static native void getTrace(int id, long dest, int ttl, long packetSize, int tos,
            int timeout, HopListener listener);

    /**
     * {@link #getLatency} to an IPv6 host: {@code dest} is 16 bytes in network order, each try
     * an ICMPv6 echo request with the hop limit {@code ttl} (0 or 1: 25; the low 8 bits, 0
     * sending 1), from a raw ICMPv6 socket or, without the privilege, a datagram one (the groups
     * of net.ipv4.ping_group_range, as for IPv4). {@code packetSize} (limited to 64..1024 bytes)
     * counts the whole IPv6 datagram, its 40-byte header included. An ICMPv6 error that quotes a
     * try (destination unreachable, packet too big, time exceeded) ends it at once. Reports once
     * to {@link LatencyListener#handleLatency6}, with the identifiers and status codes of
     * {@link #getLatency}: 0 a reply; -1 no reply in any try, or no socket (then seq is 0);
     * -11 no memory.
     *
     * @throws NullPointerException when {@code dest} is null (nothing is probed)
     * @throws IllegalArgumentException when {@code dest} is not 16 bytes long
     */
    public static native void getLatency6(int id, byte[] dest, int ttl, long packetSize, int tos,
            int timeout, LatencyListener listener);

    /**
     * {@link #getTrace} to an IPv6 host: {@code dest} is 16 bytes in network order; UDP probes
     * to ports 33434 + k with rising hop limits, up to three per hop, from one UDP socket for
     * every user (root included), which takes the ICMPv6 answers off its error queue; the system
     * chooses the source port, so any {@code id} values may trace at the same time.
     * {@code packetSize} (limited to 64..1024 bytes) counts the whole IPv6 datagram, its 40-byte
     * header included; {@code tos} is the traffic class (negative: 0). Reports go to
     * {@link HopListener#handleHop6} and {@link HopListener#handleUnreachable6}, by the rules of
     * {@link #getTrace}, the ICMPv6 answers read as their IPv4 counterparts:
     * <ul>
     * <li>time exceeded (type 3, code 0): a router's answer, as IPv4's time exceeded; code 1
     * (reassembly) is ignored;
     * <li>destination unreachable (type 1) code 4, port unreachable: the destination answered,
     * the trace ends;
     * <li>type 1 codes 0 (no route) and 3 (address unreachable): as IPv4's network and host
     * unreachable, status -6, the trace ends after the hop's last probe;
     * <li>type 1 codes 1 (administratively prohibited), 2, 5, 6 and any other: as IPv4's codes 6
     * and above (13, administratively prohibited, among them), accepted like a router's answer
     * without changing anything more;
     * <li>packet too big (type 2): as IPv4's fragmentation needed, status -6 (it is not a type-1
     * answer, so it does not go to handleUnreachable6).
     * </ul>
     * Status codes: those of {@link #getTrace}; IPv6 adds none. -5 is the only report when the
     * UDP socket could not be opened.
     *
     * @throws NullPointerException when {@code dest} is null (nothing is traced)
     * @throws IllegalArgumentException when {@code dest} is not 16 bytes long
     */
    public static native void getTrace6(int id, byte[] dest, int ttl, long packetSize, int tos,
            int timeout, HopListener listener);
}
