package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/** Latency probe and route trace. Both calls block until their report is made. */
public final class ASM {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private ASM() {}

    /** Measures the round-trip time to {@code dest}; reports once to {@code listener}. */
    public static native void getLatency(int id, long dest, int ttl, long packetSize, int tos,
            int timeout, LatencyListener listener);

    /** Traces the route to {@code dest}; reports every hop to {@code listener}. */
    public static native void getTrace(int id, long dest, int ttl, long packetSize, int tos,
            int timeout, HopListener listener);
}
