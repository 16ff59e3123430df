package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
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
        ChildVm child = DumpChildVm.start(dumper(), "dump0");
        child.awaitOutput(c -> c.out().contains("dump0 returned")
                && c.err().contains("Full thread dump")
                && c.err().contains(DumpChild.WITNESS_THREAD));
        child.release();
        child.awaitSuccess();
    }

    /**
     * The slow cases run side by side (each dump1 takes ten seconds): a new file, with output
     * of another thread in the window; an existing file, overlapped by a second call through
     * the other class (another library, the same process) that waits its turn.
     */
    @Test
    void dump1FillsANewOrATruncatedFileWithWhatStandardErrorGetsInTheWindow() throws Exception {
        Path fresh = dir.resolve("fresh.txt");
        Path existing = dir.resolve("existing.txt");
        Path second = dir.resolve("second.txt");
        Files.writeString(existing, "OLD CONTENT ".repeat(100_000));

        ChildVm intoFresh = DumpChildVm.start(dumper(), "dump1", fresh.toString());
        ChildVm overlapping =
                DumpChildVm.start(dumper(), "overlap", existing.toString(), second.toString());
        intoFresh.awaitSuccess();
        overlapping.awaitSuccess();

        expectDumpIn(fresh, intoFresh);
        String during = Files.readString(fresh);
        assertTrue(during.contains(DumpChild.DURING_MARKER), during);
        expectRestored(intoFresh);

        expectDumpIn(existing, overlapping);
        assertFalse(Files.readString(existing).contains("OLD CONTENT"), "not truncated");
        expectDumpIn(second, overlapping);
        expectRestored(overlapping);
    }

    private static void expectDumpIn(Path file, ChildVm child) throws Exception {
        String dump = Files.readString(file, StandardCharsets.UTF_8);
        String context = file + ":\n" + dump + "\n" + child.describe();
        assertTrue(dump.contains("Full thread dump"), context);
        assertTrue(dump.contains(DumpChild.WITNESS_THREAD), context);
        assertFalse(dump.contains(DumpChild.AFTER_MARKER), context);
    }

    /**
     * Standard error is back where it was: the line written after the call reached the parent,
     * no dump did, and the child has the descriptors it had before.
     */
    private static void expectRestored(ChildVm child) {
        String context = child.describe();
        assertTrue(child.err().contains(DumpChild.AFTER_MARKER), context);
        assertFalse(child.err().contains("Full thread dump"), context);
        String[] descriptors = child.out().lines().filter(l -> l.startsWith("descriptors "))
                .findFirst().orElseThrow().split(" ");
        assertEquals(descriptors[1], descriptors[2], "descriptors before and after\n" + context);
    }
}
