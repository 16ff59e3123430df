package com.orvela.core.cli;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * A command-line client in its own VM: {@code <server path> <cycles> <message>}. Each cycle
 * connects, sends the message, reads the server's answer up to the end of the stream, closes and
 * removes its socket file. Prints what the server's test checks.
 */
public final class ChannelClientMain {
    public static void main(String[] args) throws IOException {
        String serverPath = args[0];
        int cycles = Integer.parseInt(args[1]);
        byte[] message = args[2].getBytes(StandardCharsets.UTF_8);
        Path clientFile = Path.of("/var/tmp/" + ProcessHandle.current().pid());
        for (int cycle = 0; cycle < cycles; ++cycle) {
            UnixDomSocket socket = new UnixDomSocket(serverPath);
            if (cycle == 0) {
                System.out.println("client-file-mode " + PosixFilePermissions.toString(
                        Files.getPosixFilePermissions(clientFile, LinkOption.NOFOLLOW_LINKS)));
            }
            socket.write(message);
            socket.flush();
            String answer = readToEnd(socket);
            socket.close();
            socket.cleanup();  // after close, as documented
            if (cycle == 0) {
                System.out.println("answer " + answer);
                System.out.println("client-file-after-cleanup " + Files.exists(clientFile,
                        LinkOption.NOFOLLOW_LINKS));
            }
        }
        System.out.println("done " + cycles);
    }

    static String readToEnd(UnixDomSocket socket) throws IOException {
        ByteArrayOutputStream all = new ByteArrayOutputStream();
        for (byte[] part = socket.read(); part != null; part = socket.read()) {
            all.writeBytes(part);
        }
        return all.toString(StandardCharsets.UTF_8);
    }
}
