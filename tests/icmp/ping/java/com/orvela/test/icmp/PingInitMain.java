package com.orvela.test.icmp;

import com.orvela.core.icmp.JNIPinger;

/** Opens the ping socket in a process of its own and prints the result. */
public final class PingInitMain {
    private PingInitMain() {}

    public static void main(String[] args) {
        System.out.println(JNIPinger.nativeICMPInit());
    }
}
