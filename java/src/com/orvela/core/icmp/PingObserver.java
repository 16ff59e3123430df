package com.orvela.core.icmp;

/** Receives the echo replies of the ping service. */
public interface PingObserver {
    /**
     * One echo reply: the replying address (first octet in the most significant byte), the
     * request id it answers, and the round-trip time.
     */
    void removePingRequest(int address, short reqID, int rtt);
}
