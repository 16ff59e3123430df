package com.orvela.bench;

import com.orvela.core.cli.NamedPipeClient;
import com.orvela.core.cli.NamedPipeServer;
import java.io.Closeable;
import java.io.File;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.List;

/**
 * The named pipe between two processes of the real Windows Java VM: throughput with 64 KiB
 * writes and the 100-byte round trip, best of a few passes, against one Ductway server (this
 * VM) and clients of five kinds, each a VM of its own, started in turn for every round so that
 * the kinds meet the machine alike:
 *
 * <ul>
 *   <li>{@code read0}: NamedPipeClient, a new array per read (read0);
 *   <li>{@code read1}: NamedPipeClient reading into one reused array;
 *   <li>{@code filechannel}: the JDK's FileChannel on the pipe's name, one reused buffer;
 *   <li>{@code filechannel-newarray}: the same making a new array per read, as read0 does;
 *   <li>{@code raf}: the JDK's RandomAccessFile, one reused array.
 * </ul>
 *
 * Prints one line per round and kind, "KIND ROUND MIBPS US".
 *
 * <pre>
 * NamedPipeVmBench [rounds]       the server, the measuring side
 * NamedPipeVmBench client KIND P  a client VM of KIND on pipe P
 * </pre>
 */
public final class NamedPipeVmBench {
    private static final int CHUNK = 64 * 1024;
    private static final int CHUNKS = 512;  // 32 MiB per throughput pass
    private static final int READ_ROOM = 4 * CHUNK;
    private static final int SMALL = 100;
    private static final int ROUND_TRIPS = 1000;
    private static final int PASSES = 3;
    private static final int WAIT = 60_000;
    private static final List<String> KINDS =
            List.of("read0", "read1", "filechannel", "filechannel-newarray", "raf");

    public static void main(String[] args) throws Exception {
        if (args.length == 3 && args[0].equals("client")) {
            client(args[1], args[2]);
        } else {
            server(args.length == 1 ? Integer.parseInt(args[0]) : 3);
        }
    }

    /** Reads until {@code length} bytes came. */
    private static void readAll(End end, long length) throws IOException {
        for (long got = 0; got < length;) {
            int n = end.read();
            if (n < 0) throw new IOException("end of stream after " + got + " bytes");
            got += n;
        }
    }

    private static void server(int rounds) throws Exception {
        String pipe = "\\\\.\\pipe\\orvela-bench-" + ProcessHandle.current().pid();
        String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java";
        try (NamedPipeServer server = new NamedPipeServer(pipe, 3, 0, 1, CHUNK, CHUNK, 0)) {
            End end = new ServerEnd(server);
            byte[] chunk = new byte[CHUNK];
            byte[] small = new byte[SMALL];
            for (int round = 1; round <= rounds; round++) {
                for (String kind : KINDS) {
                    Process peer = new ProcessBuilder(List.of(java,
                            "-Djava.library.path=" + System.getProperty("java.library.path"),
                            "-cp", System.getProperty("java.class.path"),
                            NamedPipeVmBench.class.getName(), "client", kind, pipe))
                            .inheritIO().start();
                    // Drops the previous round's client first.
                    server.connect(120_000);
                    double bestMiB = 0;
                    double bestUs = Double.MAX_VALUE;
                    for (int pass = 0; pass < PASSES; pass++) {
                        // Throughput: the client acknowledges with one byte once everything came.
                        long start = System.nanoTime();
                        for (int i = 0; i < CHUNKS; i++) server.write(chunk, 0, CHUNK, WAIT);
                        readAll(end, 1);
                        double seconds = (System.nanoTime() - start) / 1e9;
                        bestMiB = Math.max(bestMiB, CHUNKS * (CHUNK / 1048576.0) / seconds);
                        // Round trips: the client echoes each message.
                        start = System.nanoTime();
                        for (int i = 0; i < ROUND_TRIPS; i++) {
                            server.write(small, 0, SMALL, WAIT);
                            readAll(end, SMALL);
                        }
                        bestUs = Math.min(bestUs, (System.nanoTime() - start) / 1e3 / ROUND_TRIPS);
                    }
                    if (peer.waitFor() != 0) throw new IOException("the " + kind + " client VM failed");
                    System.out.printf("%s %d %.1f %.1f%n", kind, round, bestMiB, bestUs);
                }
            }
        }
    }

