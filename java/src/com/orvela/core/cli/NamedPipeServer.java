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

    /**
     * Reads into {@code buf} (see {@link #read1}): the count read, -1 at end of stream. For
     * callers that reuse one buffer.
     */
    public int read(byte[] buf, int off, int len, int millis) throws IOException {
        return read1(buf, off, len, millis);
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

    /**
     * Closes the pipe end; may be called while other threads wait in this object's calls:
     * they return at once (read0 null, read1 -1, write0 and connect0 IOException "invalid
     * handle"), and the pipe's handles are released when the last of them has returned.
     */
    native void close0() throws IOException;

    native void flush0() throws IOException;

    /**
     * Returns every byte waiting in the pipe or, when none is, the first byte that arrives
     * within jTimeout milliseconds (-1: no limit); null once the other end has closed or
     * disconnected, or when this object is closed while the read waits. An expired wait throws InterruptedIOException "timeout". In message read
     * mode one call returns at most one message; what it leaves comes with the next calls. A
     * second read while one runs on this object throws IOException at once.
     */
    native byte[] read0(int jTimeout) throws IOException;

    /**
     * Reads up to jLen bytes into jBuf from jOff and returns how many (at least 1), waiting up
     * to jTimeout milliseconds (-1: no limit) when nothing has arrived; -1 once the other end
     * has closed or disconnected, or when this object is closed while the read waits. jLen 0
     * returns 0 at once. An expired wait throws InterruptedIOException "timeout"; a range
     * outside jBuf throws ArrayIndexOutOfBoundsException, a null jBuf NullPointerException,
     * before anything is read. Unlike read0 it takes what has arrived up to jLen bytes in one
     * call. In message read mode one call returns at most one message. It counts as a read:
     * a second one (or a read0) while one runs on this object throws IOException at once.
     */
    native int read1(byte[] jBuf, int jOff, int jLen, int jTimeout) throws IOException;

    /**
     * Writes jLen bytes of jBuf from jOff, waiting up to jTimeout milliseconds (-1: no limit).
     * An expired wait throws InterruptedIOException "timeout" whose bytesTransferred counts
     * the bytes the system reports as taken (a retry sends the rest). A second write while one
     * runs on this object throws IOException at once.
     */
    native void write0(byte[] jBuf, int jOff, int jLen, int jTimeout) throws IOException;
}
