package com.orvela.test.ductway;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.core.cli.WinSockClientServer;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * A port advertised in this Windows VM, read by a plain Win32 process (ductway_peer). The
 * natives' other cases are tested in the JNI host (PortAdvertisementTest).
 */
class PortAdvertisementVmTest {
    /** What the peer prints for the block named {@code name}: its first four bytes in hex. */
    private static String readPort(String name) throws Exception {
        Process peer = new ProcessBuilder(System.getProperty("orvela.test.peer"), "readport", name)
                .redirectErrorStream(true).start();
        assertTrue(peer.waitFor(120, TimeUnit.SECONDS));
        return new String(peer.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
    }

    /** The class's fields carry the advertisement to its withdrawal. */
    @Test
    void anotherProcessReadsThePortUntilItIsWithdrawn() throws Exception {
        String name = "orvela-vm-port-" + ProcessHandle.current().pid();
        WinSockClientServer ports = new WinSockClientServer();
        ports.advertisePort(name, 8080);
        assertEquals("90 1f 00 00", readPort(name));
        ports.unadvertisePort();
        assertTrue(readPort(name).startsWith("error"), "still published after unadvertisePort");
    }
}
