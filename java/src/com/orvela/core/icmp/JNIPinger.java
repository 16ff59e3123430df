package com.orvela.core.icmp;

import com.orvela.core.NativeLibraries;

/**
 * The sending half of the ping service: an ICMP socket and 64-byte echo requests that carry
 * their send time. The socket is raw with the privilege for raw sockets (CAP_NET_RAW); without
 * it, a datagram ICMP socket, which the kernel opens only to the groups in
 * net.ipv4.ping_group_range and whose echo identifier is the kernel's (the socket's port).
 *
 * <p>IPv6: {@link #nativeICMPInit6} opens an ICMPv6 echo socket on the same terms (raw, or the
 * datagram kind for the groups in the same setting), {@link #nativeSendPing6} sends to a 16-byte
 * address, and {@link #nativeICMPShutdown} and {@link JNIPingReceiver#nativeReceivePings} serve
 * sockets of either family.
 */
public final class JNIPinger {
    static {
        NativeLibraries.load("icmpprobe");
    }

    private JNIPinger() {}

    /**
     * Opens the ICMP socket (raw, or where raw sockets are refused for want of privilege the
     * datagram kind); returns its descriptor, or -1 when neither opens (the raw socket's error
     * goes to the log file "/tmp/pinger.log", which then holds only that line).
     */
    public static native int nativeICMPInit();

    /**
     * Sends one echo request to {@code dest} (first octet in the most significant byte) carrying
     * {@code reqID} as its sequence number; {@code reqID} and {@code ttl} are taken as unsigned
     * 16-bit values, and {@code ttl} is not applied (the system's default time to live is used).
     * Returns 0 when the whole request went out, or -1 (also for a socket that
     * {@link #nativeICMPInit} did not open or that has been shut down). Calls from several
     * threads take turns.
     */
    public static native int nativeSendPing(int icmpsd, int dest, short reqID, short ttl);

    /**
     * Shuts the socket down. A receive loop running on it returns promptly and closes the socket
     * as it leaves; without a loop the socket is closed at once. -1, and descriptors that
     * {@link #nativeICMPInit} did not open or that are already shut down, are left alone.
     */
    public static native void nativeICMPShutdown(int icmpsd);

    /**
     * Opens an ICMPv6 echo socket, raw or (where raw sockets are refused for want of privilege)
     * the datagram kind; returns its descriptor, or -1 as {@link #nativeICMPInit} does. Its
     * replies go to the observer's {@link PingObserver#removePingRequest6}.
     */
    public static native int nativeICMPInit6();

    /**
     * Sends one ICMPv6 echo request with the same 64 bytes as {@link #nativeSendPing} to
     * {@code dest}, a 16-byte IPv6 address in network order, on a socket from
     * {@link #nativeICMPInit6}; the system computes the checksum. {@code hopLimit} is not applied
     * (the system's default hop limit is used), as {@code ttl} is not for IPv4. Returns 0 when
     * the whole request went out, or -1 (also for a socket that is not an open ICMPv6 socket of
     * {@link #nativeICMPInit6}).
     *
     * @throws NullPointerException when {@code dest} is null
     * @throws IllegalArgumentException when {@code dest} is not 16 bytes long
     */
    public static native int nativeSendPing6(int icmpsd, byte[] dest, short reqID, short hopLimit);
}
