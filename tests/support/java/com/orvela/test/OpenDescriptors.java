package com.orvela.test;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.locks.LockSupport;

/** The descriptors this process holds open (Linux), so that a leak shows as one more. */
public final class OpenDescriptors {
    private OpenDescriptors() {}

    /**
     * Each open descriptor's number with what it leads to ("socket:[123]", a path), in order of
     * number; the listing's own descriptor is left out.
     */
    public static Map<Integer, String> list() {
        Map<Integer, String> open = new TreeMap<>();
        try (var fds = Files.list(Path.of("/proc/self/fd"))) {
            for (Path fd : fds.toList()) {
                try {
                    open.put(Integer.valueOf(fd.getFileName().toString()),
                            Files.readSymbolicLink(fd).toString());
                } catch (IOException closedMeanwhile) {
                    // the listing's own descriptor, gone by now
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return open;
    }

    public static int count() {
        return list().size();
    }

    /**
     * The list, taken once it holds still: the VM opens files of its own for a moment, and a
     * thread that has been joined may not have closed its descriptors yet.
     */
    public static Map<Integer, String> settled() {
        Map<Integer, String> census = list();
        for (int i = 0; i < 50; ++i) {
            LockSupport.parkNanos(100_000_000L);
            Map<Integer, String> again = list();
            if (again.equals(census)) break;
            census = again;
        }
        return census;
    }
}
