package com.orvela.core.cli;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Server in this VM, clients in their own VMs, as in production. */
class ChannelEndToEndTest {
    @TempDir Path dir;

    @Test
    void clientInAnotherVmIsNamedAndBothSidesExchangeData() throws Exception {
        Path serverPath = dir.resolve("server.sock");
        try (UnixDomServerSocket server = new UnixDomServerSocket(serverPath.toString(), 5)) {
            server.setSoTimeout(60_000);
            ChildJvm client = ChildJvm.start(Map.of(), ChannelClientMain.class,
                    serverPath.toString(), "1", "status please");
            String user = ChannelServerSide.serveOne(server, "status please".length());
            assertEquals(0, client.waitFor(), client.output());

            assertEquals(System.getProperty("user.name"), user);
            String out = client.stdout();
            assertTrue(out.contains("client-file-mode rwx------\n"), out);
            assertTrue(out.contains("answer hello " + user + ": status please\n"), out);
            assertTrue(out.contains("client-file-after-cleanup false\n"), out);
        }
        assertTrue(Files.exists(serverPath), "the server's socket file outlives close");
    }

    @Test
    void clientRunningAsNobodyIsNamedNobody() throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")), "switching users needs root");
        Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxr-xr-x"));
        Path jvmFiles = Files.createDirectory(dir.resolve("jvm"));
        Files.setPosixFilePermissions(jvmFiles, PosixFilePermissions.fromString("rwxr-xr-x"));
        Path serverPath = dir.resolve("server.sock");
        try (UnixDomServerSocket server = new UnixDomServerSocket(serverPath.toString(), 5)) {
            Files.setPosixFilePermissions(serverPath, PosixFilePermissions.fromString("rwxrwxrwx"));
            server.setSoTimeout(60_000);
            ChildJvm client = ChildJvm.startAs(
                    List.of("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"),
                    jvmFiles, ChannelClientMain.class, serverPath.toString(), "1", "who am i");
            String user = ChannelServerSide.serveOne(server, "who am i".length());
            assertEquals(0, client.waitFor(), client.output());
            assertEquals("nobody", user);
            assertTrue(client.stdout().contains("answer hello nobody: who am i\n"), client.output());
            assertTrue(client.stdout().contains("client-file-after-cleanup false\n"), client.output());
        }
    }

    @Test
    void tenThousandConversationsLeaveDescriptorsAndMemoryFlat() throws Exception {
        final int warmUp = 200;
        final int measured = 10_000;
        Path serverPath = dir.resolve("server.sock");
        try (UnixDomServerSocket server = new UnixDomServerSocket(serverPath.toString(), 50)) {
            server.setSoTimeout(60_000);
            ChildJvm client = ChildJvm.start(Map.of(), ChannelClientMain.class,
                    serverPath.toString(), String.valueOf(warmUp + measured), "ping");
            for (int i = 0; i < warmUp; ++i) ChannelServerSide.serveOne(server, 4);
            int descriptorsBefore = openDescriptors();
            long residentBefore = residentKiB();
            for (int i = 0; i < measured; ++i) ChannelServerSide.serveOne(server, 4);
            int descriptorsAfter = openDescriptors();
            long residentAfter = residentKiB();
            assertEquals(0, client.waitFor(), client.output());
            assertTrue(client.stdout().contains("done " + (warmUp + measured)), client.output());

            assertEquals(descriptorsBefore, descriptorsAfter);
            assertTrue(residentAfter - residentBefore < 48 * 1024,
                    "resident memory grew from " + residentBefore + " KiB to " + residentAfter);
        }
    }

    @Test
    void debugLevelsWriteTheirDiagnosticLines() throws Exception {
        List<String> levelOne = List.of("accepting, no timeout\n", "accepted fd ",
                "client path is '/var/tmp/", "writing 5 bytes\n", "write finished\n",
                "reading from socket\n", "available: 1808\n", "read 5 bytes\n", "read 10000 bytes\n",
                "accept select rc=0\n");
        List<String> levelTwo = List.of("addrLen: ", "acceptedAddr.sun_path: /var/tmp/",
                "Uid set to ", "getpwuid_r uid: ", "About to unlink /var/tmp/", "read select...\n",
                "read select rc=1\n", "ioctl rc=0\n", "accept select...\n");

        ChildJvm chatty = ChildJvm.start(Map.of("ZELKCLI_DEBUG", "2"), DebugLinesMain.class,
                dir.resolve("two.sock").toString());
        assertEquals(0, chatty.waitFor(), chatty.output());
        for (String line : levelOne) assertTrue(chatty.stderr().contains(line), line);
        for (String line : levelTwo) assertTrue(chatty.stderr().contains(line), line);
        assertTrue(chatty.stderr().contains("client path is '/var/tmp/" + chatty.pid() + "'\n"));

        ChildJvm terse = ChildJvm.start(Map.of("ZELKCLI_DEBUG", "1"), DebugLinesMain.class,
                dir.resolve("one.sock").toString());
        assertEquals(0, terse.waitFor(), terse.output());
        for (String line : levelOne) assertTrue(terse.stderr().contains(line), line);
        for (String line : levelTwo) assertTrue(!terse.stderr().contains(line), line);

        ChildJvm quiet = ChildJvm.start(Map.of(), DebugLinesMain.class,
                dir.resolve("none.sock").toString());
        assertEquals(0, quiet.waitFor(), quiet.output());
        for (String line : levelOne) assertTrue(!quiet.stderr().contains(line), line);
        for (String line : levelTwo) assertTrue(!quiet.stderr().contains(line), line);
    }

    private static int openDescriptors() {
        return new File("/proc/self/fd").list().length;
    }

    private static long residentKiB() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IOException("no VmRSS in /proc/self/status");
    }
}
