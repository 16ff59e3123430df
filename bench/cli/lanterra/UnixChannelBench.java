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
 * UnixDomSocket (write0 with read0, and write0 with read1 into a reused buffer) and through the
 * JDK's SocketChannel on a UnixDomainSocketAddress, side by side in one run. The JDK is measured
 * twice: reading into a buffer the caller reuses (its raw figure, the anchor of read1), and
 * handing each read to the caller as a new byte[] of what arrived, the work read0 does. Usage:
 * {@code <results tsv>}.
 */
public final class UnixChannelBench {
    private static final int CHUNK = 64 * 1024;
    private static final long STREAM_BYTES = 1L << 30;
    private static final int ECHO_BYTES = 100;
    private static final int ECHO_WARMUP = 5_000;
    private static final int ECHOES = 50_000;
    private static final int ROUNDS = 8;

    private static final ExecutorService peer = Executors.newSingleThreadExecutor();

    /**
     * The two ends of one connection, whichever implementation carries it. Each side reads the
     * way its API is meant to be used and copies nothing further: the JDK channel and read1 into a
     * buffer that the caller reuses, read0 into the new array it returns. Either way the
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
        // read1 into these when set, as the JDK's raw side reads; else read0.
        final boolean reuse;
        byte[] clientBytes;
        byte[] serverBytes;

        LanterraPair(Path path, boolean reuse) throws IOException {
            this.reuse = reuse;
            clientBytes = reuse ? new byte[4 * CHUNK] : null;
            serverBytes = reuse ? new byte[4 * CHUNK] : null;
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

        private static int orEnd(int got) throws IOException {
            if (got < 0) throw new IOException("end of stream");
            return got;
        }

        public int clientRead() throws IOException {
            if (reuse) return orEnd(client.read(clientBytes, 0, clientBytes.length));
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
            if (reuse) return orEnd(accepted.read(serverBytes, 0, serverBytes.length));
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
            client.cleanup();  // after close, as documented
        }
    }

    static final class JdkPair implements Pair {
        final ServerSocketChannel server;
        final SocketChannel client;
        final SocketChannel accepted;
        final boolean newArrays;
        // As much as one read0 returns at most.
        final byte[] clientBuffer = new byte[4 * CHUNK];
        final byte[] serverBuffer = new byte[4 * CHUNK];
        byte[] clientBytes = clientBuffer;
        byte[] serverBytes = serverBuffer;

        /** newArrays: each read ends in a new array of exactly the bytes that arrived. */
        JdkPair(Path path, boolean newArrays) throws IOException {
            this.newArrays = newArrays;
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
            int n = read(client, clientBuffer);
            if (newArrays) clientBytes = Arrays.copyOf(clientBuffer, n);
            return n;
        }

        public byte[] clientBytes() {
            return clientBytes;
        }

        public void serverWrite(byte[] bytes, int length) throws IOException {
            writeAll(accepted, bytes, length);
        }

        public int serverRead() throws IOException {
            int n = read(accepted, serverBuffer);
            if (newArrays) serverBytes = Arrays.copyOf(serverBuffer, n);
            return n;
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
        // read0, the JDK raw, the JDK with new arrays, read1.
        PairFactory[] sides = {
            path -> new LanterraPair(path, false), path -> new JdkPair(path, false),
            path -> new JdkPair(path, true), path -> new LanterraPair(path, true),
        };
        Result[][] streams = new Result[sides.length][ROUNDS];
        Result[][] echoes = new Result[sides.length][ROUNDS];
        // Interleaved rounds on a shared machine; the best round of each counts. Each round starts
        // with another side, so that none always runs right after the streams.
        for (int round = 0; round < ROUNDS; ++round) {
            for (int i = 0; i < sides.length; ++i) {
                int side = (i + round) % sides.length;
                streams[side][round] = throughput(sides[side], dir);
            }
            for (int i = 0; i < sides.length; ++i) {
                int side = (i + round) % sides.length;
                echoes[side][round] = roundTrip(sides[side], dir);
            }
        }
        peer.shutdown();
        Files.deleteIfExists(dir);

        Result[] mib = new Result[sides.length];
        Result[] rtt = new Result[sides.length];
        for (int side = 0; side < sides.length; ++side) {
            mib[side] = best(streams[side], true);
            rtt[side] = best(echoes[side], false);
        }
        System.out.printf("best of %d rounds%n", ROUNDS);
        try (PrintWriter tsv = new PrintWriter(Files.newBufferedWriter(Path.of(args[0])))) {
            tsv.println("metric\tvalue\tanchor\tratio\tunit");
            for (int side : new int[] {0, 3}) {
                // read0 against both JDK figures; read1 against the raw one, which it does.
                String suffix = side == 0 ? "" : "_read1";
                int[] anchors = side == 0 ? new int[] {1, 2} : new int[] {1};
                row(tsv, side, anchors, "throughput_64k_writes" + suffix, "MiB/s", 0, true, mib,
                        Result::value);
                row(tsv, side, anchors, "cpu_per_GiB_streamed" + suffix, "ms", 0, false, mib,
                        Result::cpuPerUnit);
                row(tsv, side, anchors, "echo_100B_round_trip" + suffix, "us", 2, false, rtt,
                        Result::value);
                row(tsv, side, anchors, "cpu_per_echo" + suffix, "us", 2, false, rtt,
                        Result::cpuPerUnit);
            }
        }
        System.out.println("ratio: times better than the anchor (above 1 is better)");
    }

    private static final String[] NAMES = {
        "lanterra", "jdk-socketchannel", "jdk-socketchannel-new-arrays", "lanterra-read1",
    };

    /**
     * The figure of side {@code side} with those of its anchors, on the console and as one tsv
     * line per anchor; the ratio is how many times better Lanterra does than the anchor.
     */
    private static void row(PrintWriter tsv, int side, int[] anchors, String metric, String unit,
            int decimals, boolean higherIsBetter, Result[] sides,
            java.util.function.ToDoubleFunction<Result> figure) {
        String value = fmt(figure.applyAsDouble(sides[side]), decimals);
        System.out.printf("%-29s %10s", metric, value);
        for (int anchor : anchors) {
            String anchorValue = fmt(figure.applyAsDouble(sides[anchor]), decimals);
            double v = Double.parseDouble(value);
            double a = Double.parseDouble(anchorValue);
            double ratio = higherIsBetter ? v / a : a / v;
            System.out.printf("  %s %s: x%.2f", NAMES[anchor], anchorValue, ratio);
            tsv.printf("unix-channel.%s\t%s\t%s %s\t%.2f\t%s%n", metric, value, NAMES[anchor],
                    anchorValue, ratio, unit);
        }
        System.out.printf("  %s%n", unit);
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
