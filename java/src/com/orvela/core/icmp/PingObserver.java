package com.orvela.core.icmp;

/**
 * Receives the echo replies of the ping service, on the thread that runs the receive loop.
 *
 * <p>Round trips run from the request's send time to the reply's arrival as the kernel stamped
 * it (where it gives no stamp, to the moment the loop read the reply), so a slow observer or a
 * busy process doesn't lengthen the times of the replies queued behind it.
 *
 * <p>Microseconds: an observer whose class also has a method
 * {@code void removePingRequestMicros(int address, short reqID, long rttMicros)} gets that call
 * instead of {@link #removePingRequest}, with the same arguments and the round trip in
 * microseconds. The receive loop looks the method up on the observer's class once, when it
 * starts; it is deliberately not part of this interface (not even as a default method), so that
 * observers without it, lambdas among them, keep getting whole milliseconds.
 */
public interface PingObserver {
    /**
     * One echo reply: the replying address (first octet in the most significant byte), the
     * request id it answers and the round-trip time in whole milliseconds. Only this process's
     * replies arrive: the kernel holds back other processes' echo replies where it takes the
     * socket's filter; where it refuses it, those are reported with request id and time 0. An
     * exception thrown here ends the receive loop and propagates out of
     * {@link JNIPingReceiver#nativeReceivePings}.
     */
    void removePingRequest(int address, short reqID, int rtt);

    /**
     * One echo reply on an ICMPv6 socket (see {@link JNIPinger#nativeICMPInit6}): the replying
     * address (16 bytes, network order), the request id and the round-trip time in whole
     * milliseconds. As for IPv4, an observer whose class has a method
     * {@code void removePingRequest6Micros(byte[] address, short reqID, long rttMicros)} gets
     * that call instead, with the time in microseconds. Does nothing unless overridden.
     */
    default void removePingRequest6(byte[] address, short reqID, int rtt) {}
}
