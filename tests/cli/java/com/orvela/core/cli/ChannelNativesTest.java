package com.orvela.core.cli;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.CompletableFuture;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;

/** Both ends in this VM: handles, time-outs, end of stream, bad arguments, addresses. */
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
    void dataFlowsBothWaysAndTheClientFileIsOwnerOnly() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
                UnixDomSocket client = new UnixDomSocket(dir + "/s");
                UnixDomSocket accepted = server.accept()) {
            assertEquals("rwx------", java.nio.file.attribute.PosixFilePermissions.toString(
                    Files.getPosixFilePermissions(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS)));
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
            ByteArrayOutputStream received = new ByteArrayOutputStream();
            while (received.size() < big.length) received.writeBytes(client.read());
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
            for (int[] range : new int[][] {{-1, 1}, {0, -1}, {4, 2}, {0, 6}, {Integer.MAX_VALUE, 2}}) {
                assertThrows(ArrayIndexOutOfBoundsException.class,
                        () -> client.write(new byte[5], range[0], range[1]));
            }
            try (UnixDomSocket accepted = server.accept()) {
                client.write(bytes("ok"));
                assertEquals("ok", readAtLeast(accepted, 2));
            }
        }
    }

    @Test
    void closedObjectsAnswerInvalidHandleToEveryCall() throws Exception {
        UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
        UnixDomSocket client = new UnixDomSocket(dir + "/s");
        UnixDomSocket accepted = server.accept();
        server.close();
        client.close();
        accepted.close();
        assertEquals(0, server.handle);
        assertEquals(0, client.handle);

        assertInvalidHandle(server::close);
        assertInvalidHandle(server::accept);
        assertInvalidHandle(() -> server.setSoTimeout(5));
        for (UnixDomSocket socket : List.of(client, accepted)) {
            assertInvalidHandle(socket::close);
            assertInvalidHandle(socket::read);
            assertInvalidHandle(() -> socket.write(bytes("x")));
            assertInvalidHandle(socket::flush);
            assertInvalidHandle(() -> socket.setSoTimeout(5));
            assertInvalidHandle(socket::getClientIdentity);
        }
        assertTrue(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS));
        assertInvalidHandle(client::cleanup);
        assertFalse(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS), "cleanup removes it");
        assertInvalidHandle(client::cleanup);
    }

    @Test
    void forgedAndStaleHandlesNeverReachARecord() throws Exception {
        UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
        UnixDomSocket client = new UnixDomSocket(dir + "/s");
        UnixDomSocket accepted = server.accept();
        int liveServer = server.handle;
        int liveClient = client.handle;
        int liveAccepted = accepted.handle;
        UnixDomSocket stale = new UnixDomSocket(dir + "/s");
        int staleHandle = stale.handle;
        stale.close();
        server.accept().close();

        List<Integer> forged = new ArrayList<>(List.of(0, -1, 1, 2, 3, Integer.MIN_VALUE,
                Integer.MAX_VALUE, staleHandle, liveServer + 1, liveClient - 1));
        Random random = new Random(77);
        for (int i = 0; i < 2000; ++i) forged.add(random.nextInt());
        forged.removeAll(List.of(liveServer, liveClient, liveAccepted));

        // Closed objects whose field a caller has overwritten.
        UnixDomServerSocket fakeServer = new UnixDomServerSocket(dir + "/fake", 1);
        fakeServer.close();
        UnixDomSocket fake = stale;
        for (int value : forged) {
            fakeServer.handle = value;
            assertInvalidHandle(fakeServer::accept);
            assertInvalidHandle(() -> fakeServer.setSoTimeout(1));
            assertInvalidHandle(fakeServer::close);
            fake.handle = value;
            assertInvalidHandle(fake::read);
            assertInvalidHandle(() -> fake.write(bytes("x")));
            assertInvalidHandle(fake::getClientIdentity);
            assertInvalidHandle(fake::close);
            assertInvalidHandle(() -> fake.create0(value));
        }
        // A server or socket handle is not a hand-over record either.
        assertInvalidHandle(() -> fake.create0(liveServer));
        assertInvalidHandle(() -> fake.create0(liveAccepted));

        client.write(bytes("still here"));
        assertEquals("still here", readAtLeast(accepted, 10));
        accepted.close();
        client.close();
        server.close();
    }

    @Test
    void waitsTimeOutAndLeaveTheSocketsUsable() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1)) {
            server.setSoTimeout(20);
            InterruptedIOException e = assertThrows(InterruptedIOException.class, server::accept);
            assertEquals("timeout", e.getMessage());

            try (UnixDomSocket client = new UnixDomSocket(dir + "/s");
                    UnixDomSocket accepted = server.accept()) {
                accepted.setSoTimeout(20);
                e = assertThrows(InterruptedIOException.class, accepted::read);
                assertEquals("timeout", e.getMessage());
                client.write(bytes("late"));
                assertEquals("late", readAtLeast(accepted, 4));
                accepted.setSoTimeout(0);
                client.write(bytes("more"));
                assertEquals("more", readAtLeast(accepted, 4));
            }
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
                    assertEquals("last words", readAtLeast(accepted, 10));
                    assertNull(accepted.read());
                    assertNull(accepted.read());
                });
                IOException e = assertThrows(IOException.class,
                        () -> accepted.write(new byte[1 << 20]));
                assertEquals("Broken pipe", e.getMessage());
            }
        }
    }

    @Test
    void closingReleasesAThreadBlockedInAcceptOrRead() throws Exception {
        UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
        CompletableFuture<Object> blockedAccept = CompletableFuture.supplyAsync(() -> {
            try {
                return server.accept();
            } catch (IOException e) {
                return e;
            }
        });
        awaitBlocked(blockedAccept);
        server.close();
        Object acceptOutcome = assertTimeoutPreemptively(HANG_GUARD, () -> blockedAccept.get());
        assertTrue(acceptOutcome instanceof IOException, String.valueOf(acceptOutcome));

        try (UnixDomServerSocket second = new UnixDomServerSocket(dir + "/t", 1);
                UnixDomSocket client = new UnixDomSocket(dir + "/t")) {
            UnixDomSocket accepted = second.accept();
            CompletableFuture<Object> blockedRead = CompletableFuture.supplyAsync(() -> {
                try {
                    return accepted.read();
                } catch (IOException e) {
                    return e;
                }
            });
            awaitBlocked(blockedRead);
            accepted.close();
            // Released, it sees the end of the stream or the closed descriptor.
            Object readOutcome = assertTimeoutPreemptively(HANG_GUARD, () -> blockedRead.get());
            assertTrue(readOutcome == null || readOutcome instanceof IOException,
                    String.valueOf(readOutcome));
            assertNull(client.read(), "and so does the peer");
        }
    }

    /** Gives the task time to block; it must not have finished on its own. */
    private static void awaitBlocked(CompletableFuture<Object> task) throws InterruptedException {
        Thread.sleep(200);
        assertFalse(task.isDone(), "the call returned without anything to return");
    }

    @Test
    void identityIsTheClientsUserOnTheServerSideOnly() throws Exception {
        try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
                UnixDomSocket client = new UnixDomSocket(dir + "/s");
                UnixDomSocket accepted = server.accept()) {
            assertEquals(System.getProperty("user.name"), accepted.getClientIdentity());
            IOException e = assertThrows(IOException.class, client::getClientIdentity);
            assertEquals("getpwuid_r() error", e.getMessage());
        }
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
        IOException e = assertThrows(IOException.class,
                () -> new UnixDomSocket(dir + "/nobody-listens"));
        assertEquals("No such file or directory", e.getMessage());
        assertFalse(Files.exists(CLIENT_FILE, LinkOption.NOFOLLOW_LINKS),
                "a failed connect removes the client file");
    }

    @Test
    void descriptorsAbove1024CanWait() throws Exception {
        List<FileInputStream> filler = new ArrayList<>();
        try {
            try {
                for (int i = 0; i < 1100; ++i) filler.add(new FileInputStream("/dev/null"));
            } catch (IOException tooMany) {
                assumeTrue(false, "the descriptor limit is below 1100");
            }
            try (UnixDomServerSocket server = new UnixDomServerSocket(dir + "/s", 1);
                    UnixDomSocket client = new UnixDomSocket(dir + "/s")) {
                server.setSoTimeout(30_000);
                try (UnixDomSocket accepted = server.accept()) {
                    accepted.setSoTimeout(20);
                    assertThrows(InterruptedIOException.class, accepted::read);
                    accepted.setSoTimeout(30_000);
                    client.write(bytes("high"));
                    assertEquals("high", readAtLeast(accepted, 4));
                }
            }
        } finally {
            for (FileInputStream in : filler) in.close();
        }
    }
}
