package com.orvela.test.ductway;

import java.lang.reflect.Field;

/** The private "handle" field of a pipe end, read and forged through reflection. */
final class PipeHandles {
    private PipeHandles() {}

    static int get(Object end) throws ReflectiveOperationException {
        return field(end).getInt(end);
    }

    static void set(Object end, int value) throws ReflectiveOperationException {
        field(end).setInt(end, value);
    }

    private static Field field(Object end) throws NoSuchFieldException {
        Field f = end.getClass().getDeclaredField("handle");
        f.setAccessible(true);
        return f;
    }
}
