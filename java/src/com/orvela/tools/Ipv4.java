package com.orvela.tools;

import java.io.IOException;
import java.net.Inet4Address;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.UnknownHostException;
import java.nio.channels.DatagramChannel;

/** IPv4 addresses as the natives take them: first octet in the most significant byte. */
final class Ipv4 {
    private Ipv4() {}

    /** The address of a host name or dotted address; an unknown host fails with status 2. */
    static int parse(String text) throws ToolException {
        try {
            InetAddress address = InetAddress.getByName(text);
            if (!(address instanceof Inet4Address)) {
                throw new ToolException(2, text + ": not an IPv4 address");
            }
            byte[] b = address.getAddress();
            return (b[0] & 0xff) << 24 | (b[1] & 0xff) << 16 | (b[2] & 0xff) << 8 | (b[3] & 0xff);
        } catch (UnknownHostException e) {
            throw new ToolException(2, text + ": unknown host");
        }
    }

    static String format(int address) {
        return (address >>> 24) + "." + (address >>> 16 & 0xff) + "." + (address >>> 8 & 0xff) + "."
            + (address & 0xff);
    }

    /**
     * Why the system won't send to {@code address}, as its own text ("Network is unreachable"),
     * or null when it has no objection. Asks the routing table through a UDP connect, which puts
     * nothing on the wire.
     */
    static String unreachableReason(int address) {
        try (DatagramChannel channel = DatagramChannel.open()) {
            channel.connect(new InetSocketAddress(InetAddress.getByName(format(address)), 9));
            return null;
        } catch (IOException e) {
            return Orvela.describe(e);
        }
    }
}
