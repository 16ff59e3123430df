package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * What every class with the thread-dump natives does, each scenario in a child VM of its own.
 * Subclasses name the class.
 */
abstract class ThreadDumpContract {
    @TempDir
    Path dir;

    /** "Orb" or "Stackprinter", as DumpChild takes it. */
    abstract String dumper();

    @Test
    void dump0ReturnsAndTheDumpAppearsOnStandardError() throws Exception {
        ChildVm child = ChildVm.start(dumper(), "dump0");
        child.awaitOutput(c -> c.out().contains("dump0 returned")
                && c.err().contains("Full thread dump")
                && c.err().contains(DumpChild.WITNESS_THREAD));
        child.release();
        child.awaitSuccess();
    }

    /** The two slow cases run side by side: each dump1 takes ten seconds. */
    @Test
    void dump1FillsANewOrATruncatedFileWithWhatStandardErrorGetsInTheWindow() throws Exception {
        Path fresh = dir.resolve("fresh.txt");
        Path existing = dir.resolve("existing.txt");
        String old = "OLD CONTENT ".repeat(100_000);
        Files.writeString(existing, old);

        ChildVm intoFresh = ChildVm.start(dumper(), "dump1", fresh.toString());
        ChildVm intoExisting = ChildVm.start(dumper(), "dump1", existing.toString());
        expectCapturedWindow(intoFresh.awaitSuccess(), fresh);
        expectCapturedWindow(intoExisting.awaitSuccess(), existing);
        assertFalse(Files.readString(existing).contains("OLD CONTENT"), "not truncated");
    }

    private static void expectCapturedWindow(ChildVm child, Path file) throws Exception {
        String dump = new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        String context = "file:\n" + dump + "\n" + child.describe();
        assertTrue(dump.contains("Full thread dump"), context);
        assertTrue(dump.contains(DumpChild.WITNESS_THREAD), context);
        assertTrue(dump.contains(DumpChild.DURING_MARKER), context);
        assertFalse(dump.contains(DumpChild.AFTER_MARKER), context);
        // Standard error is back where it was: the later line reached the parent, the dump did not.
        assertTrue(child.err().contains(DumpChild.AFTER_MARKER), context);
        assertFalse(child.err().contains("Full thread dump"), context);
        String[] descriptors = child.out().lines().filter(l -> l.startsWith("descriptors "))
                .findFirst().orElseThrow().split(" ");
        assertEquals(descriptors[1], descriptors[2], "descriptors before and after\n" + context);
    }
}
