package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.Closeable;
import java.io.IOException;

/** The client end of the local command-line channel on Windows. */
public final class NamedPipeClient implements Closeable {
    static {
        NativeLibraries.load("Ductway");
    }

    /** The native record's handle; 0 when closed. Read and cleared by the natives. */
    int handle;

    public NamedPipeClient(String name, int access) throws IOException {
        handle = create0(name, access);
    }

    @Override
    public void close() throws IOException {
        close0();
    }

    native int create0(String jName, int jAccess) throws IOException;

    native byte[] read0(int jTimeout) throws IOException;

    native void write0(byte[] jBuf, int jOff, int jLen, int jTimeout) throws IOException;

    native void flush0() throws IOException;

    native void close0() throws IOException;
}
