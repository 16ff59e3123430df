package com.orvela.test.ductway;

import com.orvela.core.cli.NamedPipeClient;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;

/**
 * The other Windows VM of the named-pipe suite: a client end, driven by commands on standard
 * input, one answer line each on standard output ("ok ..." or "error <exception class>:
 * <message>"):
 *
 * <pre>
 * open NAME            client end on NAME
 * send TEXT            writes TEXT
 * drain N              reads until N more bytes came; "ok N" when they continue the pattern
 * take MILLIS          one read of pattern bytes: "ok N" when they continue the pattern
 * read MILLIS          one read: "ok null" or "ok LENGTH TEXT"
 * user                 this VM's user name
 * close                closes the end
 * </pre>
 */
public final class PipePeer {
    private NamedPipeClient client;
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
            case "send": {
                byte[] text = arg.getBytes(StandardCharsets.UTF_8);
                client.write(text, 0, text.length, 120_000);
                return "";
            }
            case "drain": {
                long want = Long.parseLong(arg);
                long got = 0;
                while (got < want) {
                    byte[] b = client.read(60_000);
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
                byte[] b = client.read(Integer.parseInt(arg));
                if (b == null) return " null";
                for (byte x : b) {
                    if (x != pattern(drained)) return " wrong byte at " + drained;
                    drained++;
                }
                return " " + b.length;
            }
            case "read": {
                byte[] b = client.read(Integer.parseInt(arg));
                return b == null ? " null" : " " + b.length + " " + new String(b, StandardCharsets.UTF_8);
            }
            case "user":
                return " " + System.getProperty("user.name");
            case "close":
                client.close();
                client = null;
                return "";
            default:
                throw new IllegalArgumentException("unknown command " + cmd[0]);
        }
    }
}
