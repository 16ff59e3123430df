package com.orvela.test.binding;

/** Prints the debug level the probe library read when it was loaded. */
public final class DebugLevelMain {
    public static void main(String[] args) {
        System.out.println(BindingProbe.debugLevel());
    }
}
