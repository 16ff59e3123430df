package com.orvela.tools;

import java.io.IOException;
import java.util.Arrays;
import java.util.Map;
import java.util.TreeMap;

/**
 * The command-line tool: one subcommand per capability of the native layer. Exit status 0 on
 * success, 1 when the work failed, 2 for a command line that can't be understood.
 */
public final class Orvela {
    interface Command {
        int run(Args args) throws Exception;
    }

    /** How a command reads its command line and what its help says. */
    record Entry(String withValue, String switches, Command command, String usage, String summary,
        String details) {}

    /** Why ping and latency can't start: neither kind of ICMP socket could be opened. */
    static final String NO_ICMP_SOCKET = "cannot open an ICMP socket: allow your group in"
        + " net.ipv4.ping_group_range, or run with CAP_NET_RAW";

    private static final Map<String, Entry> COMMANDS = new TreeMap<>();

    static {
        // A name's addresses in the system's order (getaddrinfo's, which ping takes the first
        // of), not IPv4 first; read once, when the VM first resolves a name.
        if (System.getProperty("java.net.preferIPv6Addresses") == null) {
            System.setProperty("java.net.preferIPv6Addresses", "system");
        }
        COMMANDS.put("ping", PingCommand.ENTRY);
        COMMANDS.put("latency", LatencyCommand.ENTRY);
        COMMANDS.put("trace", TraceCommand.ENTRY);
        COMMANDS.put("serve", ChannelCommands.SERVE);
        COMMANDS.put("connect", ChannelCommands.CONNECT);
        COMMANDS.put("dump", DumpCommand.ENTRY);
    }

    private Orvela() {}

    public static void main(String[] argv) {
        int status = run(argv);
        System.out.flush();
        System.exit(status);
    }

    static int run(String[] argv) {
        if (argv.length == 0 || argv[0].equals("--help") || argv[0].equals("-h")) {
            printHelp();
            return argv.length == 0 ? 2 : 0;
        }
        String name = argv[0];
        Entry entry = COMMANDS.get(name);
        if (entry == null) {
            System.err.println("orvela: unknown command '" + name + "' (see orvela --help)");
            return 2;
        }
        String[] rest = Arrays.copyOfRange(argv, 1, argv.length);
        if (Args.wantsHelp(rest)) {
            System.out.println("usage: orvela " + name + " " + entry.usage());
            System.out.println(entry.summary());
            System.out.print(entry.details());
            return 0;
        }
        try {
            return entry.command().run(new Args(rest, entry.withValue(), entry.switches()));
        } catch (UsageException e) {
            System.err.println("orvela " + name + ": " + e.getMessage());
            System.err.println("usage: orvela " + name + " " + entry.usage());
            return 2;
        } catch (ToolException e) {
            System.err.println("orvela " + name + ": " + e.getMessage());
            return e.status();
        } catch (UnsatisfiedLinkError | NoClassDefFoundError e) {
            System.err.println("orvela " + name + ": " + linkProblem(e));
            return 1;
        } catch (Exception e) {
            System.err.println("orvela " + name + ": " + describe(e));
            return 1;
        }
    }

    /** An exception's own text, without the class name; the class only when it has no text. */
    static String describe(Throwable e) {
        String message = e.getMessage();
        if (message == null || message.isBlank()) {
            return e instanceof IOException ? "input/output error" : e.getClass().getSimpleName();
        }
        return message;
    }

    // The loader's message names the library and the platform, then the details of the lookup.
    private static String linkProblem(Throwable e) {
        String message = e.getMessage() == null ? "" : e.getMessage();
        int details = message.indexOf(" (os.name=");
        if (message.startsWith("no native library") && details > 0) {
            return message.substring(0, details) + ": not in the jar and not on java.library.path";
        }
        if (e instanceof NoClassDefFoundError) {
            return "the native library could not be loaded for platform "
                + com.orvela.core.NativeLibraries.platform();
        }
        return message.isEmpty() ? "the native library could not be loaded" : message;
    }

    private static void printHelp() {
        System.out.println("usage: orvela <command> [options] [--] arguments");
        System.out.println("       orvela <command> --help   (options, units and defaults)");
        System.out.println();
        System.out.println("commands:");
        COMMANDS.forEach((name, entry) -> System.out.printf("  %-8s %s%n", name, entry.summary()));
        System.out.println();
        System.out.println("Exit status: 0 done, 1 failed, 2 command line not understood"
            + " (ping, latency, trace: 1 no answer, 2 any other failure).");
        System.out.println("ping and latency need root or CAP_NET_RAW, or the user's group in"
            + " net.ipv4.ping_group_range; trace works for any user.");
    }
}
