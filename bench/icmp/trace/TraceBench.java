import com.orvela.core.icmp.ASM;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * Times route traces and latency probes inside the VM (run by bench/icmp/trace/run in the client
 * namespace). Prints "name value" lines. With DEST TRACES PROBES:
 *   trace_ms         median wall time of one full trace, around the call (after one warm-up)
 *   trace_hops       hops of the last trace
 *   latency_ms       median round-trip time the latency probes report
 *   latency_answers  probes answered
 * With --silence DEST TIMEOUT_MS:
 *   flood_ms         wall time of one trace into silence, with that time-out
 */
public final class TraceBench {
    public static void main(String[] args) {
        if (args[0].equals("--silence")) {
            long start = System.nanoTime();
            ASM.getTrace(2000, address(args[1]), 0, 64, -1, Integer.parseInt(args[2]),
                    (id, seq, a, rc, l, datalen, d, done) -> {});
            System.out.printf("flood_ms %.1f%n", (System.nanoTime() - start) / 1e6);
            return;
        }
        long dest = address(args[0]);
        int traces = Integer.parseInt(args[1]);
        int probes = Integer.parseInt(args[2]);

        int[] hops = new int[1];
        List<Double> traceTimes = new ArrayList<>();
        for (int i = 0; i <= traces; i++) {
            hops[0] = 0;
            long start = System.nanoTime();
            ASM.getTrace(1000 + i, dest, 0, 64, -1, 2000,
                    (id, seq, a, rc, latency, datalen, d, done) -> hops[0]++);
            if (i > 0) traceTimes.add((System.nanoTime() - start) / 1e6);
        }
        System.out.printf("trace_ms %.4f%n", median(traceTimes));
        System.out.println("trace_hops " + hops[0]);

        List<Double> rtts = new ArrayList<>();
        for (int i = 0; i < probes; i++) {
            ASM.getLatency(0, dest, 64, 64, 0, 2000, (id, seq, d, rc, latency, datalen, d2) -> {
                if (rc == 0) rtts.add(latency);
            });
        }
        System.out.printf("latency_ms %.4f%n", median(rtts));
        System.out.println("latency_answers " + rtts.size());
    }

    private static double median(List<Double> values) {
        if (values.isEmpty()) return Double.NaN;
        List<Double> sorted = new ArrayList<>(values);
        Collections.sort(sorted);
        int n = sorted.size();
        return n % 2 == 1 ? sorted.get(n / 2) : (sorted.get(n / 2 - 1) + sorted.get(n / 2)) / 2;
    }

    private static long address(String dotted) {
        long value = 0;
        for (String part : dotted.split("\\.")) value = (value << 8) | Integer.parseInt(part);
        return value;
    }
}
