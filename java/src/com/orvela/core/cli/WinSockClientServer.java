package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.IOException;

/** Publishes the port of the framework's socket server in a named shared-memory block. */
public final class WinSockClientServer {
    static {
        NativeLibraries.load("Ductway");
    }

    /** The mapping's handle and view while a port is advertised; set by the natives. */
    int mappedFileHandle;
    int mappedView;

    native void advertisePort0(String jFilename, int jPort) throws IOException;

    native void unadvertisePort0(int jMappedFile, int jMappedView) throws IOException;
}
