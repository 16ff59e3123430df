package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.IOException;

/** Publishes the port of the framework's socket server in a named shared-memory block. */
public final class WinSockClientServer {
    static {
        NativeLibraries.load("Ductway");
    }

    /**
     * The mapping and the library's view of it while a port is advertised: numbers the library
     * issued (not the system's handle and address), set by advertisePort0 and passed back to
     * unadvertisePort0, which releases each once.
     */
    int mappedFileHandle;
    int mappedView;

    /**
     * Publishes {@code port} in the 1024-byte shared-memory block named {@code name}; an empty
     * name, which no other program could open, is refused with IOException.
     */
    public void advertisePort(String name, int port) throws IOException {
        advertisePort0(name, port);
    }

    /** Withdraws the advertised port. */
    public void unadvertisePort() throws IOException {
        unadvertisePort0(mappedFileHandle, mappedView);
    }

    native void advertisePort0(String jFilename, int jPort) throws IOException;

    native void unadvertisePort0(int jMappedFile, int jMappedView) throws IOException;
}
