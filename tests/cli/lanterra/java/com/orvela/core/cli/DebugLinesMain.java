package com.orvela.core.cli;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.nio.charset.StandardCharsets;

/**
 * Runs server and client of one conversation in this VM, {@code <server path>}, so that the
 * diagnostic lines of every native appear on standard error.
 */
public final class DebugLinesMain {
    public static void main(String[] args) throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(args[0], 1)) {
            UnixDomSocket client = new UnixDomSocket(args[0]);
            UnixDomSocket accepted = server.accept();
            accepted.getClientIdentity();
            // The first read waits for its bytes; the second finds more queued than its first
            // buffer takes and asks how many.
            Thread late = new Thread(() -> {
                try {
                    Thread.sleep(100);
                    client.write("hello".getBytes(StandardCharsets.US_ASCII));
                } catch (Exception e) {
                    throw new RuntimeException(e);
                }
            });
            late.start();
            accepted.setSoTimeout(30_000);
            if (accepted.read().length != 5) throw new IOException("short read");
            late.join();
            client.write(new byte[10_000]);
            if (accepted.read().length != 10_000) throw new IOException("short read");
            accepted.close();
            client.close();
            client.cleanup();  // after close, as documented
            server.setSoTimeout(1);
            try {
                server.accept();
                throw new IOException("a client appeared from nowhere");
            } catch (InterruptedIOException expected) {
                // the timed wait's lines are written
            }
        }
    }
}
