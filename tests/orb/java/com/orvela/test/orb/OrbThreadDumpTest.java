package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** Orb in Stackprint: the common cases, every failure, and a VM without a handler. */
class OrbThreadDumpTest extends ThreadDumpContract {
    @Override
    String dumper() {
        return "Orb";
    }

    /**
     * Each failure throws at once, raises no signal (no dump anywhere) and leaves the descriptor
     * count as it was. The child gets few descriptors so that it can run out of them.
     */
    @Test
    void failuresThrowWithoutSignalOrLeftoverDescriptor() throws Exception {
        Path missing = dir.resolve("no-such-dir").resolve("dump.txt");
        // A link planted at the name: the file it points at must keep its content.
        Path target = Files.writeString(dir.resolve("target.txt"), "KEEP");
        Path link = Files.createSymbolicLink(dir.resolve("link.txt"), target);
        ChildVm child = DumpChildVm.start(List.of("prlimit", "--nofile=256:256"), List.of(), "Orb",
                "failures", missing.toString(), link.toString()).awaitSuccess();

        Map<String, String[]> outcomes = child.out().lines().map(l -> l.split(" \\| "))
                .filter(f -> f.length == 3).collect(Collectors.toMap(f -> f[0], f -> f));
        String context = child.describe();
        assertEquals(List.of("missing-directory", "no-descriptor", "null", "one-descriptor",
                             "symbolic-link"),
                outcomes.keySet().stream().sorted().toList(), context);
        String cannotOpen = "java.io.IOException: Could not open file";
        assertEquals(cannotOpen, outcomes.get("missing-directory")[1], context);
        assertEquals("java.lang.NullPointerException: filename", outcomes.get("null")[1], context);
        assertEquals("java.io.IOException: DUP failed", outcomes.get("no-descriptor")[1], context);
        assertEquals(cannotOpen, outcomes.get("one-descriptor")[1], context);
        assertEquals(cannotOpen, outcomes.get("symbolic-link")[1], context);
        assertEquals("KEEP", Files.readString(target), context);
        for (String[] outcome : outcomes.values()) {
            String[] counts = outcome[2].split(" ");
            assertEquals(counts[0], counts[1], "descriptors after " + outcome[0] + "\n" + context);
        }
        assertFalse(child.err().contains("Full thread dump"), context);
        assertFalse(Files.exists(missing.getParent()), context);
        assertFalse(Files.exists(dir.resolve("no-descriptor")), context);
    }

    /** -Xrs leaves the dump signal without handler: raising it would end the VM. */
    @Test
    void withoutHandlerDump0DoesNothingAndDump1Throws() throws Exception {
        Path file = dir.resolve("dump.txt");
        ChildVm child = DumpChildVm.start(List.of(), List.of("-Xrs"), "Orb", "noHandler",
                file.toString()).awaitSuccess();
        String context = child.describe();
        assertTrue(child.out().contains("dump0 returned"), context);
        assertTrue(child.out().contains(
                "dump1 threw No thread dump: the VM has no handler for SIGQUIT"), context);
        assertTrue(child.out().contains("file exists false"), context);
        assertFalse(child.err().contains("Full thread dump"), context);
    }
}
