package com.orvela.core.cli;

import java.io.IOException;
import java.io.PrintWriter;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

/**
 * One-way throughput with 64 KiB writes and the round trip of a 100-byte echo, through
 * UnixDomSocket.write0/read0 and through the JDK's SocketChannel on a UnixDomainSocketAddress,
 * side by side in one run. Usage: {@code <results tsv>}.
 */
public final class UnixChannelBench {
    private static final int CHUNK = 64 * 1024;
    private static final long STREAM_BYTES = 1L << 30;
    private static final int ECHO_BYTES = 100;
    private static final int ECHO_WARMUP = 5_000;
    private static final int ECHOES = 50_000;
    private static final int ROUNDS = 5;

    private static final ExecutorService peer = Executors.newSingleThreadExecutor();

    /**
     * The two ends of one connection, whichever implementation carries it. Each side reads the
     * way its API is meant to be used and copies nothing further: the JDK channel into a buffer
     * that the caller reuses, Lanterra into the new array that read0 returns. Either way the
     * caller ends up with the bytes in a Java array: {@code read} returns how many arrived, and
     * they are the start of {@code bytes()} of that end.
     */
    interface Pair extends AutoCloseable {
        void clientWrite(byte[] bytes, int length) throws IOException;

        int clientRead() throws IOException;

        byte[] clientBytes();

        void serverWrite(byte[] bytes, int length) throws IOException;

        int serverRead() throws IOException;

        byte[] serverBytes();
    }

    static final class LanterraPair implements Pair {
        final UnixDomServerSocket server;
        final UnixDomSocket client;
        final UnixDomSocket accepted;
        byte[] clientBytes;
        byte[] serverBytes;

        LanterraPair(Path path) throws IOException {
            server = new UnixDomServerSocket(path.toString(), 1);
            client = new UnixDomSocket(path.toString());
            accepted = server.accept();
        }

        private static byte[] orEnd(byte[] got) throws IOException {
            if (got == null) throw new IOException("end of stream");
            return got;
        }

        public void clientWrite(byte[] bytes, int length) throws IOException {
            client.write(bytes, 0, length);
        }

        public int clientRead() throws IOException {
            clientBytes = orEnd(client.read());
            return clientBytes.length;
        }

        public byte[] clientBytes() {
            return clientBytes;
        }

        public void serverWrite(byte[] bytes, int length) throws IOException {
            accepted.write(bytes, 0, length);
        }

        public int serverRead() throws IOException {
            serverBytes = orEnd(accepted.read());
            return serverBytes.length;
        }

        public byte[] serverBytes() {
            return serverBytes;
        }

        public void close() throws IOException {
            accepted.close();
            client.close();
            server.close();
            try {
                client.cleanup();
            } catch (IOException closedAlready) {
                // the file is removed all the same
            }
        }
    }

    static final class JdkPair implements Pair {
        final ServerSocketChannel server;
        final SocketChannel client;
        final SocketChannel accepted;
        // As much as one read0 returns at most.
        final byte[] clientBytes = new byte[4 * CHUNK];
        final byte[] serverBytes = new byte[4 * CHUNK];

        JdkPair(Path path) throws IOException {
            UnixDomainSocketAddress address = UnixDomainSocketAddress.of(path);
            server = ServerSocketChannel.open(StandardProtocolFamily.UNIX).bind(address);
            client = SocketChannel.open(address);
            accepted = server.accept();
        }

        private static void writeAll(SocketChannel channel, byte[] bytes, int length)
                throws IOException {
            ByteBuffer buffer = ByteBuffer.wrap(bytes, 0, length);
            while (buffer.hasRemaining()) channel.write(buffer);
        }

        private static int read(SocketChannel channel, byte[] into) throws IOException {
            int n = channel.read(ByteBuffer.wrap(into));
            if (n < 0) throw new IOException("end of stream");
            return n;
        }

        public void clientWrite(byte[] bytes, int length) throws IOException {
            writeAll(client, bytes, length);
        }

        public int clientRead() throws IOException {
            return read(client, clientBytes);
        }

        public byte[] clientBytes() {
            return clientBytes;
        }

        public void serverWrite(byte[] bytes, int length) throws IOException {
            writeAll(accepted, bytes, length);
        }

        public int serverRead() throws IOException {
            return read(accepted, serverBytes);
        }

        public byte[] serverBytes() {
            return serverBytes;
        }

        public void close() throws IOException {
            accepted.close();
            client.close();
            server.close();
        }
    }

    interface PairFactory {
        Pair open(Path path) throws IOException;
    }

    /** One measurement: the figure, and the process's processor time per unit of work. */
    record Result(double value, double cpuPerUnit) {}

    private static final com.sun.management.OperatingSystemMXBean os =
            (com.sun.management.OperatingSystemMXBean) java.lang.management.ManagementFactory
                    .getOperatingSystemMXBean();

