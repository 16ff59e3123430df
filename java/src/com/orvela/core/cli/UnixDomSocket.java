package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.Closeable;
import java.io.IOException;

/**
 * One connection of the local command-line channel on Unix. A client connects with
 * {@link #UnixDomSocket(String)}; the server gets its end from {@link UnixDomServerSocket#accept}.
 */
public final class UnixDomSocket implements Closeable {
    static {
        NativeLibraries.load("Lanterra");
    }

    /** The native record's handle; 0 when closed. Read and cleared by the natives. */
    int handle;

    /**
     * Connects to the server listening at {@code path}, proving this process's user. An empty path
     * is refused with an IOException "No such file or directory".
     */
    public UnixDomSocket(String path) throws IOException {
        handle = create0(path);
    }

    /** The server's end of an accepted connection; made by the native accept. */
    UnixDomSocket(int handoverHandle) throws IOException {
        handle = create0(handoverHandle);
    }

    /**
     * The name of the user the client runs as (server ends only; a client end has none and
     * throws). The server has checked that this user owns the client's socket file and is the
     * user the system reports for the connection.
     */
    public String getClientIdentity() throws IOException {
        return getClientIdentity0();
    }

    /** Limits each later read to {@code millis}; 0 or less waits without limit. */
    public void setSoTimeout(int millis) throws IOException {
        setSoTimeout0(millis);
    }

    /**
     * The bytes that have arrived, at least one; null at end of stream, which is also what a read
     * waiting when another thread closes this socket returns.
     */
    public byte[] read() throws IOException {
        return read0();
    }

    /**
     * Reads into {@code buf} from {@code off}: the bytes that have arrived, at least one and at most
     * {@code len}, and returns their count; 0 at once when {@code len} is 0. Returns -1 at end of
     * stream, which is also what a read waiting when another thread closes this socket returns.
     * Waits and time-outs are those of {@link #read()}; a range outside {@code buf} throws
     * ArrayIndexOutOfBoundsException, a null {@code buf} NullPointerException. Made for callers
     * that reuse one buffer: nothing is allocated per read.
     */
    public int read(byte[] buf, int off, int len) throws IOException {
        return read1(buf, off, len);
    }

    /**
     * Sends all {@code len} bytes, waiting for room as long as it takes. When another thread
     * closes this socket meanwhile, the write ends with an IOException "Invalid handle"; the
     * bytes sent before stay sent.
     */
    public void write(byte[] buf, int off, int len) throws IOException {
        write0(buf, off, len);
    }

    public void write(byte[] buf) throws IOException {
        write0(buf, 0, buf.length);
    }

    public void flush() throws IOException {
        flush0();
    }

    /**
     * Closes the connection; the peer sees the end of the stream. Threads in a read or
     * {@link #write} on this socket return at once (see there) and never reach another
     * connection; the socket is released when the last of them has returned. Calls made after
     * the close throw an IOException "Invalid handle".
     */
    @Override
    public void close() throws IOException {
        close0();
    }

    /**
     * Removes this process's client socket file; call after {@link #close}, which is no failure.
     * A handle that was never this class's to have (a value written into the object other than 0)
     * is reported as an IOException "Invalid handle", after the file is removed all the same.
     */
    public void cleanup() throws IOException {
        cleanup0();
    }

    native int create0(int handle) throws IOException;

    native int create0(String jPath) throws IOException;

    native String getClientIdentity0() throws IOException;

    native void setSoTimeout0(int jTimeout) throws IOException;

    native byte[] read0() throws IOException;

    native int read1(byte[] jBuf, int jOff, int jLen) throws IOException;

    native void write0(byte[] jBuf, int jOff, int jLen) throws IOException;

    native void flush0() throws IOException;

    native void close0() throws IOException;

    native void cleanup0() throws IOException;
}
