package com.orvela.tools;

import java.net.Inet4Address;
import java.net.InetAddress;
import java.net.UnknownHostException;

/** IPv4 addresses as the natives take them: first octet in the most significant byte. */
final class Ipv4 {
    private Ipv4() {}

    static int parse(String text) throws UsageException {
        try {
            InetAddress address = InetAddress.getByName(text);
            if (!(address instanceof Inet4Address)) throw new UsageException(text + " is not IPv4");
            byte[] b = address.getAddress();
            return (b[0] & 0xff) << 24 | (b[1] & 0xff) << 16 | (b[2] & 0xff) << 8 | (b[3] & 0xff);
        } catch (UnknownHostException e) {
            throw new UsageException("unknown host " + text);
        }
    }

    static String format(int address) {
        return (address >>> 24) + "." + (address >>> 16 & 0xff) + "." + (address >>> 8 & 0xff) + "."
            + (address & 0xff);
    }
}
