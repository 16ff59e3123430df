package com.orvela.core.cli;

import com.orvela.core.NativeLibraries;
import java.io.Closeable;
import java.io.IOException;

/**
 * The server end of the local command-line channel on Unix: a listening Unix-domain stream socket
 * bound to a path chosen by the caller. Each accepted client carries the user it runs as.
 */
public final class UnixDomServerSocket implements Closeable {
    static {
        NativeLibraries.load("Lanterra");
    }

    /** The native record's handle; 0 when closed. Read and cleared by the natives. */
    int handle;

    /**
     * Binds and listens on {@code path}; the socket file stays after {@link #close}. An empty path
     * is refused with an IOException "No such file or directory".
     */
    public UnixDomServerSocket(String path, int backlog) throws IOException {
        handle = create0(path, backlog);
    }

    /**
     * Waits for a client (see {@link #setSoTimeout}) and checks who it is. Any number of threads
     * may accept at once; each gets its own client or its InterruptedIOException "timeout" within
     * the limit. A thread waiting here when another closes the server gets an IOException
     * "Invalid handle", never a client of a socket opened later.
     */
    public UnixDomSocket accept() throws IOException {
        return accept0();
    }

    /** Limits each later {@link #accept} to {@code millis}; 0 or less waits without limit. */
    public void setSoTimeout(int millis) throws IOException {
        setSoTimeout0(millis);
    }

    /**
     * Closes the server. Threads waiting in {@link #accept} return at once (see there); the
     * socket is released when the last of them has returned. Calls made after the close throw
     * an IOException "Invalid handle".
     */
    @Override
    public void close() throws IOException {
        close0();
    }

    native int create0(String jPath, int jBacklog) throws IOException;

    native void setSoTimeout0(int jTimeout) throws IOException;

    native UnixDomSocket accept0() throws IOException;

    native void close0() throws IOException;
}
