package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
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

    /** DumpChild in a VM of its own that prints its thread dumps on standard error. */
    ChildVm child(List<String> moreVmOptions, String... args) throws IOException {
        List<String> vmOptions = new ArrayList<>(List.of("-XX:+DisplayVMOutputToStderr"));
        vmOptions.addAll(moreVmOptions);
        List<String> childArgs = new ArrayList<>(List.of(dumper()));
        childArgs.addAll(List.of(args));
        return ChildVm.start(vmOptions, Map.of(), DumpChild.class, childArgs.toArray(String[]::new));
    }

    private ChildVm child(String... args) throws IOException {
        return child(List.of(), args);
    }

    @Test
    void dump0ReturnsAndTheDumpAppearsOnStandardError() throws Exception {
        ChildVm child = child("dump0");
        child.awaitOutput(c -> c.out().contains("dump0 returned")
                && c.err().contains("Full thread dump")
                && c.err().contains(DumpChild.WITNESS_THREAD));
        child.release();
        child.awaitSuccess();
    }

    /**
     * dump1 into an existing file, overlapped by a second call through the other class (another
     * library, the same process) into a new file, which waits its turn: both files get a dump,
     * the first is truncated. (What another thread writes in the window is tested in the JNI
     * host, ThreadDumpHostTest.)
     */
    @Test
    void dump1FillsANewOrATruncatedFileAndCallsTakeTurns() throws Exception {
        Path existing = dir.resolve("existing.txt");
        Path second = dir.resolve("second.txt");
        Files.writeString(existing, "OLD CONTENT ".repeat(100_000));

        ChildVm overlapping =
                child("overlap", existing.toString(), second.toString());
        overlapping.awaitSuccess();

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