    /** MiB per second of a one-way stream of 64 KiB writes; processor ms per GiB. */
    static Result throughput(PairFactory factory, Path dir) throws Exception {
        Path path = dir.resolve("stream");
        try (Pair pair = factory.open(path)) {
            byte[] chunk = new byte[CHUNK];
            Arrays.fill(chunk, (byte) 7);
            Future<Long> reader = peer.submit(() -> {
                long total = 0;
                while (total < STREAM_BYTES) total += pair.serverRead();
                return total;
            });
            long cpuStart = os.getProcessCpuTime();
            long start = System.nanoTime();
            for (long sent = 0; sent < STREAM_BYTES; sent += CHUNK) pair.clientWrite(chunk, CHUNK);
            reader.get();
            double seconds = (System.nanoTime() - start) / 1e9;
            double cpuMs = (os.getProcessCpuTime() - cpuStart) / 1e6;
            double gib = STREAM_BYTES / (1024.0 * 1024.0 * 1024.0);
            return new Result(gib * 1024.0 / seconds, cpuMs / gib);
        } finally {
            Files.deleteIfExists(path);
        }
    }

    /** Mean microseconds of one 100-byte echo; processor microseconds per echo. */
    static Result roundTrip(PairFactory factory, Path dir) throws Exception {
        Path path = dir.resolve("echo");
        try (Pair pair = factory.open(path)) {
            byte[] message = new byte[ECHO_BYTES];
            // The echo sends back whatever arrives, as it arrives.
            Callable<Void> echoer = () -> {
                for (int i = 0; i < ECHO_WARMUP + ECHOES; ++i) {
                    for (int echoed = 0; echoed < ECHO_BYTES;) {
                        int got = pair.serverRead();
                        pair.serverWrite(pair.serverBytes(), got);
                        echoed += got;
                    }
                }
                return null;
            };
            Future<Void> server = peer.submit(echoer);
            long start = 0;
            long cpuStart = 0;
            for (int i = 0; i < ECHO_WARMUP + ECHOES; ++i) {
                if (i == ECHO_WARMUP) {
                    cpuStart = os.getProcessCpuTime();
                    start = System.nanoTime();
                }
                pair.clientWrite(message, ECHO_BYTES);
                for (int got = 0; got < ECHO_BYTES;) got += pair.clientRead();
            }
            double micros = (System.nanoTime() - start) / 1e3 / ECHOES;
            double cpuMicros = (os.getProcessCpuTime() - cpuStart) / 1e3 / ECHOES;
            server.get();
            return new Result(micros, cpuMicros);
        } finally {
            Files.deleteIfExists(path);
        }
    }

    public static void main(String[] args) throws Exception {
        Path dir = Files.createTempDirectory("unix-channel-bench");
        PairFactory lanterra = LanterraPair::new;
        PairFactory jdk = JdkPair::new;
        Result[][] results = new Result[4][ROUNDS];
        // Interleaved rounds on a shared machine; the best round of each counts.
        for (int round = 0; round < ROUNDS; ++round) {
            results[0][round] = throughput(lanterra, dir);
            results[1][round] = throughput(jdk, dir);
            results[2][round] = roundTrip(lanterra, dir);
            results[3][round] = roundTrip(jdk, dir);
        }
        peer.shutdown();
        Files.deleteIfExists(dir);

        Result mib = best(results[0], true);
        Result mibJdk = best(results[1], true);
        Result rtt = best(results[2], false);
        Result rttJdk = best(results[3], false);
        String[][] rows = {
            {"throughput_64k_writes", fmt(mib.value(), 0), fmt(mibJdk.value(), 0), "MiB/s"},
            {"cpu_per_GiB_streamed", fmt(mib.cpuPerUnit(), 0), fmt(mibJdk.cpuPerUnit(), 0), "ms"},
            {"echo_100B_round_trip", fmt(rtt.value(), 2), fmt(rttJdk.value(), 2), "us"},
            {"cpu_per_echo", fmt(rtt.cpuPerUnit(), 2), fmt(rttJdk.cpuPerUnit(), 2), "us"},
        };
        System.out.printf("best of %d rounds           %10s %10s %7s%n", ROUNDS, "Lanterra", "JDK",
                "ratio");
        try (PrintWriter tsv = new PrintWriter(Files.newBufferedWriter(Path.of(args[0])))) {
            tsv.println("metric\tvalue\tanchor\tratio\tunit");
            for (String[] row : rows) {
                double ratio = Double.parseDouble(row[1]) / Double.parseDouble(row[2]);
                System.out.printf("%-26s %10s %10s %7.2f  %s%n", row[0], row[1], row[2], ratio,
                        row[3]);
                tsv.printf("unix-channel.%s\t%s\tjdk-socketchannel %s\t%.2f\t%s%n", row[0], row[1],
                        row[2], ratio, row[3]);
            }
        }
        System.out.println("ratio: Lanterra / JDK (throughput: higher is better; times: lower)");
    }

    private static String fmt(double value, int decimals) {
        return String.format(java.util.Locale.ROOT, "%." + decimals + "f", value);
    }

    private static Result best(Result[] rounds, boolean highest) {
        Result best = rounds[0];
        for (Result r : rounds) {
            if (highest ? r.value() > best.value() : r.value() < best.value()) best = r;
        }
        return best;
    }
}
