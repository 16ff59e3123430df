package com.orvela.core.icmp;

/**
 * Receives the one report of a latency probe, on the probing thread. Throwing from
 * handleLatency reaches the caller of {@link ASM#getLatency}.
 */
public interface LatencyListener {
    /**
     * @param id the probe's identifier
     * @param seq the number of tries made; 0 when the set-up failed
     * @param dest the destination (first octet in the most significant byte)
     * @param rc the status code, 0 for a reply
     * @param latency the round-trip time in milliseconds, cut to whole microseconds; 0.0 unless
     *     rc is 0
     * @param datalen the datagram length used
     * @param dest2 the destination again
     */
    void handleLatency(int id, int seq, int dest, int rc, double latency, int datalen, int dest2);

    /**
     * The one report of {@link ASM#getLatency6}, with the arguments of {@link #handleLatency}
     * but the destination as given (the caller's own 16-byte array), once. Throwing reaches the
     * caller of {@link ASM#getLatency6}. Does nothing unless overridden.
     */
    default void handleLatency6(int id, int seq, byte[] dest, int rc, double latency, int datalen) {}
}
