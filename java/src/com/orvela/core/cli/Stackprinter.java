package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.IOException;

/** Makes the VM print a dump of all its threads (the channel library carries the natives). */
public final class Stackprinter {
    static {
        NativeLibraries.load(System.getProperty("os.name").startsWith("Windows") ? "Ductway" : "Lanterra");
    }

    private Stackprinter() {}

    /** Asks for a thread dump on the VM's standard error; returns at once. */
    public static native void dump0();

    /**
     * Writes a thread dump into {@code filename}, which is created or truncated. For ten seconds
     * the whole process's standard error goes into that file. Calls must not overlap.
     */
    public static native void dump1(String filename) throws IOException;
}
