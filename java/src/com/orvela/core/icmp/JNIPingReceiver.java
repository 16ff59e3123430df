package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/** The receiving half of the ping service. */
public final class JNIPingReceiver {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private JNIPingReceiver() {}

    /**
     * Runs the receive loop on {@code icmpsd} (a socket from {@link JNIPinger#nativeICMPInit})
     * until the socket is shut down, calling {@code observer} on this thread for every echo
     * reply to this process's requests, with its request id and round-trip time (see
     * {@link PingObserver} for the times, and for observers that take microseconds). On an
     * ICMPv6 socket (from {@link JNIPinger#nativeICMPInit6}) the replies go to
     * {@link PingObserver#removePingRequest6} (or {@code removePingRequest6Micros}) instead, each
     * with a new 16-byte array holding the sender.
     *
     * <p>Returns when {@link JNIPinger#nativeICMPShutdown} is called for the socket, or at once
     * when the socket is not open (the log file says why). If the observer throws, the loop
     * ends and the exception propagates out of this call; the socket stays open and a new loop
     * may be started on it. If the observer's class lacks both
     * {@code removePingRequestMicros(int, short, long)} and
     * {@code removePingRequest(int, short, int)} (on an ICMPv6 socket, both
     * {@code removePingRequest6Micros(byte[], short, long)} and
     * {@code removePingRequest6(byte[], short, int)}), the call throws {@link NoSuchMethodError}
     * without starting the loop. A null observer drains the socket without reporting.
     */
    public static native void nativeReceivePings(int icmpsd, PingObserver observer);
}
