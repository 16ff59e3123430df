package com.orvela.core.cli;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/** The server's part of one conversation with ChannelClientMain. */
final class ChannelServerSide {
    private ChannelServerSide() {}

    /** Accepts one client, reads {@code expected} bytes, answers "hello <user>: <message>". */
    static String serveOne(UnixDomServerSocket server, int expected) throws IOException {
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
}
