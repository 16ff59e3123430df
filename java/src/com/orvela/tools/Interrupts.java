package com.orvela.tools;

import java.lang.reflect.Proxy;

/**
 * Ctrl-C (SIGINT) handled by the command instead of ending the VM, so that it can finish its
 * report and leave with its own status. Uses the JDK's jdk.unsupported signal API, looked up at
 * run time; where it is missing, Ctrl-C ends the VM as usual.
 */
final class Interrupts {
    private Interrupts() {}

    /** Runs {@code action} on a signal thread at each SIGINT; false when that can't be arranged. */
    static boolean onInterrupt(Runnable action) {
        try {
            Class<?> signal = Class.forName("sun.misc.Signal");
            Class<?> handler = Class.forName("sun.misc.SignalHandler");
            Object proxy = Proxy.newProxyInstance(Interrupts.class.getClassLoader(),
                new Class<?>[] {handler}, (self, method, args) -> {
                    switch (method.getName()) {
                        case "handle":
                            action.run();
                            return null;
                        case "hashCode":
                            return System.identityHashCode(self);
                        case "equals":
                            return self == args[0];
                        default:
                            return "interrupt handler";
                    }
                });
            signal.getMethod("handle", signal, handler)
                .invoke(null, signal.getConstructor(String.class).newInstance("INT"), proxy);
            return true;
        } catch (ReflectiveOperationException | RuntimeException | LinkageError e) {
            return false;
        }
    }
}
