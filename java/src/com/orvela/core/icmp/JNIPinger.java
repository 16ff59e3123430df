package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/** The sending half of the ping service: a raw ICMP socket and 64-byte echo requests. */
public final class JNIPinger {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private JNIPinger() {}

    /** Opens the raw ICMP socket; returns its descriptor, or -1 (the reason goes to the log file). */
    public static native int nativeICMPInit();

    /**
     * Sends one echo request to {@code dest} (first octet in the most significant byte) carrying
     * {@code reqID} as its sequence number; {@code reqID} and {@code ttl} are taken as unsigned
     * 16-bit values. Returns the number of bytes sent, or -1.
     */
    public static native int nativeSendPing(int icmpsd, int dest, short reqID, short ttl);

    /** Closes the socket; a receive loop running on it returns. */
    public static native void nativeICMPShutdown(int icmpsd);
}
