package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The thread dump in the real Windows VM, whose break handler is not in the C runtime's signal
 * table: Orb through Stackprint.dll, Stackprinter through Ductway.dll, each scenario in a child
 * VM of its own. The dump must be the VM's own and name a thread the child started.
 */
class WindowsThreadDumpTest {
    private static final List<String> OUTPUT_TO_STDERR = List.of("-XX:+DisplayVMOutputToStderr");
    private static final String DUMP_HEADER = "Full thread dump";

    @TempDir
    Path dir;

    /**
     * dump0 from several threads at once prints one dump each where the VM prints: standard
     * error with the option, else standard output; nothing is left open.
     */
    @Test
    void dump0PrintsTheVmsDumpOnTheVmsOutputAndTheVmLivesOn() throws Exception {
        try (ChildVm orb = ChildVm.start(OUTPUT_TO_STDERR, Map.of(), DumpChild.class, "Orb",
                     "dump0");
             ChildVm printer = ChildVm.start(List.of(), Map.of(), DumpChild.class,
                     "Stackprinter", "dump0")) {
            orb.awaitOutput(c -> c.out().contains("dump0 returned"));
            printer.awaitOutput(c -> c.out().contains("dump0 returned"));
            orb.release();
            printer.release();
            orb.awaitSuccess();
            printer.awaitSuccess();
            assertEquals(DumpChild.DUMP0_CALLERS, dumpsIn(orb.err()), orb::describe);
            assertEquals(0, dumpsIn(orb.out()), orb::describe);
            assertEquals(DumpChild.DUMP0_CALLERS, dumpsIn(printer.out()), printer::describe);
            assertEquals(0, dumpsIn(printer.err()), printer::describe);
            for (ChildVm child : List.of(orb, printer)) {
                assertTrue(holdsDump(child.err() + child.out()), child::describe);
                expectSameDescriptors(child);
            }
        }
    }

    /**
     * Orb.dump1 (Stackprint.dll) into an existing file, overlapped by Stackprinter.dump1
     * (Ductway.dll) into a new one, which waits its turn, followed by a dump0 that must reach the
     * real standard error again. Handles and descriptors are as before.
     */
    @Test
    void dump1PutsTheVmsDumpInTheFileAndTakesTurnsAcrossLibraries() throws Exception {
        Path first = dir.resolve("first.txt");
        Path second = dir.resolve("second.txt");
        Files.writeString(first, "OLD CONTENT ".repeat(10_000));
        try (ChildVm overlap = ChildVm.start(OUTPUT_TO_STDERR, Map.of(), DumpChild.class,
                     "Orb", "overlapThenDump0", first.toString(), second.toString())) {
            overlap.awaitSuccess();
            expectDumpIn(first, overlap);
            assertFalse(Files.readString(first).contains("OLD CONTENT"), "not truncated");
            expectDumpIn(second, overlap);
            expectSameDescriptors(overlap);
            // Only the closing dump0's dump reached standard error.
            String err = overlap.err();
            assertEquals(err.indexOf(DUMP_HEADER), err.lastIndexOf(DUMP_HEADER), overlap::describe);
            assertTrue(holdsDump(err), overlap::describe);
        }
    }

    /** With the attach mechanism off there is no dump at all, and dump1 says why. */
    @Test
    void withoutTheAttachMechanismDump0DoesNothingAndDump1NamesTheCause() throws Exception {
        Path file = dir.resolve("dump.txt");
        List<String> options = List.of("-XX:+DisplayVMOutputToStderr",
                "-XX:+DisableAttachMechanism");
        try (ChildVm child = ChildVm.start(options, Map.of(), DumpChild.class, "Stackprinter",
                "noHandler", file.toString())) {
            String out = child.awaitSuccess().out();
            assertTrue(out.contains("dump0 returned"), child::describe);
            assertTrue(out.contains("dump1 threw No thread dump: the runtime has no handler for"
                    + " the break signal, and the VM's attach mechanism is disabled"
                    + " (-XX:+DisableAttachMechanism)"), child::describe);
            assertTrue(out.contains("file exists false"), child::describe);
            assertFalse(child.err().contains(DUMP_HEADER), child::describe);
        }
    }

    private static int dumpsIn(String text) {
        return text.split(DUMP_HEADER, -1).length - 1;
    }

    private static boolean holdsDump(String text) {
        return text.contains(DUMP_HEADER) && text.contains(DumpChild.WITNESS_THREAD);
    }

    private static void expectDumpIn(Path file, ChildVm child) throws Exception {
        String dump = Files.readString(file);
        String context = file + ":\n" + dump + "\n" + child.describe();
        assertTrue(holdsDump(dump), context);
        assertFalse(dump.contains(DumpChild.AFTER_MARKER), context);
    }

    /**
     * The C runtime's descriptors are exactly as before. The kernel handles may differ by the
     * VM's own coming and going (a handle or two, either way); a leak of the dump's pipe or
     * event would add two for every operation, and a burst of dump0 calls runs eight.
     */
    private static void expectSameDescriptors(ChildVm child) {
        String[] counts = child.out().lines().filter(l -> l.startsWith("descriptors "))
                .findFirst().orElseThrow().split(" ");
        String context = "before and after\n" + child.describe();
        assertEquals(WindowsCensus.count(counts[1], "descriptors"),
                WindowsCensus.count(counts[2], "descriptors"), context);
        assertTrue(WindowsCensus.count(counts[2], "handles")
                <= WindowsCensus.count(counts[1], "handles") + 2, context);
    }
}
