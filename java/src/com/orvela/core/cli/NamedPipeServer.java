package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.Closeable;
import java.io.IOException;

/** The server end of the local command-line channel on Windows: named pipe instances. */
public final class NamedPipeServer implements Closeable {
    static {
        NativeLibraries.load("Ductway");
    }

    /**
     * The native record's handle, a number the library issued (not an address); 0 when closed.
     * Read and cleared by the natives; a value the library did not issue reaches no record.
     */
    int handle;

    public NamedPipeServer(String name, int openMode, int pipeMode, int maxInstances,
            int outBufSize, int inBufSize, int defaultTimeout) throws IOException {
        handle = create0(name, openMode, pipeMode, maxInstances, outBufSize, inBufSize,
                defaultTimeout);
    }

    /** Waits up to {@code millis} (-1: no limit) for a client to open this instance. */
    public void connect(int millis) throws IOException {
        connect0(millis);
    }

    /** Drops the connected client; the instance can connect again. */
    public void disconnect() throws IOException {
        disconnect0();
    }

    /** The name of the user the connected client runs as. */
    public String getClientUserName() throws IOException {
        return getClientUserName0();
    }

    /** How many instances of this pipe name exist. */
    public int getCurrentInstances() throws IOException {
        return getCurrentInstances0();
    }

    /** What has arrived (see {@link #read0}); null at end of stream. */
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

    native int create0(String jName, int jOpenMode, int jPipeMode, int jMaxInstances,
            int jOutBufSize, int jInBufSize, int jDefaultTimeout) throws IOException;

    native void connect0(int jTimeout) throws IOException;

    native void disconnect0() throws IOException;

    native String getClientUserName0() throws IOException;

    native int getCurrentInstances0() throws IOException;

    native void close0() throws IOException;

    native void flush0() throws IOException;

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
}
