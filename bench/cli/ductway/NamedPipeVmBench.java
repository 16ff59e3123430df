package com.orvela.bench;

import com.orvela.core.cli.NamedPipeClient;
import com.orvela.core.cli.NamedPipeServer;
import java.io.File;
import java.io.IOException;
import java.util.List;

/**
 * The named pipe between two processes of the real Windows Java VM: throughput with 64 KiB
 * writes and the 100-byte round trip, best of a few runs. The server (this VM) starts the
 * client VM itself and prints "throughput MIBPS" and "round_trip US".
 *
 * <pre>
 * NamedPipeVmBench            the server, the measuring side
 * NamedPipeVmBench client P   the client VM on pipe P
 * </pre>
 */
public final class NamedPipeVmBench {
    private static final int CHUNK = 64 * 1024;
    private static final int CHUNKS = 1024;  // 64 MiB per throughput run
    private static final int SMALL = 100;
    private static final int ROUND_TRIPS = 2000;
    private static final int RUNS = 5;
    private static final int WAIT = 60_000;

    public static void main(String[] args) throws Exception {
        if (args.length == 2 && args[0].equals("client")) {
            client(args[1]);
        } else {
            server();
        }
    }

    /** Reads until {@code length} bytes came. */
    private static void readAll(NamedPipeServer server, NamedPipeClient client, long length)
            throws IOException {
        for (long got = 0; got < length;) {
            byte[] b = server != null ? server.read(WAIT) : client.read(WAIT);
            if (b == null) throw new IOException("end of stream after " + got + " bytes");
            got += b.length;
        }
    }

    private static void server() throws Exception {
        String pipe = "\\\\.\\pipe\\orvela-bench-" + ProcessHandle.current().pid();
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        Process peer = new ProcessBuilder(List.of(java,
                "-Djava.library.path=" + System.getProperty("java.library.path"),
                "-cp", System.getProperty("java.class.path"), NamedPipeVmBench.class.getName(),
                "client", pipe)).inheritIO().start();
        double bestMiB = 0;
        double bestUs = Double.MAX_VALUE;
        try (NamedPipeServer server = new NamedPipeServer(pipe, 3, 0, 1, CHUNK, CHUNK, 0)) {
            server.connect(120_000);
            byte[] chunk = new byte[CHUNK];
            byte[] small = new byte[SMALL];
            for (int run = 0; run < RUNS; run++) {
                // Throughput: the client acknowledges with one byte once everything came.
                long start = System.nanoTime();
                for (int i = 0; i < CHUNKS; i++) server.write(chunk, 0, CHUNK, WAIT);
                readAll(server, null, 1);
                double seconds = (System.nanoTime() - start) / 1e9;
                bestMiB = Math.max(bestMiB, CHUNKS * (CHUNK / 1048576.0) / seconds);
                // Round trips: the client echoes each message.
                start = System.nanoTime();
                for (int i = 0; i < ROUND_TRIPS; i++) {
                    server.write(small, 0, SMALL, WAIT);
                    readAll(server, null, SMALL);
                }
                bestUs = Math.min(bestUs, (System.nanoTime() - start) / 1e3 / ROUND_TRIPS);
            }
        }
        if (peer.waitFor() != 0) throw new IOException("the client VM failed");
        System.out.printf("throughput %.1f%nround_trip %.1f%n", bestMiB, bestUs);
    }

    private static void client(String pipe) throws IOException {
        try (NamedPipeClient client = new NamedPipeClient(pipe, 0xC0000000)) {
            byte[] small = new byte[SMALL];
            for (int run = 0; run < RUNS; run++) {
                readAll(null, client, (long) CHUNK * CHUNKS);
                client.write(small, 0, 1, WAIT);
                for (int i = 0; i < ROUND_TRIPS; i++) {
                    readAll(null, client, SMALL);
                    client.write(small, 0, SMALL, WAIT);
                }
            }
        }
    }
}
