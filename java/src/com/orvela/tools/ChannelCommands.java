package com.orvela.tools;

import com.orvela.core.cli.UnixDomServerSocket;
import com.orvela.core.cli.UnixDomSocket;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InterruptedIOException;
import java.net.UnixDomainSocketAddress;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.util.EnumSet;
import java.util.List;
import java.util.Objects;
import java.util.Set;

/** Both ends of the local command-line channel. */
final class ChannelCommands {
    static final Orvela.Entry SERVE = new Orvela.Entry("ntrm", "", ChannelCommands::serve,
        "[-n clients] [-t timeout] [-r timeout] [-m mode] [--] socket-path",
        "command-line channel server: names each client's user and answers it",
        "  -n clients  clients to serve, then stop, 1..2147483647 (default: no limit)\n"
            + "  -t timeout  milliseconds to wait for each client, 0..3600000, 0 = no limit"
            + " (default 0);\n"
            + "              when it passes the server stops with status 1\n"
            + "  -r timeout  milliseconds a client has to send its request, 1..3600000"
            + " (default 5000)\n"
            + "  -m mode     octal mode of the socket file (default 666: every local user may\n"
            + "              connect; the server checks who each client is)\n"
            + "A client that can't be identified or fails is logged on standard error and the\n"
            + "server goes on. A socket file left by a server that is gone is replaced; any\n"
            + "other file at the path is left alone. The socket file is removed at exit, Ctrl-C\n"
            + "included.\n");

    static final Orvela.Entry CONNECT =
        new Orvela.Entry("", "", ChannelCommands::connect, "[--] socket-path message...",
            "command-line channel client: sends a message and prints the answer",
            "The answer is awaited for up to 5000 ms.\n");

    private static final int S_IFMT = 0170000;
    private static final int S_IFSOCK = 0140000;
    private static final int GIVE_UP_AFTER_FAILURES = 100;
    // The buffer each end reads into, reused from read to read.
    private static final int READ_BUFFER_BYTES = 64 * 1024;

    private ChannelCommands() {}

    /** Serves clients one at a time: names the client's user and answers its message. */
    static int serve(Args args) throws Exception {
        int clients = args.number('n', Integer.MAX_VALUE, 1, Integer.MAX_VALUE);
        int acceptTimeout = args.number('t', 0, 0, 3_600_000);
        int readTimeout = args.number('r', 5000, 1, 3_600_000);
        Set<PosixFilePermission> mode = permissions(args.text('m', "666"));
        String pathText = args.single("socket path");
        Path path = Path.of(pathText);
        removeStaleSocket(path);

        UnixDomServerSocket server;
        try {
            server = new UnixDomServerSocket(pathText, 5);
        } catch (IOException e) {
            throw new ToolException(1, pathText + ": " + Orvela.describe(e));
        }
        Object ownFile = fileKey(path);
        Thread removeOnExit = new Thread(() -> removeIfOurs(path, ownFile), "serve-cleanup");
        Runtime.getRuntime().addShutdownHook(removeOnExit);
        try (server) {
            Files.setPosixFilePermissions(path, mode);
            server.setSoTimeout(acceptTimeout);
            System.out.println("server: listening on " + pathText);
            int failures = 0;
            byte[] buffer = new byte[READ_BUFFER_BYTES];
            for (int served = 0; served < clients;) {
                UnixDomSocket client;
                try {
                    client = server.accept();
                } catch (InterruptedIOException e) {
                    throw new ToolException(1, "no client within " + acceptTimeout + " ms");
                } catch (IOException e) {
                    System.err.println("orvela serve: client rejected: " + Orvela.describe(e));
                    if (++failures >= GIVE_UP_AFTER_FAILURES) {
                        throw new ToolException(
                            1, "giving up after " + failures + " failed clients in a row");
                    }
                    continue;
                }
                failures = 0;
                if (answer(client, readTimeout, buffer)) ++served;
            }
        } finally {
            removeIfOurs(path, ownFile);
            Runtime.getRuntime().removeShutdownHook(removeOnExit);
        }
        return 0;
    }

