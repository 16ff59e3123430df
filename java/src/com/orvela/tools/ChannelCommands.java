package com.orvela.tools;

import com.orvela.core.cli.UnixDomServerSocket;
import com.orvela.core.cli.UnixDomSocket;
import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;

/** Both ends of the local command-line channel. */
final class ChannelCommands {
    private ChannelCommands() {}

    /** Serves clients one at a time: names the client's user and answers its message. */
    static int serve(Args args) throws Exception {
        int clients = args.intOption("-n", Integer.MAX_VALUE);
        int timeout = args.intOption("-t", 0);
        String path = args.single("socket path");
        try (UnixDomServerSocket server = new UnixDomServerSocket(path, 5)) {
            server.setSoTimeout(timeout);
            System.out.println("server: listening on " + path);
            for (int served = 0; served < clients; ++served) {
                try (UnixDomSocket client = server.accept()) {
                    String user = client.getClientIdentity();
                    client.setSoTimeout(5000);
                    byte[] request = client.read();
                    String text =
                        request == null ? "" : new String(request, StandardCharsets.UTF_8);
                    System.out.printf(
                        "server: client runs as user '%s' and says: %s%n", user, text);
                    client.write(
                        ("hello " + user + ", you said: " + text).getBytes(StandardCharsets.UTF_8));
                }
            }
        }
        return 0;
    }

    /** Sends one message and prints the whole answer. */
    static int connect(Args args) throws Exception {
        java.util.List<String> rest = args.positional();
        if (rest.size() < 2) throw new UsageException("expected a socket path and a message");
        String message = String.join(" ", rest.subList(1, rest.size()));
        UnixDomSocket socket = new UnixDomSocket(rest.get(0));
        try {
            socket.setSoTimeout(5000);
            socket.write(message.getBytes(StandardCharsets.UTF_8));
            ByteArrayOutputStream answer = new ByteArrayOutputStream();
            for (byte[] chunk = socket.read(); chunk != null; chunk = socket.read()) {
                answer.write(chunk);
            }
            System.out.println("client: " + answer.toString(StandardCharsets.UTF_8));
        } finally {
            socket.close();
            socket.cleanup();
        }
        return 0;
    }
}
