package com.orvela.test.icmp;

import com.orvela.core.icmp.ASM;
import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Opens the ping socket in a process of its own and prints the result. With the argument
 * "latency" it prints its process id, runs the receive loop, probes 127.0.0.1 once with the
 * latency probe and then once with a ping, and prints "latency ID RC" and every observer call
 * as "call ADDRESS REQID RTT".
 */
public final class PingInitMain {
    private PingInitMain() {}

    public static void main(String[] args) throws Exception {
        int socket = JNIPinger.nativeICMPInit();
        if (args.length == 0) {
            System.out.println(socket);
            return;
        }
        System.out.println("pid " + ProcessHandle.current().pid());
        CountDownLatch pingBack = new CountDownLatch(1);
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket,
                (address, reqID, rtt) -> {
                    System.out.println("call " + address + " " + reqID + " " + rtt);
                    if (reqID == 5) pingBack.countDown();
                }));
        loop.start();
        ASM.getLatency(0, PingPeer.LOOPBACK, 64, 84, 0, 2000,
                (id, seq, dest, rc, latency, datalen, dest2) -> System.out.println(
                        "latency " + id + " " + rc));
        JNIPinger.nativeSendPing(socket, PingPeer.LOOPBACK, (short) 5, (short) 64);
        pingBack.await(20, TimeUnit.SECONDS);
        JNIPinger.nativeICMPShutdown(socket);
        loop.join();
    }
}
