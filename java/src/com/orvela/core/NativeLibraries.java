package com.orvela.core;

/** Loads the native libraries that the framework's classes bind to. */
public final class NativeLibraries {
    private NativeLibraries() {}

    /** Loads the library with the given base name (for example "Lanterra") once per class loader. */
    public static void load(String name) {
        System.loadLibrary(name);
    }
}
