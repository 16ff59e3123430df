package com.orvela.test.ductway;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.core.cli.WinSockClientServer;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** A port advertised in this Windows VM, read by a plain Win32 process (ductway_peer). */
class PortAdvertisementVmTest {
    /** What the peer prints for the block named {@code name}: its first four bytes in hex. */
    private static String readPort(String name) throws Exception {
        Process peer = new ProcessBuilder(System.getProperty("orvela.test.peer"), "readport", name)
                .redirectErrorStream(true).start();
        assertTrue(peer.waitFor(120, TimeUnit.SECONDS));
        return new String(peer.getInputStream().readAllBytes(), StandardCharsets.UTF_8).trim();
    }

    @Test
    void anotherProcessReadsThePortUntilItIsWithdrawn() throws Exception {
        String name = "orvela-vm-port-" + ProcessHandle.current().pid();
        WinSockClientServer ports = new WinSockClientServer();
        ports.advertisePort(name, 8080);
        assertEquals("90 1f 00 00", readPort(name));
        WinSockClientServer again = new WinSockClientServer();
        again.advertisePort(name, 443);  // the existing block gets the new port
        assertEquals("bb 01 00 00", readPort(name));
        again.unadvertisePort();
        assertEquals("bb 01 00 00", readPort(name));  // still held by the first
        ports.unadvertisePort();
        assertTrue(readPort(name).startsWith("error"), "still published after unadvertisePort");
    }

    @Test
    void emptyNameIsRefusedWithTheSystemsText() {
        WinSockClientServer ports = new WinSockClientServer();
        IOException e = assertThrows(IOException.class, () -> ports.advertisePort("", 8080));
        assertFalse(e.getMessage() == null || e.getMessage().isBlank(), e::toString);
        assertThrows(IOException.class, ports::unadvertisePort);
    }
}
