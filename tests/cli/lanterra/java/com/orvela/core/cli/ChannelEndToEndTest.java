package com.orvela.core.cli;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.orvela.test.ChildVm;
import com.orvela.test.OpenDescriptors;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
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

    /** Accepts one client, reads {@code expected} bytes, answers "hello <user>: <message>". */
    private static String serveOne(UnixDomServerSocket server, int expected) throws IOException {
        try (UnixDomSocket connection = server.accept()) {
            String user = connection.getClientIdentity();
            ByteArrayOutputStream message = new ByteArrayOutputStream();
            while (message.size() < expected) {
                byte[] part = connection.read();
                if (part == null) throw new IOException("client left early");
                message.writeBytes(part);
            }
            String text = message.toString(StandardCharsets.UTF_8);
            connection.write(("hello " + user + ": " + text).getBytes(StandardCharsets.UTF_8));
            return user;
        }
    }

    /** The first conversation names the client and its owner-only file; the rest leak nothing. */
    @Test
    void tenThousandConversationsWithAnotherVmLeaveDescriptorsAndMemoryFlat() throws Exception {
        final int warmUp = 200;
        final int measured = 10_000;
        Path serverPath = dir.resolve("server.sock");
        try (UnixDomServerSocket server = new UnixDomServerSocket(serverPath.toString(), 50);
                ChildVm client = ChildVm.start(List.of(), Map.of(), ChannelClientMain.class,
                        serverPath.toString(), String.valueOf(warmUp + measured), "ping")) {
            server.setSoTimeout(60_000);
            assertEquals(System.getProperty("user.name"), serveOne(server, 4));
            for (int i = 1; i < warmUp; ++i) serveOne(server, 4);
            int descriptorsBefore = OpenDescriptors.count();
            long residentBefore = residentKiB();
            for (int i = 0; i < measured; ++i) serveOne(server, 4);
            int descriptorsAfter = OpenDescriptors.count();
            long residentAfter = residentKiB();
            String out = client.awaitSuccess().out();
            assertEquals("client-file-mode rwx------\nanswer hello "
                    + System.getProperty("user.name") + ": ping\nclient-file-after-cleanup false\n"
                    + "done " + (warmUp + measured) + "\n", out);

            assertEquals(descriptorsBefore, descriptorsAfter);
            assertTrue(residentAfter - residentBefore < 48 * 1024,
                    "resident memory grew from " + residentBefore + " KiB to " + residentAfter);
        }
        assertTrue(Files.exists(serverPath), "the server's socket file outlives close");
    }

    @Test
    void clientRunningAsNobodyIsNamedNobody() throws Exception {
        assumeTrue("root".equals(System.getProperty("user.name")), "switching users needs root");
        Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxr-xr-x"));
        Path serverPath = dir.resolve("server.sock");
        try (UnixDomServerSocket server = new UnixDomServerSocket(serverPath.toString(), 5);
                ChildVm.ReadableCopy copy = ChildVm.ReadableCopy.make()) {
            Files.setPosixFilePermissions(serverPath, PosixFilePermissions.fromString("rwxrwxrwx"));
            server.setSoTimeout(60_000);
            try (ChildVm client = ChildVm.startAs(
                         List.of("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"),
                         copy, ChannelClientMain.class, serverPath.toString(), "1", "who am i")) {
                assertEquals("nobody", serveOne(server, "who am i".length()));
                String out = client.awaitSuccess().out();
                assertTrue(out.contains("answer hello nobody: who am i\n"), out);
                assertTrue(out.contains("client-file-after-cleanup false\n"), out);
            }
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
        for (String level : List.of("2", "1", "0")) {
            try (ChildVm child = ChildVm.start(List.of(), Map.of("ZELKCLI_DEBUG", level),
                    DebugLinesMain.class, dir.resolve(level + ".sock").toString())) {
                String err = child.awaitSuccess().err();
                for (String line : levelOne) assertEquals(!level.equals("0"), err.contains(line), line);
                for (String line : levelTwo) assertEquals(level.equals("2"), err.contains(line), line);
                if (level.equals("2")) {
                    assertTrue(err.contains("client path is '/var/tmp/" + child.pid() + "'\n"), err);
                }
            }
        }
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
