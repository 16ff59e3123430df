package com.orvela.tools;

import com.orvela.core.orb.Orb;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/** A thread dump of this VM. */
final class DumpCommand {
    private DumpCommand() {}

    static int run(Args args) throws Exception {
        List<String> rest = args.positional();
        if (rest.isEmpty()) {
            Orb.dump0();
            Thread.sleep(500); // the VM writes the dump on its own thread
            return 0;
        }
        Path file = Path.of(rest.get(0));
        System.out.println("dumping threads into " + file + " (takes ten seconds)...");
        Orb.dump1(file.toString());
        List<String> lines = Files.readAllLines(file);
        System.out.printf("%s: %d lines, %d threads%n", file, lines.size(),
            lines.stream().filter(l -> l.startsWith("\"")).count());
        return 0;
    }
}
