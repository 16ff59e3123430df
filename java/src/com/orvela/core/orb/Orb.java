package com.orvela.core.orb;

import com.orvela.core.NativeLibraries;
import java.io.IOException;

/** Makes the VM print a dump of all its threads. */
public final class Orb {
    static {
        NativeLibraries.load("Stackprint");
    }

    private Orb() {}

    /**
     * Asks for a thread dump on the VM's standard error and returns at once. (HotSpot on Linux
     * prints it on standard output unless started with -XX:+DisplayVMOutputToStderr.) Does
     * nothing in a VM that has no handler for the dump signal, such as one started with -Xrs.
     */
    public static native void dump0();

    /**
     * Writes a thread dump into {@code filename}, which is created or truncated. For ten seconds
     * the whole process's standard error goes into that file, whoever writes to it; a call made
     * meanwhile waits for this one to finish. On Linux, HotSpot must be started with
     * -XX:+DisplayVMOutputToStderr for the dump itself to reach the file.
     *
     * @throws IOException when the file can't be opened, standard error can't be redirected, or
     *     the VM has no handler for the dump signal (-Xrs)
     * @throws NullPointerException when {@code filename} is null
     */
    public static native void dump1(String filename) throws IOException;
}
