package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.Closeable;
import java.io.IOException;

/** The client end of the local command-line channel on Windows. */
public final class NamedPipeClient implements Closeable {
    static {
        NativeLibraries.load("Ductway");
    }

    /**
     * The native record's handle, a number the library issued (not an address); 0 when closed.
     * Read and cleared by the natives; a value the library did not issue reaches no record.
     */
    int handle;

    public NamedPipeClient(String name, int access) throws IOException {
        handle = create0(name, access);
    }

    /** What has arrived, or the first byte within {@code millis}; null at end of stream. */
    public byte[] read(int millis) throws IOException {
        return read0(millis);
    }

    public void write(byte[] buf, int off, int len, int millis) throws IOException {
        write0(buf, off, len, millis);
    }

    public void flush() throws IOException {
        flush0();
    }

    @Override
    public void close() throws IOException {
        close0();
    }

    native int create0(String jName, int jAccess) throws IOException;

    /**
     * Returns every byte waiting in the pipe or, when none is, the first byte that arrives
     * within jTimeout milliseconds (-1: no limit); null once the other end has closed or
     * disconnected. An expired wait throws InterruptedIOException "timeout". In message read
     * mode one call returns at most one message; what it leaves comes with the next calls. A
     * second read while one runs on this object throws IOException at once.
     */
    native byte[] read0(int jTimeout) throws IOException;

    /**
     * Writes jLen bytes of jBuf from jOff, waiting up to jTimeout milliseconds (-1: no limit).
     * An expired wait throws InterruptedIOException "timeout" whose bytesTransferred counts
     * the bytes the system reports as taken (a retry sends the rest). A second write while one
     * runs on this object throws IOException at once.
     */
    native void write0(byte[] jBuf, int jOff, int jLen, int jTimeout) throws IOException;

    native void flush0() throws IOException;

    native void close0() throws IOException;
}
