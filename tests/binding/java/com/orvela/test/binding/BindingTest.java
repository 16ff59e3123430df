package com.orvela.test.binding;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.io.InterruptedIOException;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Random;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class BindingTest {

    @Test
    void throwByNameRaisesTheNamedClassWithTheMessageOrNone() {
        IOException withMessage = assertThrows(IOException.class,
                () -> BindingProbe.throwByName("java/io/IOException", "Bad Permissions"));
        assertEquals("Bad Permissions", withMessage.getMessage());

        OutOfMemoryError withoutMessage = assertThrows(OutOfMemoryError.class,
                () -> BindingProbe.throwByName("java/lang/OutOfMemoryError", null));
        assertNull(withoutMessage.getMessage());

        NullPointerException nullName = assertThrows(NullPointerException.class,
                () -> BindingProbe.throwByName(null, "lost"));
        assertEquals("className", nullName.getMessage());
    }

    @Test
    void missingClassLeavesTheVmsOwnError() {
        NoClassDefFoundError error = assertThrows(NoClassDefFoundError.class,
                () -> BindingProbe.throwByName("com/orvela/NoSuchException", "lost"));
        assertEquals("com/orvela/NoSuchException", error.getMessage());
    }

    @Test
    void aSecondThrowReplacesThePendingException() {
        InterruptedIOException e =
                assertThrows(InterruptedIOException.class, BindingProbe::throwTwice);
        assertEquals("second", e.getMessage());
    }

    @Test
    void lastErrorMsgIsTheSystemTextOfErrno() {
        assertEquals("No such file or directory", BindingProbe.lastErrorMsg(2));
        assertEquals("Permission denied", BindingProbe.lastErrorMsg(13));
        IOException passedOn = assertThrows(IOException.class, () -> BindingProbe.throwIOError(13));
        assertEquals("Permission denied", passedOn.getMessage());
    }

    @Test
    void liveHandlesResolveAndRemovedOnesThrowInvalidHandle() throws IOException {
        int handle = BindingProbe.add(42);
        assertEquals(42, new BindingProbe(handle).valueOf());
        assertEquals(true, BindingProbe.remove(handle));
        assertEquals(false, BindingProbe.remove(handle));

        IOException stale =
                assertThrows(IOException.class, () -> new BindingProbe(handle).valueOf());
        assertEquals("Invalid handle", stale.getMessage());
    }

    @Test
    void forgedHandlesNeverReachMemory() throws IOException {
        int live = BindingProbe.add(7);
        Random random = new Random(1234);
        for (int i = 0; i < 100_000; ++i) {
            int forged = random.nextInt();
            if (forged == live) continue;
            IOException e = assertThrows(IOException.class, () -> new BindingProbe(forged).valueOf());
            assertEquals("Invalid handle", e.getMessage());
        }
        for (int forged : new int[] {0, -1, 1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
            assertThrows(IOException.class, () -> new BindingProbe(forged).valueOf());
        }
        assertEquals(7, new BindingProbe(live).valueOf());
        BindingProbe.remove(live);
    }

    @ParameterizedTest
    @CsvSource({"<unset>, 0", "2, 2", "abc, 0", "-1, -1", "4, 4"})
    void debugLevelComesFromTheEnvironmentAtLoad(String value, int expected) throws Exception {
        ProcessBuilder pb = new ProcessBuilder(List.of(
                System.getProperty("java.home") + "/bin/java",
                "-Djava.library.path=" + System.getProperty("orvela.test.libpath"),
                "-cp", System.getProperty("orvela.test.classpath"),
                DebugLevelMain.class.getName()));
        pb.environment().remove("ZELKCLI_DEBUG");
        if (!value.equals("<unset>")) pb.environment().put("ZELKCLI_DEBUG", value);
        pb.redirectErrorStream(true);
        Process child = pb.start();
        String out = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, child.waitFor(), out);
        assertEquals(String.valueOf(expected), out.trim());
    }
}
