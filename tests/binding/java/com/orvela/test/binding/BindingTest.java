package com.orvela.test.binding;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.Constructor;
import java.lang.reflect.Field;
import java.util.ArrayList;
import java.io.InterruptedIOException;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import com.orvela.test.ChildVm;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class BindingTest {

    @Test
    void throwByNameRaisesTheNamedClassWithTheMessageOrNoneOrLeavesTheVmsError() {
        IOException withMessage = assertThrows(IOException.class,
                () -> BindingProbe.throwByName("java/io/IOException", "Bad Permissions"));
        assertEquals("Bad Permissions", withMessage.getMessage());

        OutOfMemoryError withoutMessage = assertThrows(OutOfMemoryError.class,
                () -> BindingProbe.throwByName("java/lang/OutOfMemoryError", null));
        assertNull(withoutMessage.getMessage());

        NullPointerException nullName = assertThrows(NullPointerException.class,
                () -> BindingProbe.throwByName(null, "lost"));
        assertEquals("className", nullName.getMessage());

        NoClassDefFoundError missingClass = assertThrows(NoClassDefFoundError.class,
                () -> BindingProbe.throwByName("com/orvela/NoSuchException", "lost"));
        assertEquals("com/orvela/NoSuchException", missingClass.getMessage());
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

    /** Holders of a handle, loaded afresh by the test; the field sits at different places. */
    static class Plain {
        int handle;
    }

    static class Padded {
        long a;
        Object b;
        int c;
        int handle;
    }

    static class NoField {
        int other;
    }

    /** A loader of its own for one of the holder classes, so that it can be unloaded. */
    private static Class<?> loadAfresh(Class<?> holder) throws IOException {
        String resource = holder.getName().replace('.', '/') + ".class";
        byte[] code;
        try (InputStream in = holder.getClassLoader().getResourceAsStream(resource)) {
            code = in.readAllBytes();
        }
        return new ClassLoader(null) {
            Class<?> define() {
                return defineClass(holder.getName(), code, 0, code.length);
            }
        }.define();
    }

    /**
     * Several threads look the record up through objects of classes with the field at different
     * places, of a class without it, and of fresh loads of each, more than a library keeps,
     * while earlier loads are unloaded: every object resolves through its own class's field.
     * Once the record is removed, its handle is invalid.
     */
    @Test
    void theHandleFieldIsFoundInEveryClassOfEveryLoadUntilTheRecordIsRemoved() throws Exception {
        int handle = BindingProbe.add(11);
        ExecutorService pool = Executors.newFixedThreadPool(4);
        try {
            List<Future<?>> all = new ArrayList<>();
            for (int t = 0; t < 4; ++t) {
                all.add(pool.submit(() -> {
                    for (int round = 0; round < 30; ++round) {
                        for (Class<?> holder : List.of(Plain.class, Padded.class, NoField.class)) {
                            Class<?> loaded = loadAfresh(holder);
                            Constructor<?> make = loaded.getDeclaredConstructor();
                            make.setAccessible(true);
                            Object object = make.newInstance();
                            if (holder == NoField.class) {
                                IOException e = assertThrows(IOException.class,
                                        () -> BindingProbe.valueIn(object));
                                assertEquals("Invalid handle", e.getMessage());
                                continue;
                            }
                            Field field = loaded.getDeclaredField("handle");
                            field.setAccessible(true);
                            field.setInt(object, handle);
                            assertEquals(11, BindingProbe.valueIn(object));
                            assertEquals(11, new BindingProbe(handle).valueOf());
                        }
                        if (round % 10 == 9) System.gc();
                    }
                    return null;
                }));
            }
            for (Future<?> f : all) f.get(60, TimeUnit.SECONDS);
        } finally {
            pool.shutdownNow();
            BindingProbe.remove(handle);
        }
        IOException stale =
                assertThrows(IOException.class, () -> new BindingProbe(handle).valueOf());
        assertEquals("Invalid handle", stale.getMessage());
    }

    @ParameterizedTest
    @CsvSource({"<unset>, 0", "2, 2", "abc, 0", "-1, -1", "4, 4"})
    void debugLevelComesFromTheEnvironmentAtLoad(String value, int expected) throws Exception {
        Map<String, String> environment = new HashMap<>();
        environment.put("ZELKCLI_DEBUG", value.equals("<unset>") ? null : value);
        try (ChildVm child = ChildVm.start(List.of(), environment, DebugLevelMain.class)) {
            assertEquals(String.valueOf(expected), child.awaitSuccess().out().trim());
        }
    }
}
