package com.orvela.core.cli;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CompletionException;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.concurrent.locks.LockSupport;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/**
 * Both ends in this VM: handles, time-outs, end of stream, bad arguments, addresses, and threads
 * that close a socket under each other or race for clients.
 */
class ChannelNativesTest {
    private static final Duration HANG_GUARD = Duration.ofSeconds(60);
    private static final Path CLIENT_FILE = Path.of("/var/tmp/" + ProcessHandle.current().pid());

    @TempDir Path dir;

    @AfterEach
    void removeClientFile() throws IOException {
        Files.deleteIfExists(CLIENT_FILE);
    }

    private static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    private static String readAtLeast(UnixDomSocket socket, int count) throws IOException {
        ByteArrayOutputStream all = new ByteArrayOutputStream();
        while (all.size() < count) all.writeBytes(socket.read());
        return all.toString(StandardCharsets.US_ASCII);
    }

    private static void assertInvalidHandle(Executable call) {
        IOException e = assertThrows(IOException.class, call);
        assertEquals("Invalid handle", e.getMessage());
    }

    @Test
    void dataFlowsBothWaysAndOnlyTheServerSideNamesTheClient() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
                UnixDomSocket client = new UnixDomSocket(dir + "/s");
                UnixDomSocket accepted = server.accept()) {
            assertEquals(System.getProperty("user.name"), accepted.getClientIdentity());
            assertEquals("getpwuid_r() error",
                    assertThrows(IOException.class, client::getClientIdentity).getMessage());
            client.write(bytes("0123456789"), 0, 10);
            client.write(bytes("abcdefghijklmnopqrstuvwxyz"), 3, 20);
            assertEquals("0123456789defghijklmnopqrstuvw", readAtLeast(accepted, 30));
            accepted.write(bytes("back"));
            assertEquals("back", readAtLeast(client, 4));

            client.write(new byte[5], 2, 0);  // sends nothing
            byte[] big = new byte[3 << 20];
            new Random(5).nextBytes(big);
            Thread writer = new Thread(() -> {
                try {
                    accepted.write(big);
                } catch (IOException e) {
                    throw new RuntimeException(e);
                }
            });
            writer.start();
            // Alternately read0 and read1 into ranges small and large, with and without a limit
            // (the writer meets a full socket often); the bytes around a range stay as they were.
            ByteArrayOutputStream received = new ByteArrayOutputStream();
            byte[] buf = new byte[100_010];
            int[] lengths = {1, 1000, 9000, 100_000};
            for (int i = 0; received.size() < big.length; ++i) {
                client.setSoTimeout(i % 3 == 0 ? 60_000 : 0);
                if (i % 5 == 4) {
                    received.writeBytes(client.read());
                    continue;
                }
                int len = Math.min(lengths[i % 4], big.length - received.size());
                Arrays.fill(buf, (byte) 7);
                int count = client.read(buf, 5, len);
                assertTrue(count >= 1 && count <= len, "count " + count);
                received.write(buf, 5, count);
                assertEquals(7, buf[4]);
                assertEquals(7, buf[5 + count]);
            }
            writer.join();
            assertArrayEquals(big, received.toByteArray());
        }
    }

    @Test
    void badRangesAndNullArgumentsRaiseJavaExceptions() throws Exception {
        assertThrows(NullPointerException.class, () -> new UnixDomServerSocket(null, 1));
        assertThrows(NullPointerException.class, () -> new UnixDomSocket((String) null));
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
                UnixDomSocket client = new UnixDomSocket(dir + "/s")) {
            assertThrows(NullPointerException.class, () -> client.write(null, 0, 1));
            assertThrows(NullPointerException.class, () -> client.read(null, 0, 1));
            for (int[] range : new int[][] {{-1, 1}, {0, -1}, {4, 2}, {0, 6}, {Integer.MAX_VALUE, 2}}) {
                assertThrows(ArrayIndexOutOfBoundsException.class,
                        () -> client.write(new byte[5], range[0], range[1]));
                assertThrows(ArrayIndexOutOfBoundsException.class,
                        () -> client.read(new byte[5], range[0], range[1]));
            }
            assertEquals(0, client.read(new byte[5], 5, 0), "nothing asked, nothing awaited");
            try (UnixDomSocket accepted = server.accept()) {
                client.write(bytes("ok"));
                assertEquals("ok", readAtLeast(accepted, 2));
            }
        }
    }

    /**
     * Every native on a handle that designates none of its class's records: 0 after close, a
     * closed object's, values no registry issues, and another class's live handles.
     */
    @Test
    void closedStaleAndForgedHandlesAnswerInvalidHandleToEveryCall() throws Exception {
        UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
        UnixDomSocket client = new UnixDomSocket(dir + "/s");
        UnixDomSocket accepted = server.accept();
        UnixDomSocket stale = new UnixDomSocket(dir + "/s");
        int staleHandle = stale.handle;
        stale.close();
        server.accept().close();
        UnixDomServerSocket fakeServer = new UnixDomServerSocket(dir + "/fake", 1);
        int staleServer = fakeServer.handle;
        fakeServer.close();
        assertEquals(0, fakeServer.handle);
        assertEquals(0, stale.handle);
        assertTrue(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS), "close leaves the file");

        UnixDomSocket fake = stale;
        for (int value : new int[] {0, staleHandle, staleServer, -1, 1, Integer.MIN_VALUE,
                Integer.MAX_VALUE, server.handle, client.handle, accepted.handle}) {
            if (value != server.handle) {
                fakeServer.handle = value;
                assertInvalidHandle(fakeServer::accept);
                assertInvalidHandle(() -> fakeServer.setSoTimeout(1));
                assertInvalidHandle(fakeServer::close);
            }
            // A server or socket handle is not a hand-over record either.
            assertInvalidHandle(() -> fake.create0(value));
            if (value == client.handle || value == accepted.handle) continue;
            fake.handle = value;
            assertInvalidHandle(fake::read);
            assertInvalidHandle(() -> fake.read(new byte[1], 0, 1));
            assertInvalidHandle(() -> fake.write(bytes("x")));
            assertInvalidHandle(fake::flush);
            assertInvalidHandle(() -> fake.setSoTimeout(5));
            assertInvalidHandle(fake::getClientIdentity);
            assertInvalidHandle(fake::close);
            if (value != 0) assertInvalidHandle(fake::cleanup);
        }

        assertFalse(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS),
                "cleanup removes the file whatever the handle");
        client.write(bytes("still here"));
        assertEquals("still here", readAtLeast(accepted, 10));
        accepted.close();
        client.close();
        server.close();
        client.cleanup();  // the documented order, close then cleanup, is no failure
    }

    /** With the sockets' descriptors above 1024, as far as the process may open that many. */
    @Test
    void waitsTimeOutAndLeaveTheSocketsUsable() throws Exception {
        List<FileInputStream> filler = new ArrayList<>();
        try {
            try {
                for (int i = 0; i < 1100; ++i) filler.add(new FileInputStream("/dev/null"));
            } catch (IOException tooMany) {
                // as many as there may be
            }
            try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1)) {
                server.setSoTimeout(20);
                InterruptedIOException e = assertThrows(InterruptedIOException.class, server::accept);
                assertEquals("timeout", e.getMessage());

                try (UnixDomSocket client = new UnixDomSocket(dir + "/s");
                        UnixDomSocket accepted = server.accept()) {
                    accepted.setSoTimeout(20);
                    for (Executable read : List.<Executable>of(accepted::read,
                            () -> accepted.read(new byte[10], 0, 10),
                            () -> accepted.read(new byte[1 << 16], 0, 1 << 16))) {
                        e = assertThrows(InterruptedIOException.class, read);
                        assertEquals("timeout", e.getMessage());
                    }
                    client.write(bytes("late"));
                    assertEquals("late", readAtLeast(accepted, 4));
                    accepted.setSoTimeout(0);
                    client.write(bytes("more"));
                    assertEquals("more", readAtLeast(accepted, 4));
                }
            }
        } finally {
            for (FileInputStream in : filler) in.close();
        }
    }

    @Test
    void endOfStreamReturnsNullWithoutWaiting() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1)) {
            UnixDomSocket client = new UnixDomSocket(dir + "/s");
            try (UnixDomSocket accepted = server.accept()) {
                client.write(bytes("last words"));
                client.close();
                assertTimeoutPreemptively(HANG_GUARD, () -> {
                    byte[] buf = new byte[1 << 16];
                    assertEquals(4, accepted.read(buf, 0, 4));
                    assertEquals("last", new String(buf, 0, 4, StandardCharsets.US_ASCII));
                    assertEquals(" words", readAtLeast(accepted, 6));
                    assertNull(accepted.read());
                    assertEquals(-1, accepted.read(buf, 0, 4));
                    assertEquals(-1, accepted.read(buf, 0, buf.length));
                    assertNull(accepted.read());
                });
                IOException e = assertThrows(IOException.class,
                        () -> accepted.write(new byte[1 << 20]));
                assertEquals("Broken pipe", e.getMessage());
            }
        }
    }

    /** Runs {@code call} on a thread of its own; its result, or the IOException it threw. */
    private static CompletableFuture<Object> onItsOwnThread(IoCall call, CountDownLatch started) {
        return CompletableFuture.supplyAsync(() -> {
            started.countDown();
            try {
                return call.run();
            } catch (IOException e) {
                return e;
            }
        }, waiters);
    }

    interface IoCall {
        Object run() throws IOException;
    }

    private static final ExecutorService waiters = Executors.newCachedThreadPool(task -> {
        Thread thread = new Thread(task);
        thread.setDaemon(true);
        return thread;
    });

    /** Lets a call that has just started reach its wait, most of the time. */
    private static void letItWait(CountDownLatch started) throws InterruptedException {
        started.await();
        LockSupport.parkNanos(200_000);
    }

    /** What the call on another thread came to; it must not wait on, 10 s being plenty. */
    private static <T> T outcomeOf(CompletableFuture<T> call, String what) throws Exception {
        try {
            return call.get(10, TimeUnit.SECONDS);
        } catch (TimeoutException e) {
            return fail(what + " still waits");
        }
    }

    private static void assertInvalidHandleOutcome(Object outcome) {
        assertTrue(outcome instanceof IOException, String.valueOf(outcome));
        assertEquals("Invalid handle", ((IOException) outcome).getMessage());
    }

    /**
     * A connection closed while another thread reads it (read0, read1 into a small or a large
     * range), with or without a time limit: the reader sees the end of its own stream, never bytes of the connection that the server accepts next
     * (which may get the same descriptor number), and that connection's own reader gets them.
     */
    @Test
    void closingWhileAThreadReadsNeverHandsItAnotherConnection() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 4)) {
            for (int round = 0; round < 2000; ++round) {
                UnixDomSocket clientA = new UnixDomSocket(dir + "/s");
                UnixDomSocket acceptedA = server.accept();
                acceptedA.setSoTimeout(round % 2 == 0 ? 0 : 60_000);  // both kinds of wait
                int kind = round / 2 % 3;
                byte[] buf = new byte[kind == 1 ? 100 : 1 << 16];
                CountDownLatch started = new CountDownLatch(1);
                CompletableFuture<Object> reader = onItsOwnThread(
                        kind == 0 ? acceptedA::read : () -> acceptedA.read(buf, 0, buf.length),
                        started);
                letItWait(started);
                acceptedA.close();
                try (UnixDomSocket clientB = new UnixDomSocket(dir + "/s");
                        UnixDomSocket acceptedB = server.accept()) {
                    clientB.write(bytes("B" + round));
                    // End of stream; "Invalid handle" when the read began after the close.
                    Object outcome = outcomeOf(reader, "the reader of the closed connection");
                    if (outcome != null && !outcome.equals(-1)) assertInvalidHandleOutcome(outcome);
                    acceptedB.setSoTimeout(10_000);
                    assertEquals("B" + round, readAtLeast(acceptedB, ("B" + round).length()));
                }
                assertNull(clientA.read(), "the peer sees the end of the stream");
                clientA.close();
            }
        }
    }

    /**
     * A server closed while a thread waits in accept: the waiter gets "Invalid handle", never a
     * client of a server opened next (which may get the same descriptor number).
     */
    @Test
    void closingWhileAThreadAcceptsNeverHandsItAnotherServersClient() throws Exception {
        for (int round = 0; round < 300; ++round) {
            UnixDomServerSocket first = new UnixDomServerSocket(dir + "/a" + round, 1);
            first.setSoTimeout(round % 2 == 0 ? 0 : 60_000);  // both kinds of wait
            CountDownLatch started = new CountDownLatch(1);
            CompletableFuture<Object> acceptor = onItsOwnThread(first::accept, started);
            letItWait(started);
            first.close();
            try (UnixDomServerSocket second = new UnixDomServerSocket(dir + "/b" + round, 1)) {
                UnixDomSocket client = new UnixDomSocket(dir + "/b" + round);
                second.setSoTimeout(10_000);
                assertInvalidHandleOutcome(outcomeOf(acceptor, "the acceptor of the closed server"));
                second.accept().close();
                client.close();
            }
        }
    }

    /**
     * A connection closed while a thread's large write to it is stalled: the writer gets "Invalid
     * handle", and not one byte of the rest reaches the client of the connection accepted next.
     */
    @Test
    void closingWhileAThreadWritesNeverSendsTheRestToAnotherConnection() throws Exception {
        byte[] large = new byte[4 << 20];
        Arrays.fill(large, (byte) 'A');
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 4)) {
            for (int round = 0; round < 30; ++round) {
                UnixDomSocket clientA = new UnixDomSocket(dir + "/s");
                UnixDomSocket acceptedA = server.accept();
                CountDownLatch started = new CountDownLatch(1);
                CompletableFuture<Object> writer = onItsOwnThread(() -> {
                    acceptedA.write(large);
                    return "all written";
                }, started);
                started.await();
                Thread.sleep(20);  // the peer reads nothing: the write stalls
                acceptedA.close();
                try (UnixDomSocket clientB = new UnixDomSocket(dir + "/s");
                        UnixDomSocket acceptedB = server.accept()) {
                    assertInvalidHandleOutcome(outcomeOf(writer, "the writer to the closed connection"));
                    acceptedB.write(bytes("b"));
                    clientB.setSoTimeout(20_000);
                    assertEquals("b", new String(clientB.read(), StandardCharsets.US_ASCII),
                            "round " + round);
                }
                clientA.close();
            }
        }
    }

    /**
     * Four threads accept on one server with a limit of 200 ms and one client arrives: every
     * acceptor that doesn't get it times out, and none waits on for a client that comes once the
     * limit is long past. Several servers run their rounds at once.
     */
    @Test
    void racingAcceptorsKeepTheirTimeLimit() throws Exception {
        final int servers = 8;
        final int roundsEach = 25;
        List<CompletableFuture<Void>> all = new ArrayList<>();
        for (int s = 0; s < servers; ++s) {
            Path path = dir.resolve("race" + s);
            all.add(CompletableFuture.runAsync(() -> {
                try (UnixDomServerSocket server = new UnixDomServerSocket(path.toString(), 8)) {
                    server.setSoTimeout(200);
                    for (int round = 0; round < roundsEach; ++round) {
                        raceOneClient(server, path, round);
                    }
                } catch (Exception e) {
                    throw new CompletionException(e);
                }
            }, waiters));
        }
        CompletableFuture.allOf(all.toArray(new CompletableFuture<?>[0])).get(60, TimeUnit.SECONDS);
    }

    /**
     * Four acceptors start together; the client is queued already (even rounds), or arrives while
     * they wait (odd rounds).
     */
    private static void raceOneClient(UnixDomServerSocket server, Path path, int round)
            throws Exception {
        // Clients of the JDK's, each bound to an owner-only file of its own as the server demands.
        Path own = Path.of(path + "-client" + round);
        Path laterOwn = Path.of(path + "-later" + round);
        try (SocketChannel client = ownerOnlyClient(own);
                SocketChannel later = ownerOnlyClient(laterOwn)) {
            if (round % 2 == 0) client.connect(UnixDomainSocketAddress.of(path));
            CountDownLatch gate = new CountDownLatch(1);
            List<CompletableFuture<Object>> acceptors = new ArrayList<>();
            for (int i = 0; i < 4; ++i) {
                acceptors.add(CompletableFuture.supplyAsync(() -> {
                    try {
                        gate.await();
                        return server.accept();
                    } catch (IOException | InterruptedException e) {
                        return e;
                    }
                }, waiters));
            }
            gate.countDown();
            if (round % 2 == 1) {
                Thread.sleep(20);
                client.connect(UnixDomainSocketAddress.of(path));
            }
            // The acceptors end at their limit; one that waited on past it takes the later client.
            try {
                CompletableFuture.allOf(acceptors.toArray(new CompletableFuture<?>[0]))
                        .get(1, TimeUnit.SECONDS);
            } catch (TimeoutException waitingOn) {
                // the count below tells
            }
            later.connect(UnixDomainSocketAddress.of(path));
            int clients = 0;
            for (int i = 0; i < 4; ++i) {
                Object outcome = outcomeOf(acceptors.get(i), "an acceptor");
                if (outcome instanceof UnixDomSocket) {
                    ++clients;
                    ((UnixDomSocket) outcome).close();
                } else {
                    assertTrue(outcome instanceof InterruptedIOException, String.valueOf(outcome));
                }
            }
            assertEquals(1, clients);
            server.accept().close();  // the later client, left for the next accept
        } finally {
            Files.deleteIfExists(own);
            Files.deleteIfExists(laterOwn);
        }
    }

    private static SocketChannel ownerOnlyClient(Path own) throws IOException {
        SocketChannel client = SocketChannel.open(StandardProtocolFamily.UNIX);
        client.bind(UnixDomainSocketAddress.of(own));
        Files.setPosixFilePermissions(own, PosixFilePermissions.fromString("rwx------"));
        return client;
    }

    @Test
    void aSecondClientRebindsTheProcesssFile() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 2);
                UnixDomSocket first = new UnixDomSocket(dir + "/s")) {
            Object firstFile = Files.getAttribute(CLIENT_FILE, "unix:ino", LinkOption.NOFOLLOW_LINKS);
            try (UnixDomSocket second = new UnixDomSocket(dir + "/s");
                    UnixDomSocket acceptedFirst = server.accept();
                    UnixDomSocket acceptedSecond = server.accept()) {
                assertNotEquals(firstFile,
                        Files.getAttribute(CLIENT_FILE, "unix:ino", LinkOption.NOFOLLOW_LINKS));
                first.write(bytes("1"));
                second.write(bytes("2"));
                assertEquals("1", readAtLeast(acceptedFirst, 1));
                assertEquals("2", readAtLeast(acceptedSecond, 1));
            }
        }
    }

    @Test
    void pathsAreCutAt107BytesAndAnExistingFileIsNotReplaced() throws Exception {
        String longPath = dir + "/" + "p".repeat(130 - dir.toString().length());
        assertTrue(longPath.length() > 107);
        try (UnixDomServerSocket server = new UnixDomServerSocket(longPath, 1)) {
            assertTrue(Files.exists(Path.of(longPath.substring(0, 107)), LinkOption.NOFOLLOW_LINKS));
            try (UnixDomSocket client = new UnixDomSocket(longPath);
                    UnixDomSocket accepted = server.accept()) {
                client.write(bytes("cut"));
                assertEquals("cut", readAtLeast(accepted, 3));
            }
            IOException e = assertThrows(IOException.class,
                    () -> new UnixDomServerSocket(longPath, 1));
            assertEquals("Address already in use", e.getMessage());
        }
        // An empty path would be an abstract socket, with no file and no permissions.
        for (Executable open : List.<Executable>of(() -> new UnixDomSocket(dir + "/nobody-listens"),
                () -> new UnixDomServerSocket("", 1), () -> new UnixDomSocket(""))) {
            IOException e = assertThrows(IOException.class, open);
            assertEquals("No such file or directory", e.getMessage());
        }
        assertFalse(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS),
                "a failed connect removes the client file");
    }
}