    // One client: false when it was rejected or failed (said on standard error).
    private static boolean answer(UnixDomSocket client, int readTimeout, byte[] buffer) {
        String user = null;
        try (client) {
            user = client.getClientIdentity();
            client.setSoTimeout(readTimeout);
            int count = client.read(buffer, 0, buffer.length);
            String text = count < 0 ? "" : new String(buffer, 0, count, StandardCharsets.UTF_8);
            System.out.printf("server: client runs as user '%s' and says: %s%n", user, text);
            client.write(
                ("hello " + user + ", you said: " + text).getBytes(StandardCharsets.UTF_8));
            return true;
        } catch (InterruptedIOException e) {
            System.err.printf(
                "orvela serve: client '%s' sent nothing within %d ms%n", user, readTimeout);
        } catch (IOException e) {
            System.err.println(
                "orvela serve: " + (user == null ? "client rejected: " : "client '" + user + "': ")
                + Orvela.describe(e));
        }
        return false;
    }

    private static Set<PosixFilePermission> permissions(String octal) throws UsageException {
        int bits;
        try {
            bits = Integer.parseInt(octal, 8);
        } catch (NumberFormatException e) {
            bits = -1;
        }
        if (bits < 0 || bits > 0777) {
            throw new UsageException("option -m needs an octal mode 0..777, not '" + octal + "'");
        }
        Set<PosixFilePermission> set = EnumSet.noneOf(PosixFilePermission.class);
        PosixFilePermission[] order = PosixFilePermission.values(); // OWNER_READ .. OTHERS_EXECUTE
        for (int i = 0; i < order.length; ++i) {
            if ((bits & (0400 >> i)) != 0) set.add(order[i]);
        }
        return set;
    }

    // A socket file nobody listens on any more is left from a server that is gone: remove it.
    // A live socket, or a file of any other kind, stays, and the server does not start.
    private static void removeStaleSocket(Path path) throws ToolException {
        int mode;
        try {
            mode = (Integer) Files.getAttribute(path, "unix:mode", LinkOption.NOFOLLOW_LINKS);
        } catch (NoSuchFileException e) {
            return;
        } catch (IOException | UnsupportedOperationException e) {
            throw new ToolException(1, path + ": " + Orvela.describe(e));
        }
        if ((mode & S_IFMT) != S_IFSOCK) {
            throw new ToolException(1, path + ": exists and is not a socket; not replacing it");
        }
        boolean live;
        try {
            SocketChannel.open(UnixDomainSocketAddress.of(path)).close();
            live = true;
        } catch (IOException refused) {
            live = false;
        }
        if (live) throw new ToolException(1, path + ": a server is listening there already");
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            throw new ToolException(1, path + ": " + Orvela.describe(e));
        }
    }

    private static Object fileKey(Path path) {
        try {
            return Files.readAttributes(path, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS)
                .fileKey();
        } catch (IOException e) {
            return null;
        }
    }

    // Removes the socket file only while it is still the one this server made.
    private static void removeIfOurs(Path path, Object ownFile) {
        if (ownFile == null || !Objects.equals(fileKey(path), ownFile)) return;
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            System.err.println("orvela serve: " + path + ": " + Orvela.describe(e));
        }
    }

    /** Sends one message and prints the whole answer. */
    static int connect(Args args) throws Exception {
        List<String> rest = args.operands();
        if (rest.isEmpty()) throw new UsageException("missing socket path");
        if (rest.size() < 2) throw new UsageException("missing message");
        String path = rest.get(0);
        String message = String.join(" ", rest.subList(1, rest.size()));
        UnixDomSocket socket;
        try {
            socket = new UnixDomSocket(path);
        } catch (IOException e) {
            throw new ToolException(1, path + ": " + Orvela.describe(e));
        }
        try {
            socket.setSoTimeout(5000);
            socket.write(message.getBytes(StandardCharsets.UTF_8));
            ByteArrayOutputStream answer = new ByteArrayOutputStream();
            byte[] buffer = new byte[READ_BUFFER_BYTES];
            for (int count; (count = socket.read(buffer, 0, buffer.length)) >= 0;) {
                answer.write(buffer, 0, count);
            }
            System.out.println("client: " + answer.toString(StandardCharsets.UTF_8));
        } catch (InterruptedIOException e) {
            throw new ToolException(1, path + ": no answer within 5000 ms");
        } catch (IOException e) {
            throw new ToolException(1, path + ": " + Orvela.describe(e));
        } finally {
            // The server has long checked the client's socket file: remove it while the
            // connection is still open, so cleanup has a live handle to work with.
            socket.cleanup();
            socket.close();
        }
        return 0;
    }
}
