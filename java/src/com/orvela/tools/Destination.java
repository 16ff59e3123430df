package com.orvela.tools;

import java.io.IOException;
import java.net.Inet6Address;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.UnknownHostException;
import java.nio.channels.DatagramChannel;
import java.util.Arrays;

/**
 * The host that ping, latency and trace go to, IPv4 or IPv6, and the texts of the addresses the
 * natives report: dotted quads, and IPv6 in the shortest form, as inet_ntop writes it ("::1").
 */
final class Destination {
    /** The switches that pick the family, as ping's. */
    static final String FAMILY_SWITCHES = "46";
    static final String FAMILY_USAGE = "[-4|-6] ";
    static final String FAMILY_HELP = "  -4, -6       IPv4 or IPv6 only (default: the family of the"
        + " host's first address\n               in the system's order, as ping takes it)\n";

    private final String host;
    private final InetAddress address;

    private Destination(String host, InetAddress address) {
        this.host = host;
        this.address = address;
    }

    /**
     * The first address of {@code host} (a name or an address) in the system's order, of the
     * family -4 or -6 asks for. An unknown host, or one without an address of that family,
     * fails with status 2.
     */
    static Destination resolve(Args args, String host) throws UsageException, ToolException {
        boolean four = args.has('4'), six = args.has('6');
        if (four && six) throw new UsageException("only one of -4 and -6 may be given");
        InetAddress[] all;
        try {
            all = InetAddress.getAllByName(host);
        } catch (UnknownHostException e) {
            throw new ToolException(2, host + ": unknown host");
        }
        for (InetAddress candidate : all) {
            boolean ipv6 = candidate instanceof Inet6Address;
            if ((four && ipv6) || (six && !ipv6)) continue;
            // The natives take no interface, which a link-local address needs.
            if (candidate.isLinkLocalAddress()) {
                throw new ToolException(2, host + ": link-local addresses are not supported");
            }
            return new Destination(host, candidate);
        }
        throw new ToolException(2, host + ": no " + (six ? "IPv6" : "IPv4") + " address");
    }

    String host() { return host; }

    boolean ipv6() { return address instanceof Inet6Address; }

    /** The address in network order: 16 bytes for IPv6, 4 for IPv4. */
    byte[] bytes() { return address.getAddress(); }

    /** An IPv4 address as the natives take it: first octet in the most significant byte. */
    int ipv4() {
        byte[] b = bytes();
        return (b[0] & 0xff) << 24 | (b[1] & 0xff) << 16 | (b[2] & 0xff) << 8 | (b[3] & 0xff);
    }

    String text() { return text(bytes()); }

    /** True when a reported address (4 or 16 bytes) is this destination's. */
    boolean is(byte[] reported) { return Arrays.equals(reported, bytes()); }

    /** An IPv4 address as the natives report it, in network order. */
    static byte[] bytes(int ipv4) {
        return new byte[] {(byte) (ipv4 >>> 24), (byte) (ipv4 >>> 16), (byte) (ipv4 >>> 8),
            (byte) ipv4};
    }

    /** The text of a 4-byte or 16-byte address. */
    static String text(byte[] address) {
        if (address.length == 4) {
            return (address[0] & 0xff) + "." + (address[1] & 0xff) + "." + (address[2] & 0xff)
                + "." + (address[3] & 0xff);
        }
        int[] words = new int[8];
        for (int i = 0; i < 8; ++i) {
            words[i] = (address[2 * i] & 0xff) << 8 | (address[2 * i + 1] & 0xff);
        }
        // The longest run of two or more zero words (the first of equal ones) becomes "::".
        int runAt = -1, runLength = 0;
        for (int i = 0; i < 8;) {
            int j = i;
            while (j < 8 && words[j] == 0) ++j;
            if (j - i > runLength && j - i >= 2) {
                runAt = i;
                runLength = j - i;
            }
            i = j == i ? i + 1 : j;
        }
        StringBuilder text = new StringBuilder();
        for (int i = 0; i < 8; ++i) {
            if (i == runAt) {
                text.append("::");
                i += runLength - 1;
                continue;
            }
            if (text.length() > 0 && text.charAt(text.length() - 1) != ':') text.append(':');
            // An IPv4-mapped or -compatible address ends in its dotted quad.
            boolean mapped = runLength == 5 && words[5] == 0xffff;
            if (i == 6 && runAt == 0 && (runLength == 6 || mapped)) {
                text.append(text(Arrays.copyOfRange(address, 12, 16)));
                break;
            }
            text.append(Integer.toHexString(words[i]));
        }
        return text.toString();
    }

    /**
     * Why the system won't send to this destination, as its own text ("Network is unreachable"),
     * or null when it has no objection. Asks the routing table through a UDP connect, which puts
     * nothing on the wire.
     */
    String unreachableReason() {
        try (DatagramChannel channel = DatagramChannel.open()) {
            channel.connect(new InetSocketAddress(address, 9));
            return null;
        } catch (IOException e) {
            return Orvela.describe(e);
        }
    }
}
