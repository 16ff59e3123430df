package com.orvela.test.icmp;

import com.orvela.core.NativeLibraries;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/** A second raw socket for the tests: captures echo requests, injects crafted datagrams. */
final class PingPeer {
    static {
        NativeLibraries.load("icmpprobe");
        NativeLibraries.load("pingpeer");
    }

    private PingPeer() {}

    static final int LOOPBACK = 0x7F000001;
    static final byte[] LOOPBACK6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static final int IDENTIFIER = (int) (ProcessHandle.current().pid() & 0xFFFF);

    static native int openCapture();

    static native void closeCapture(int fd);

    /** The ICMP message of the next echo request with this identifier and sequence, or null. */
    static native byte[] nextEchoRequest(int fd, int identifier, int sequence, int timeoutMs);

    /** Sends a whole IPv4 datagram to its (loopback) destination. */
    static native boolean inject(byte[] datagram);

    /** The Internet checksum of the bytes, big-endian words. */
    static int checksum(byte[] bytes, int from, int length) {
        long sum = 0;
        for (int i = 0; i + 1 < length; i += 2) {
            sum += ((bytes[from + i] & 0xFF) << 8) | (bytes[from + i + 1] & 0xFF);
        }
        if (length % 2 == 1) sum += (bytes[from + length - 1] & 0xFF) << 8;
        while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
        return (int) (~sum & 0xFFFF);
    }

    /**
     * An IPv4 datagram from {@code source} to 127.0.0.1 with {@code optionBytes} bytes of
     * no-operation options and an ICMP message of {@code icmpLength} bytes; the message holds
     * type, code, identifier, sequence and from byte 8 the send time (seconds, microseconds, in
     * the host's order). The kernel fills in the IPv4 length, identification and checksum.
     */
    static byte[] icmpDatagram(int source, int optionBytes, int icmpLength, int type, int code,
            int identifier, int sequence, long sendTimeMillis) {
        int ipHeader = 20 + optionBytes;
        ByteBuffer b = ByteBuffer.allocate(ipHeader + icmpLength);
        b.put((byte) (0x40 | (ipHeader / 4))).put((byte) 0).putShort((short) 0).putShort((short) 0)
                .putShort((short) 0).put((byte) 64).put((byte) 1).putShort((short) 0)
                .putInt(source).putInt(LOOPBACK);
        for (int i = 0; i < optionBytes; ++i) b.put((byte) (i + 1 < optionBytes ? 1 : 0));
        byte[] icmp = new byte[Math.max(icmpLength, 16)];
        ByteBuffer m = ByteBuffer.wrap(icmp);
        m.put((byte) type).put((byte) code).putShort((short) 0).putShort((short) identifier)
                .putShort((short) sequence);
        m.order(ByteOrder.nativeOrder());
        m.putInt((int) Math.floorDiv(sendTimeMillis, 1000L))
                .putInt((int) Math.floorMod(sendTimeMillis, 1000L) * 1000);
        int sum = checksum(icmp, 0, icmpLength);
        icmp[2] = (byte) (sum >> 8);
        icmp[3] = (byte) sum;
        b.put(icmp, 0, icmpLength);
        return b.array();
    }

    /** An ICMP error (unreachable, time exceeded) from {@code source}, quoting a UDP datagram. */
    static byte[] icmpError(int source, int type, int code) {
        byte[] quoted = icmpDatagram(LOOPBACK, 0, 8, 0, 0, IDENTIFIER, 1, 0);
        quoted[9] = 17;
        byte[] datagram = icmpDatagram(source, 0, 8 + quoted.length, type, code, 0, 0, 0);
        System.arraycopy(quoted, 0, datagram, 28, quoted.length);
        int sum = checksum(withZeroChecksum(datagram), 20, datagram.length - 20);
        datagram[22] = (byte) (sum >> 8);
        datagram[23] = (byte) sum;
        return datagram;
    }

    private static byte[] withZeroChecksum(byte[] datagram) {
        byte[] copy = datagram.clone();
        copy[22] = 0;
        copy[23] = 0;
        return copy;
    }
}
