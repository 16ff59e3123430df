package com.orvela.tools;

import java.util.Arrays;
import java.util.Map;
import java.util.TreeMap;

/** The command-line tool: one subcommand per capability of the native layer. */
public final class Orvela {
    interface Command {
        int run(Args args) throws Exception;
    }

    private static final Map<String, Command> COMMANDS = new TreeMap<>();
    private static final Map<String, String> HELP = new TreeMap<>();

    static {
        add("ping", PingCommand::run, "ping [-c count] [-i interval-ms] [-W wait-ms] address",
            "echo requests through the ping service, reported like ping");
        add("latency", LatencyCommand::run, "latency [-s size] [-t ttl] [-w timeout-ms] address",
            "one latency probe with a self-built echo datagram");
        add("trace", TraceCommand::run, "trace [-m max-hops] [-s size] [-w timeout-ms] address",
            "route trace with UDP probes, reported like traceroute");
        add("serve", ChannelCommands::serve, "serve [-n clients] [-t timeout-ms] socket-path",
            "command-line channel server: names each client's user and answers it");
        add("connect", ChannelCommands::connect, "connect socket-path message...",
            "command-line channel client: sends a message and prints the answer");
        add("dump", DumpCommand::run, "dump [file]",
            "thread dump of this VM, on standard error or into a file");
    }

    private static void add(String name, Command command, String usage, String summary) {
        COMMANDS.put(name, command);
        HELP.put(name, String.format("  %-62s %s", usage, summary));
    }

    private Orvela() {}

    public static void main(String[] argv) { System.exit(run(argv)); }

    static int run(String[] argv) {
        if (argv.length == 0 || argv[0].equals("--help") || argv[0].equals("-h")) {
            printHelp();
            return argv.length == 0 ? 2 : 0;
        }
        Command command = COMMANDS.get(argv[0]);
        if (command == null) {
            System.err.println("orvela: unknown command '" + argv[0] + "' (see --help)");
            return 2;
        }
        Args args = new Args(Arrays.copyOfRange(argv, 1, argv.length));
        if (args.has("--help")) {
            System.out.println("usage: orvela " + HELP.get(argv[0]).trim());
            return 0;
        }
        try {
            return command.run(args);
        } catch (UsageException e) {
            System.err.println("orvela " + argv[0] + ": " + e.getMessage());
            System.err.println("usage: orvela " + HELP.get(argv[0]).trim().split("  +")[0]);
            return 2;
        } catch (Exception e) {
            System.err.println("orvela " + argv[0] + ": " + e);
            return 1;
        }
    }

    private static void printHelp() {
        System.out.println("usage: java -jar orvela.jar <command> [options]");
        System.out.println();
        System.out.println("commands:");
        HELP.values().forEach(System.out::println);
        System.out.println();
        System.out.println("Raw ICMP (ping, latency, trace) needs root or CAP_NET_RAW.");
        System.out.println("For dump, start the VM with -XX:+DisplayVMOutputToStderr so the dump"
            + " goes to standard error.");
    }
}
