import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import java.util.BitSet;

/**
 * Pings `count` consecutive addresses from `first` through JNIPinger as fast as the caller can
 * send, with no window: every request goes out back to back while the receive loop counts the
 * replies (request id k + 1 for the address first + k).
 * Usage: SweepBench FIRST-DOTTED COUNT. Prints: sent received seconds, the seconds from the
 * first send to the last reply (to the last send when that is later).
 */
public final class SweepBench {
    private static final BitSet answered = new BitSet();
    private static volatile long lastReply;

    public static void main(String[] args) throws Exception {
        int first = 0;
        for (String part : args[0].split("\\.")) first = (first << 8) | Integer.parseInt(part);
        int count = Integer.parseInt(args[1]);
        int base = first;
        int socket = JNIPinger.nativeICMPInit();
        if (socket < 0) throw new IllegalStateException("nativeICMPInit failed, see /tmp/pinger.log");
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket,
                (address, reqID, rtt) -> {
                    int k = (reqID & 0xFFFF) - 1;
                    if (k < 0 || k >= count || address != base + k) return;
                    synchronized (answered) {
                        answered.set(k);
                    }
                    lastReply = System.nanoTime();
                }), "receive loop");
        loop.start();
        Thread.sleep(100);  // the loop is waiting

        long start = System.nanoTime();
        int sent = 0;
        for (int k = 0; k < count; k++) {
            if (JNIPinger.nativeSendPing(socket, first + k, (short) (k + 1), (short) 64) == 0) sent++;
        }
        long sendEnd = System.nanoTime();
        // Until all are back, or a second without a new reply: the missing ones are lost.
        int received = 0;
        for (long quietSince = System.nanoTime(); ; ) {
            Thread.sleep(1);
            int now;
            synchronized (answered) {
                now = answered.cardinality();
            }
            if (now != received) {
                received = now;
                quietSince = System.nanoTime();
            }
            if (received == count || System.nanoTime() - quietSince > 1_000_000_000L) break;
        }
        double seconds = (Math.max(lastReply, sendEnd) - start) / 1e9;
        JNIPinger.nativeICMPShutdown(socket);
        loop.join();
        System.out.printf("%d %d %.6f%n", sent, received, seconds);
    }
}
