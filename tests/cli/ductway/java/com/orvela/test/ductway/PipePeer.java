package com.orvela.test.ductway;

import com.orvela.core.cli.NamedPipeClient;
import com.orvela.core.cli.NamedPipeServer;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;

/**
 * The other Windows VM of the named-pipe suites: one pipe end (client or server), driven by
 * commands on standard input, one answer line each on standard output ("ok ..." or
 * "error <exception class>: <message>"):
 *
 * <pre>
 * open NAME            client end on NAME
 * serve NAME MODE      server instance on NAME (pipe mode MODE), then: connect MILLIS
 * send TEXT            writes TEXT
 * bulk N               writes N pattern bytes in one call
 * drain N              reads until N more bytes came; "ok N" when they continue the pattern
 * take MILLIS          one read of pattern bytes: "ok N" when they continue the pattern
 * read MILLIS          one read: "ok null" or "ok LENGTH TEXT"
 * user                 this VM's user name
 * close                closes the end
 * </pre>
 */
public final class PipePeer {
    private NamedPipeClient client;
    private NamedPipeServer server;
    /** Pattern bytes drained since the end was opened. */
    private long drained;

    public static void main(String[] args) throws IOException {
        PipePeer peer = new PipePeer();
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        for (String line; (line = in.readLine()) != null;) {
            String answer;
            try {
                answer = "ok" + peer.run(line.trim().split(" ", 2));
            } catch (Exception e) {
                answer = "error " + e.getClass().getName() + ": " + e.getMessage();
            }
            System.out.println(answer);
            System.out.flush();
        }
    }

    /** Byte {@code i} of every bulk transfer. */
    static byte pattern(long i) {
        return (byte) (i * 31 + (i >> 11));
    }

    private String run(String[] cmd) throws IOException {
        String arg = cmd.length > 1 ? cmd[1] : "";
        switch (cmd[0]) {
            case "open":
                drained = 0;
                client = new NamedPipeClient(arg, 0xC0000000 /* GENERIC_READ | GENERIC_WRITE */);
                return "";
            case "serve": {
                String[] a = arg.split(" ");
                server = new NamedPipeServer(a[0], 3, Integer.parseInt(a[1]), 255, 65536, 65536, 0);
                return "";
            }
            case "connect":
                server.connect(Integer.parseInt(arg));
                return "";
            case "send": {
                byte[] text = arg.getBytes(StandardCharsets.UTF_8);
                write(text, text.length);
                return "";
            }
            case "bulk": {
                byte[] data = new byte[Integer.parseInt(arg)];
                for (int i = 0; i < data.length; i++) data[i] = pattern(i);
                write(data, data.length);
                return "";
            }
            case "drain": {
                long want = Long.parseLong(arg);
                long got = 0;
                while (got < want) {
                    byte[] b = read(60_000);
                    if (b == null) return " end after " + got;
                    for (byte x : b) {
                        if (x != pattern(drained)) return " wrong byte at " + drained;
                        drained++;
                        got++;
                    }
                }
                return " " + got;
            }
            case "take": {
                byte[] b = read(Integer.parseInt(arg));
                if (b == null) return " null";
                for (byte x : b) {
                    if (x != pattern(drained)) return " wrong byte at " + drained;
                    drained++;
                }
                return " " + b.length;
            }
            case "read": {
                byte[] b = read(Integer.parseInt(arg));
                return b == null ? " null" : " " + b.length + " " + new String(b, StandardCharsets.UTF_8);
            }
            case "user":
                return " " + System.getProperty("user.name");
            case "close":
                if (client != null) client.close();
                if (server != null) server.close();
                client = null;
                server = null;
                return "";
            default:
                throw new IllegalArgumentException("unknown command " + cmd[0]);
        }
    }

    private void write(byte[] data, int length) throws IOException {
        if (client != null) {
            client.write(data, 0, length, 120_000);
        } else {
            server.write(data, 0, length, 120_000);
        }
    }

    private byte[] read(int millis) throws IOException {
        return client != null ? client.read(millis) : server.read(millis);
    }
}
