package com.orvela.test.orb;

/**
 * The process's kernel handles and C runtime descriptors, counted (Windows only); the pipe
 * suite counts with it too.
 */
public final class WindowsCensus {
    static {
        System.loadLibrary("orbcensus");
    }

    private WindowsCensus() {}

    /** "handles=N,descriptors=M". */
    public static native String census();
}
