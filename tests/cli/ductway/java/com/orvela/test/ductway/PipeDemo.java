package com.orvela.test.ductway;

import com.orvela.core.cli.NamedPipeClient;
import com.orvela.core.cli.NamedPipeServer;
import com.orvela.core.cli.WinSockClientServer;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * The showcase's named-pipe session, one VM per end (scripts/demo starts both):
 *
 * <pre>
 * PipeDemo server PIPE MAPPING   advertises port 8080 under MAPPING, serves one client on PIPE
 * PipeDemo client PIPE           sends a line, prints the answer (all until the server closes)
 * </pre>
 */
public final class PipeDemo {
    public static void main(String[] args) throws Exception {
        String who = args[0];
        System.out.println(who + " VM: " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.runtime.version") + " on " + System.getProperty("os.name")
                + " " + System.getProperty("os.arch") + ", pid " + ProcessHandle.current().pid());
        if (who.equals("server")) {
            serve(args[1], args[2]);
        } else {
            ask(args[1]);
        }
    }

    private static void serve(String pipe, String mapping) throws IOException {
        WinSockClientServer ports = new WinSockClientServer();
        ports.advertisePort(mapping, 8080);
        System.out.println("server: port 8080 advertised as \"" + mapping + "\"");
        try (NamedPipeServer server = new NamedPipeServer(pipe, 3, 0, 1, 4096, 4096, 0)) {
            System.out.println("server: waiting on " + pipe);
            System.out.flush();
            server.connect(60_000);
            String user = server.getClientUserName();
            // A read returns what waits, or only the first byte when nothing did: the request
            // is complete at its line break.
            StringBuilder request = new StringBuilder();
            while (request.indexOf("\n") < 0) {
                byte[] chunk = server.read(10_000);
                if (chunk == null) throw new IOException("the client left without a request");
                request.append(new String(chunk, StandardCharsets.UTF_8));
            }
            String said = request.toString().trim();
            System.out.println("server: client runs as '" + user + "' and said: " + said);
            byte[] answer = ("hello " + user + ", you said: " + said).getBytes(StandardCharsets.UTF_8);
            server.write(answer, 0, answer.length, 10_000);
            server.flush();
        }
        ports.unadvertisePort();
    }

    private static void ask(String pipe) throws IOException {
        try (NamedPipeClient client = new NamedPipeClient(pipe, 0xC0000000)) {
            byte[] request = "status\n".getBytes(StandardCharsets.UTF_8);
            client.write(request, 0, request.length, 10_000);
            StringBuilder answer = new StringBuilder();
            for (byte[] chunk; (chunk = client.read(10_000)) != null;) {
                answer.append(new String(chunk, StandardCharsets.UTF_8));
            }
            System.out.println("client: " + answer);
        }
    }
}
