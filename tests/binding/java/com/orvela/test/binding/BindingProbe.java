package com.orvela.test.binding;

import java.io.IOException;

/** Natives of the test-only library that exposes the shared binding pieces. */
final class BindingProbe {
    static {
        System.loadLibrary("bindingprobe");
    }

    /** The record handle this object designates, as in the channel classes. */
    int handle;

    BindingProbe(int handle) {
        this.handle = handle;
    }

    static native void throwByName(String className, String message);

    static native void throwTwice();

    static native String lastErrorMsg(int errno);

    static native void throwIOError(int errno);

    static native int debugLevel();

    static native int add(int value);

    native int valueOf() throws IOException;

    static native int valueIn(Object holder) throws IOException;

    static native boolean remove(int handle);
}
