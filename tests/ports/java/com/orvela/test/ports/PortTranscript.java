package com.orvela.test.ports;

import com.orvela.core.cli.UnixDomServerSocket;
import com.orvela.core.cli.UnixDomSocket;
import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.LatencyListener;
import com.orvela.core.icmp.PingObserver;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * A ping, a latency probe and a Unix-domain session on loopback, written to standard output as a
 * transcript that holds nothing of the machine or the moment (no times, no process ids): the
 * libraries built for another machine must write the same one, so a byte-order or width slip in
 * an address, an identifier, a status or the bytes exchanged shows as a difference. Argument: an
 * empty directory for the sockets.
 */
public final class PortTranscript {
    /** 127.0.0.1 and 127.1.2.3: loopback, each octet different. */
    private static final int[] DESTINATIONS = {0x7F000001, 0x7F010203};
    /** Sequence numbers around the 16-bit sign and wrap. */
    private static final short[] REQUEST_IDS = {
            1, 0x0102, 0x7FFF, (short) 0x8000, (short) 0xFFFF};
    private static final long PATIENCE_SECONDS = 60;
    private static final int BULK_BYTES = 100_000;

    private PortTranscript() {}

    public static void main(String[] args) throws Exception {
        System.err.println("transcript from " + System.getProperty("os.arch"));
        ping();
        latency();
        session(Path.of(args[0]));
    }

    private static void line(String text) {
        System.out.println(text);
    }

    private static String dotted(long address) {
        return (address >>> 24 & 0xFF) + "." + (address >>> 16 & 0xFF) + "."
                + (address >>> 8 & 0xFF) + "." + (address & 0xFF);
    }

    private static void ping() throws Exception {
        int sd = JNIPinger.nativeICMPInit();
        line("ping: socket " + (sd >= 0 ? "opened" : "not opened (" + sd + ")"));
        if (sd < 0) return;
        Map<String, Integer> replies = new TreeMap<>();
        CountDownLatch allReplies = new CountDownLatch(DESTINATIONS.length * REQUEST_IDS.length);
        PingObserver observer = (address, reqID, rtt) -> {
            if (reqID == 0) return;  // another process's reply, or none of ours
            String key = dotted(address & 0xFFFFFFFFL) + " reqID " + (reqID & 0xFFFF)
                    + " as short " + reqID + (rtt >= 0 ? "" : " negative round trip " + rtt);
            synchronized (replies) {
                replies.merge(key, 1, Integer::sum);
            }
            allReplies.countDown();
        };
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(sd, observer),
                "transcript receive loop");
        loop.start();
        for (int destination : DESTINATIONS) {
            for (short id : REQUEST_IDS) {
                line("ping: send to " + dotted(destination & 0xFFFFFFFFL) + " reqID "
                        + (id & 0xFFFF) + " -> "
                        + JNIPinger.nativeSendPing(sd, destination, id, (short) 64));
            }
        }
        line("ping: every reply came " + allReplies.await(PATIENCE_SECONDS, TimeUnit.SECONDS));
        JNIPinger.nativeICMPShutdown(sd);
        loop.join(TimeUnit.SECONDS.toMillis(PATIENCE_SECONDS));
        line("ping: receive loop returned after shutdown " + !loop.isAlive());
        synchronized (replies) {
            replies.forEach((key, count) -> line("ping: reply from " + key + " x" + count));
        }
        line("ping: send on the shut socket -> "
                + JNIPinger.nativeSendPing(sd, DESTINATIONS[0], (short) 1, (short) 64));
    }

    private static void latency() {
        // Probes take the process's identifiers 101, 102, ... but skip its ping identifier.
        int pingIdentifier = (int) (ProcessHandle.current().pid() & 0xFFFF);
        long[][] probes = {{0x7F000001L, 64}, {0x7F010203L, 64}, {0x7F000001L, 4096}};
        for (long[] probe : probes) {
            LatencyListener listener = (id, seq, to, rc, ms, datalen, to2) -> {
                int shownId = id > pingIdentifier && pingIdentifier >= 101 ? id - 1 : id;
                String roundTrip = rc != 0 ? String.valueOf(ms) : ms >= 0 ? "measured" : "<0";
                line("latency: " + dotted(probe[0]) + " size " + probe[1] + ": id " + shownId
                        + " tries " + seq + " to " + dotted(to & 0xFFFFFFFFL) + " status " + rc
                        + " round trip " + roundTrip + " datalen " + datalen + " to "
                        + dotted(to2 & 0xFFFFFFFFL));
            };
            ASM.getLatency(0, probe[0], 64, probe[1], 0, 5000, listener);
        }
    }

    /** A fixed exchange: a request, every byte value back, a bulk transfer, the end of stream. */
    private static void session(Path dir) throws Exception {
        String path = dir.resolve("server.sock").toString();
        List<String> clientLines = new ArrayList<>();
        byte[] bulk = new byte[BULK_BYTES];
        for (int i = 0; i < bulk.length; ++i) bulk[i] = (byte) (i * 7 + i / 4096);
        byte[] answer = new byte[256];
        for (int i = 0; i < answer.length; ++i) answer[i] = (byte) i;

        try (UnixDomServerSocket server = new UnixDomServerSocket(path, 5)) {
            server.setSoTimeout((int) TimeUnit.SECONDS.toMillis(PATIENCE_SECONDS));
            Thread client = new Thread(() -> {
                try {
                    UnixDomSocket socket = new UnixDomSocket(path);
                    socket.setSoTimeout((int) TimeUnit.SECONDS.toMillis(PATIENCE_SECONDS));
                    socket.write("status".getBytes(StandardCharsets.US_ASCII));
                    clientLines.add("session: client read " + digest(readExactly(socket, 256)));
                    socket.write(bulk);
                    clientLines.add(
                            "session: client identity " + outcome(socket::getClientIdentity));
                    socket.close();
                    socket.cleanup();
                } catch (IOException e) {
                    clientLines.add("session: client failed " + e);
                }
            }, "transcript client");
            client.start();
            try (UnixDomSocket accepted = server.accept()) {
                line("session: identity " + accepted.getClientIdentity());
                accepted.setSoTimeout((int) TimeUnit.SECONDS.toMillis(PATIENCE_SECONDS));
                line("session: server read "
                        + new String(readExactly(accepted, 6), StandardCharsets.US_ASCII));
                accepted.write(answer);
                line("session: server read " + digest(readExactly(accepted, BULK_BYTES)));
                line("session: then " + (accepted.read() == null ? "end of stream" : "more bytes"));
            }
            client.join();
            clientLines.forEach(PortTranscript::line);
            server.setSoTimeout(200);
            line("session: accept without a client " + outcome(server::accept));
        }
        line("session: connect to a missing path "
                + outcome(() -> new UnixDomSocket(dir.resolve("missing.sock").toString())));
    }

    private static byte[] readExactly(UnixDomSocket socket, int length) throws IOException {
        ByteArrayOutputStream got = new ByteArrayOutputStream();
        while (got.size() < length) {
            byte[] part = socket.read();
            if (part == null) break;
            got.write(part);
        }
        return got.toByteArray();
    }

    private static String digest(byte[] bytes) {
        try {
            return bytes.length + " bytes, SHA-256 "
                    + HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(bytes));
        } catch (java.security.NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    interface Call {
        Object run() throws IOException;
    }

    /** What a call gives: its result, or its exception's class and message. */
    private static String outcome(Call call) {
        try {
            return "-> " + call.run();
        } catch (IOException e) {
            return "throws " + e.getClass().getName() + ": " + e.getMessage();
        }
    }
}