    private static void client(String kind, String pipe) throws Exception {
        try (End end = open(kind, pipe)) {
            byte[] small = new byte[SMALL];
            for (int pass = 0; pass < PASSES; pass++) {
                readAll(end, (long) CHUNK * CHUNKS);
                end.write(small, 1);
                for (int i = 0; i < ROUND_TRIPS; i++) {
                    readAll(end, SMALL);
                    end.write(small, SMALL);
                }
            }
        }
    }

    /** One end of the pipe as the benchmark uses it. */
    private interface End extends Closeable {
        /** Reads what has arrived (waiting for the first byte): the count, -1 at the end. */
        int read() throws IOException;

        void write(byte[] b, int len) throws IOException;
    }

    /** The server's end: read0, the same for every kind of client. */
    private static final class ServerEnd implements End {
        private final NamedPipeServer server;

        ServerEnd(NamedPipeServer server) {
            this.server = server;
        }

        public int read() throws IOException {
            byte[] b = server.read(WAIT);
            return b == null ? -1 : b.length;
        }

        public void write(byte[] b, int len) throws IOException {
            server.write(b, 0, len, WAIT);
        }

        public void close() {}
    }

    private static End open(String kind, String pipe) throws Exception {
        if (kind.equals("read0") || kind.equals("read1")) {
            NamedPipeClient client = new NamedPipeClient(pipe, 0xC0000000);
            byte[] room = new byte[READ_ROOM];
            boolean reuse = kind.equals("read1");
            return new End() {
                public int read() throws IOException {
                    if (reuse) return client.read(room, 0, room.length, WAIT);
                    byte[] b = client.read(WAIT);
                    return b == null ? -1 : b.length;
                }

                public void write(byte[] b, int len) throws IOException {
                    client.write(b, 0, len, WAIT);
                }

                public void close() throws IOException {
                    client.close();
                }
            };
        }
        // The JDK opens the pipe at once or fails: while the server has not yet offered the
        // instance again, it tries once more.
        for (int attempt = 0;; attempt++) {
            try {
                return openJdk(kind, pipe);
            } catch (IOException e) {
                if (attempt == 200) throw e;
                Thread.sleep(50);
            }
        }
    }

    private static End openJdk(String kind, String pipe) throws IOException {
        if (kind.equals("raf")) {
            RandomAccessFile file = new RandomAccessFile(pipe, "rw");
            byte[] room = new byte[READ_ROOM];
            return new End() {
                public int read() throws IOException {
                    return file.read(room, 0, room.length);
                }

                public void write(byte[] b, int len) throws IOException {
                    file.write(b, 0, len);
                }

                public void close() throws IOException {
                    file.close();
                }
            };
        }
        FileChannel channel = FileChannel.open(Path.of(pipe), StandardOpenOption.READ, StandardOpenOption.WRITE);
        ByteBuffer room = ByteBuffer.allocateDirect(READ_ROOM);
        ByteBuffer out = ByteBuffer.allocateDirect(READ_ROOM);
        boolean newArray = kind.equals("filechannel-newarray");
        return new End() {
            byte sink;

            public int read() throws IOException {
                room.clear();
                int n = channel.read(room);
                if (n > 0 && newArray) {
                    byte[] b = new byte[n];
                    room.flip();
                    room.get(b);
                    sink ^= b[0];
                }
                return n;
            }

            public void write(byte[] b, int len) throws IOException {
                out.clear();
                out.put(b, 0, len).flip();
                while (out.hasRemaining()) channel.write(out);
            }

            public void close() throws IOException {
                channel.close();
            }
        };
    }
}
