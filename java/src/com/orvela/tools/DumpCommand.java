package com.orvela.tools;

import com.orvela.core.orb.Orb;
import com.sun.management.HotSpotDiagnosticMXBean;
import java.io.FileNotFoundException;
import java.io.FileOutputStream;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** A thread dump of this VM. */
final class DumpCommand {
    static final Orvela.Entry ENTRY = new Orvela.Entry("", "", DumpCommand::run, "[--] [file]",
        "thread dump of this VM, on standard error or into a file",
        "With a file, the dump goes into it (created or truncated); it takes ten seconds.\n"
            + "The VM must print its dumps on standard error (-XX:+DisplayVMOutputToStderr):\n"
            + "the orvela launcher starts it so; otherwise the command restarts itself with it.\n"
            + "Exit status: 0 done, 1 no dump was made.\n");

    private static final String OPTION = "DisplayVMOutputToStderr";
    private static final String RESTARTED = "orvela.dump.restarted";

    private DumpCommand() {}

    static int run(Args args) throws Exception {
        List<String> rest = args.operands();
        if (rest.size() > 1) throw new UsageException("unexpected argument '" + rest.get(1) + "'");
        if (rest.size() == 1 && rest.get(0).isBlank()) throw new UsageException("empty file name");
        if (!dumpsGoToStderr()) return restartWithOption(rest);
        if (rest.isEmpty()) {
            Orb.dump0();
            Thread.sleep(500); // the VM writes the dump on its own thread
            return 0;
        }
        Path file = Path.of(rest.get(0));
        // Opened here first for the system's own reason when it can't be written.
        try {
            new FileOutputStream(file.toFile(), true).close();
        } catch (FileNotFoundException e) {
            String reason = Orvela.describe(e);
            String prefix = file + " (";
            if (reason.startsWith(prefix) && reason.endsWith(")")) {
                reason = reason.substring(prefix.length(), reason.length() - 1);
            }
            throw new ToolException(1, file + ": " + reason);
        }
        System.out.println("dumping threads into " + file + " (takes ten seconds)...");
        try {
            Orb.dump1(file.toString());
        } catch (IOException e) {
            throw new ToolException(1, file + ": " + Orvela.describe(e));
        }
        List<String> lines = Files.readAllLines(file);
        long threads = lines.stream().filter(l -> l.startsWith("\"")).count();
        if (lines.stream().noneMatch(l -> l.startsWith("Full thread dump")) || threads == 0) {
            throw new ToolException(1, file + ": no thread dump came out in the file");
        }
        System.out.printf("%s: %d lines, %d threads%n", file, lines.size(), threads);
        return 0;
    }

    private static boolean dumpsGoToStderr() {
        try {
            return Boolean.parseBoolean(
                ManagementFactory.getPlatformMXBean(HotSpotDiagnosticMXBean.class)
                    .getVMOption(OPTION)
                    .getValue());
        } catch (RuntimeException e) {
            return false; // not HotSpot, or no such option
        }
    }

    // The option can only be given when a VM starts: run the command again in one that has it.
    private static int restartWithOption(List<String> rest) throws Exception {
        String java = ProcessHandle.current().info().command().orElse(null);
        if (Boolean.getBoolean(RESTARTED) || java == null) {
            throw new ToolException(1,
                "this VM prints thread dumps on standard output; start it"
                    + " with -XX:+" + OPTION + " (the orvela launcher does)");
        }
        List<String> command = new ArrayList<>();
        command.add(java);
        command.addAll(ManagementFactory.getRuntimeMXBean().getInputArguments());
        command.add("-XX:+" + OPTION);
        command.add("-D" + RESTARTED + "=true");
        command.add("-cp");
        command.add(System.getProperty("java.class.path"));
        command.add(Orvela.class.getName());
        command.add("dump");
        command.add("--");
        command.addAll(rest);
        return new ProcessBuilder(command).inheritIO().start().waitFor();
    }
}
