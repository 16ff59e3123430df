package com.orvela.core.icmp;

/** Receives the echo replies of the ping service, on the thread that runs the receive loop. */
public interface PingObserver {
    /**
     * One echo reply: the replying address (first octet in the most significant byte), the
     * request id it answers and the round-trip time in milliseconds; for another process's
     * reply the request id and the time are 0. An exception thrown here ends the receive loop
     * and propagates out of {@link JNIPingReceiver#nativeReceivePings}.
     */
    void removePingRequest(int address, short reqID, int rtt);
}
