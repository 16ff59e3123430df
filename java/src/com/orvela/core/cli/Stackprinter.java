package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.IOException;

/** Makes the VM print a dump of all its threads (the channel library carries the natives). */
public final class Stackprinter {
    static {
        NativeLibraries.load(System.getProperty("os.name").startsWith("Windows") ? "Ductway" : "Lanterra");
    }

    private Stackprinter() {}

    /**
     * Asks for a thread dump on the VM's output. (HotSpot prints it on standard output unless
     * started with -XX:+DisplayVMOutputToStderr.) On Linux the VM is sent SIGQUIT and this returns
     * at once. On Windows, where the VM's break handler is not in the C runtime's signal table,
     * the VM's own dump is taken through its attach mechanism and printed before this returns.
     * Does nothing when no dump can be had: a Linux VM started with -Xrs (no SIGQUIT handler), a
     * Windows VM with -XX:+DisableAttachMechanism (which makes the VM refuse only after some ten
     * seconds).
     */
    public static native void dump0();

    /**
     * Writes a thread dump into {@code filename}, which is created or truncated (on Linux never
     * through a symbolic link at that name). For ten seconds the process's standard error
     * (descriptor 2 of the C runtime) goes into that file, whoever writes to it; a call made
     * meanwhile, through this class or another with these natives, waits for this one to finish.
     * On Linux, HotSpot must be started with -XX:+DisplayVMOutputToStderr for the dump itself to
     * reach the file; on Windows the VM's own dump goes into the file as the ten seconds begin.
     *
     * @throws IOException when the file can't be opened (on Linux: or is a symbolic link),
     *     standard error can't be redirected, or no dump can be had (the message says why)
     * @throws NullPointerException when {@code filename} is null
     */
    public static native void dump1(String filename) throws IOException;
}
