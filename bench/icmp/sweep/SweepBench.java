import com.orvela.core.icmp.JNIPingReceiver;
import com.orvela.core.icmp.JNIPinger;
import com.orvela.core.icmp.PingObserver;
import java.net.InetAddress;
import java.nio.ByteBuffer;
import java.util.Arrays;
import java.util.BitSet;

/**
 * Pings `count` consecutive addresses from `first` through JNIPinger as fast as the caller can
 * send, with no window: every request goes out back to back while the receive loop counts the
 * replies (request id k + 1 for the address first + k). An IPv6 `first` goes through
 * nativeICMPInit6 and nativeSendPing6, its replies to removePingRequest6.
 * Usage: SweepBench FIRST-ADDRESS COUNT. Prints: sent received seconds, the seconds from the
 * first send to the last reply (to the last send when that is later).
 */
public final class SweepBench {
    private static final BitSet answered = new BitSet();
    private static volatile long lastReply;
    private static int count;

    public static void main(String[] args) throws Exception {
        byte[] first = InetAddress.getByName(args[0]).getAddress();
        count = Integer.parseInt(args[1]);
        boolean ipv6 = first.length == 16;
        // Every destination, made before the clock starts (an IPv4 one is an int, made as sent).
        byte[][] targets = new byte[count][];
        int base = ipv6 ? 0 : ByteBuffer.wrap(first).getInt();
        for (int k = 0; k < count && ipv6; k++) {
            byte[] target = first.clone();
            long carry = k;
            for (int i = 15; i >= 0 && carry != 0; --i) {
                long sum = (target[i] & 0xFF) + carry;
                target[i] = (byte) sum;
                carry = sum >>> 8;
            }
            targets[k] = target;
        }
        int socket = ipv6 ? JNIPinger.nativeICMPInit6() : JNIPinger.nativeICMPInit();
        if (socket < 0) {
            throw new IllegalStateException("nativeICMPInit failed, see /tmp/pinger.log");
        }
        PingObserver observer = new PingObserver() {
            @Override
            public void removePingRequest(int address, short reqID, int rtt) {
                int k = (reqID & 0xFFFF) - 1;
                if (k >= 0 && k < count && address == base + k) answer(k);
            }

            @Override
            public void removePingRequest6(byte[] address, short reqID, int rtt) {
                int k = (reqID & 0xFFFF) - 1;
                if (k >= 0 && k < count && Arrays.equals(address, targets[k])) answer(k);
            }
        };
        Thread loop = new Thread(() -> JNIPingReceiver.nativeReceivePings(socket, observer),
            "receive loop");
        loop.start();
        Thread.sleep(100);  // the loop is waiting

        long start = System.nanoTime();
        int sent = 0;
        for (int k = 0; k < count; k++) {
            short id = (short) (k + 1);
            int status = ipv6 ? JNIPinger.nativeSendPing6(socket, targets[k], id, (short) 64)
                              : JNIPinger.nativeSendPing(socket, base + k, id, (short) 64);
            if (status == 0) sent++;
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

    private static void answer(int k) {
        synchronized (answered) {
            answered.set(k);
        }
        lastReply = System.nanoTime();
    }
}
