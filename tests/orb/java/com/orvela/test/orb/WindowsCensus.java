package com.orvela.test.orb;

import java.util.concurrent.locks.LockSupport;

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

    /**
     * The census once it holds still: the VM opens handles of its own for a moment, and a thread
     * that has been joined may not have closed its handles yet.
     */
    static String settled() {
        String census = census();
        for (int i = 0; i < 50; ++i) {
            LockSupport.parkNanos(100_000_000L);
            String again = census();
            if (again.equals(census)) break;
            census = again;
        }
        return census;
    }

    /** The count called {@code name} ("handles" or "descriptors") in a census. */
    public static int count(String census, String name) {
        for (String pair : census.split(",")) {
            String[] nameAndCount = pair.split("=");
            if (nameAndCount[0].equals(name)) return Integer.parseInt(nameAndCount[1]);
        }
        throw new IllegalArgumentException(name + " not in " + census);
    }
}
