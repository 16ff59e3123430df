package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/** The receiving half of the ping service. */
public final class JNIPingReceiver {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private JNIPingReceiver() {}

    /**
     * Runs the receive loop on {@code icmpsd} until the socket is shut down, reporting every echo
     * reply of this process to {@code observer}.
     */
    public static native void nativeReceivePings(int icmpsd, PingObserver observer);
}
