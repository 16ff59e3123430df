package com.orvela.test.orb;

/** The process's kernel handles and C runtime descriptors, counted (Windows only). */
final class WindowsCensus {
    static {
        System.loadLibrary("orbcensus");
    }

    private WindowsCensus() {}

    /** "handles=N,descriptors=M". */
    static native String census();
}
