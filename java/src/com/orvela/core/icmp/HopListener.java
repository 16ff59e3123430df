package com.orvela.core.icmp;

/**
 * Receives the reports of a route trace, one per hop, on the tracing thread. A set-up failure
 * gives a single report with seq 0, address 0 and done 1. Throwing from handleHop ends the
 * trace; the exception reaches the caller of {@link ASM#getTrace}.
 */
public interface HopListener {
    /**
     * @param id the trace identifier
     * @param seq the number of the hop's latest probe; 0 in a set-up failure report
     * @param address the address that answered (first octet in the most significant byte), 0
     *     when none was accepted at this hop
     * @param rc the status code
     * @param latency the round-trip time in milliseconds of the hop's answer;
     *     -1.0 when no answer was accepted at this hop, 0.0 in a set-up failure report
     * @param datalen the probe length used
     * @param dest the destination as given
     * @param done 1 on the last report of the trace, else 0
     */
    void handleHop(int id, int seq, int address, int rc, double latency, int datalen, int dest,
            int done);

    /**
     * Called on the tracing thread just before a hop's report, once for each
     * destination-unreachable answer accepted at that hop, with the answer's ICMP code (0
     * network, 1 host, 2 protocol, 3 port, 4 fragmentation needed, 5 source route failed, 13
     * administratively prohibited, ...): the report's status code alone does not tell these
     * apart. Throwing ends the trace as throwing from handleHop does; the hop is then not
     * reported. Does nothing unless overridden.
     *
     * @param id the trace identifier
     * @param seq the number of the probe answered
     * @param address the address that answered (first octet in the most significant byte)
     * @param icmpCode the code of the answer, 0..255
     */
    default void handleUnreachable(int id, int seq, int address, int icmpCode) {}

    /**
     * A hop of {@link ASM#getTrace6}, with the arguments of {@link #handleHop} but the addresses
     * as 16 bytes: {@code address} is a new array, null when none was accepted at this hop (and
     * in a set-up failure report); {@code dest} is the caller's own array. Throwing ends the
     * trace; the exception reaches the caller of {@link ASM#getTrace6}. Does nothing unless
     * overridden.
     */
    default void handleHop6(int id, int seq, byte[] address, int rc, double latency, int datalen,
            byte[] dest, int done) {}

    /**
     * {@link #handleUnreachable} for {@link ASM#getTrace6}: called once for each ICMPv6
     * destination-unreachable (type 1) answer accepted at a hop, before its report, with the
     * answer's code (0 no route, 1 administratively prohibited, 2 beyond the scope of the source
     * address, 3 address unreachable, 4 port unreachable: the destination's own answer, 5 source
     * address failed policy, 6 reject route, ...). Packet too big (type 2) is not reported here.
     * Throwing ends the trace as throwing from handleHop6 does. Does nothing unless overridden.
     *
     * @param address the address that answered, 16 bytes
     */
    default void handleUnreachable6(int id, int seq, byte[] address, int icmpCode) {}
}
