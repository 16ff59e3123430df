import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import java.lang.management.ManagementFactory;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Sends echo requests to 127.0.0.1 through JNIPinger with a window of requests in flight: the
 * first window goes out from the main thread, and the observer, on the receive loop's thread,
 * counts each reply of ours and sends the next request, as a flood ping does.
 * Usage: PingBench [count] [window]. Prints: sent received seconds cpu-seconds (the process's
 * processor time over the same span, all threads).
 */
public final class PingBench {
    private static final int LOOPBACK = 0x7F000001;

    private static int socket;
    private static int count;
    private static long sent;
    private static volatile long received;
    private static volatile long lastReply;
    private static final CountDownLatch allBack = new CountDownLatch(1);

    private static void sendNext() {
        short reqID = (short) (sent % 65535 + 1);
        if (JNIPinger.nativeSendPing(socket, LOOPBACK, reqID, (short) 64) != 0) {
            throw new IllegalStateException("nativeSendPing failed");
        }
        ++sent;
    }

    public static void main(String[] args) throws Exception {
        count = args.length > 0 ? Integer.parseInt(args[0]) : 200_000;
        int window = args.length > 1 ? Integer.parseInt(args[1]) : 32;
        socket = JNIPinger.nativeICMPInit();
        if (socket < 0) {
            throw new IllegalStateException("nativeICMPInit failed, see /tmp/pinger.log");
        }

        var os = (com.sun.management.OperatingSystemMXBean)
                ManagementFactory.getOperatingSystemMXBean();
        long cpuStart = os.getProcessCpuTime();
        long start = System.nanoTime();
        while (sent < Math.min(window, count)) sendNext();
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket,
                (address, reqID, rtt) -> {
                    if (reqID == 0) return;  // another process's reply
                    long n = received + 1;
                    received = n;
                    lastReply = System.nanoTime();
                    if (sent < count) sendNext();
                    if (n == count) allBack.countDown();
                }), "receive loop");
        loop.start();

        // A second without a new reply: the missing ones are lost.
        long seen = -1;
        while (!allBack.await(1, TimeUnit.SECONDS) && received != seen) seen = received;
        double seconds = (lastReply - start) / 1e9;
        double cpuSeconds = (os.getProcessCpuTime() - cpuStart) / 1e9;
        JNIPinger.nativeICMPShutdown(socket);
        loop.join();
        System.out.printf("%d %d %.6f %.6f%n", sent, received, seconds, cpuSeconds);
    }
}
