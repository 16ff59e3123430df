package com.orvela.core.cli;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Clients that don't follow the protocol, made with socat: what their socket file looks like when
 * the server examines it decides whether they are accepted.
 */
class ForeignPeerTest {
    private static final String NOT_OWNED = "Client socket file not owned by the connecting user";

    @TempDir Path dir;
    private Path serverPath;
    private UnixDomServerSocket server;
    private final List<Process> peers = new ArrayList<>();

    @BeforeEach
    void listen() throws IOException {
        serverPath = dir.resolve("server.sock");
        server = new UnixDomServerSocket(serverPath.toString(), 5);
        server.setSoTimeout(30_000);
    }

    @AfterEach
    void stop() throws IOException {
        for (Process peer : peers) peer.destroyForcibly();
        server.close();
    }

    /**
     * What the client's file is by the time the server examines it, and what accept says to it
     * (nothing: accepted): "chmod MODE", "file" or "directory" in its place, "gone", or "unbound"
     * (the client bound no file).
     */
    @ParameterizedTest
    @CsvSource({"chmod 600, Bad Permissions", "chmod 710, Bad Permissions",
            "chmod 701, Bad Permissions", "chmod 755, Bad Permissions", "chmod 4700,",
            "file, Passed file not a socket", "directory, Passed file not a socket",
            "gone, No such file or directory", "unbound, No such file or directory"})
    void theClientsFileDecidesWhetherItIsAccepted(String file, String message) throws Exception {
        Path clientFile = dir.resolve("client");
        Process peer = file.equals("unbound") ? socat(List.of(), null) : boundPeer(clientFile);
        if (file.startsWith("chmod ")) {
            run("chmod", file.substring(6), clientFile.toString());
        } else if (!file.equals("unbound")) {
            Files.delete(clientFile);
            var ownerOnly = PosixFilePermissions.asFileAttribute(
                    PosixFilePermissions.fromString("rwx------"));
            if (file.equals("file")) Files.createFile(clientFile, ownerOnly);
            if (file.equals("directory")) Files.createDirectory(clientFile, ownerOnly);
        }
        if (message != null) {
            assertRejected(peer, message);
            return;
        }
        try (UnixDomSocket connection = server.accept()) {
            assertEquals(System.getProperty("user.name"), connection.getClientIdentity());
        }
    }

    @Test
    void aClientCantBorrowAnotherUsersSocketFileThroughALink() throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")), "chown needs root");
        // Another user's file that passes every check of its own.
        Path victim = dir.resolve("victim.sock");
        UnixDomServerSocket victimServer = new UnixDomServerSocket(victim.toString(), 1);
        try {
            run("chown", "nobody:nogroup", victim.toString());
            run("chmod", "700", victim.toString());

            Path symlinked = dir.resolve("symlinked");
            Process viaSymlink = boundPeer(symlinked);
            Files.delete(symlinked);
            Files.createSymbolicLink(symlinked, victim);
            assertRejected(viaSymlink, "Passed file not a socket");

            Path hardLinked = dir.resolve("hardlinked");
            Process viaHardLink = boundPeer(hardLinked);
            Files.delete(hardLinked);
            Files.createLink(hardLinked, victim);
            assertRejected(viaHardLink, NOT_OWNED);
        } finally {
            victimServer.close();
        }
    }

    @Test
    void aUserWithoutAnEntryInTheUserDatabaseHasNoName() throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")), "switching users needs root");
        Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxrwxrwx"));
        Files.setPosixFilePermissions(serverPath, PosixFilePermissions.fromString("rwxrwxrwx"));
        Path clientFile = dir.resolve("client");
        socat(List.of("setpriv", "--reuid=54321", "--regid=54321", "--clear-groups"), clientFile);
        awaitFile(clientFile);
        run("chmod", "700", clientFile.toString());
        try (UnixDomSocket connection = server.accept()) {
            IOException e = assertThrows(IOException.class, connection::getClientIdentity);
            assertEquals("getpwuid_r() error", e.getMessage());
        }
    }

    /** A socat client that has bound {@code file} and stays connected. */
    private Process boundPeer(Path file) throws IOException, InterruptedException {
        Process peer = socat(List.of(), file);
        awaitFile(file);
        return peer;
    }

    /** A socat client bound to {@code bindPath} (or to nothing) that stays connected. */
    private Process socat(List<String> userPrefix, Path bindPath) throws IOException {
        List<String> command = new ArrayList<>(userPrefix);
        String connect = "UNIX-CONNECT:" + serverPath + (bindPath != null ? ",bind=" + bindPath : "");
        command.addAll(List.of("socat", "STDIO", connect));
        Process peer = new ProcessBuilder(command).redirectErrorStream(true).start();
        peers.add(peer);
        return peer;
    }

    private static void awaitFile(Path path) throws InterruptedException {
        for (int i = 0; i < 1000 && !Files.exists(path, LinkOption.NOFOLLOW_LINKS); ++i) {
            Thread.sleep(10);
        }
        assertTrue(Files.exists(path, LinkOption.NOFOLLOW_LINKS), "socat never bound " + path);
    }

    /** accept fails with {@code message} and drops the connection of {@code peer}. */
    private void assertRejected(Process peer, String message) throws InterruptedException {
        IOException e = assertThrows(IOException.class, server::accept);
        assertEquals(message, e.getMessage());
        assertConnectionClosed(peer);
    }

    /** The server dropped the connection: socat sees the end of the stream and leaves. */
    private static void assertConnectionClosed(Process peer) throws InterruptedException {
        assertTrue(peer.waitFor(30, TimeUnit.SECONDS), "the rejected client is still connected");
    }

    private static void run(String... command) throws IOException, InterruptedException {
        Process process = new ProcessBuilder(command).inheritIO().start();
        assertEquals(0, process.waitFor(), String.join(" ", command));
    }
}
