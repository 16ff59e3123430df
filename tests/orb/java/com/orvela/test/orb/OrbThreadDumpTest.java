package com.orvela.test.orb;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/** com.orvela.core.orb.Orb, whose natives Stackprint carries. */
class OrbThreadDumpTest extends ThreadDumpContract {
    @Override
    String dumper() {
        return "Orb";
    }

    /** -Xrs leaves the dump signal without handler in a real VM: raising it would end the VM. */
    @Test
    void withoutHandlerDump0DoesNothingAndDump1Throws() throws Exception {
        Path file = dir.resolve("dump.txt");
        ChildVm child = child(List.of("-Xrs"), "noHandler", file.toString()).awaitSuccess();
        String context = child.describe();
        assertTrue(child.out().contains("dump0 returned"), context);
        assertTrue(child.out().contains(
                "dump1 threw No thread dump: the VM has no handler for SIGQUIT"), context);
        assertTrue(child.out().contains("file exists false"), context);
        assertFalse(child.err().contains("Full thread dump"), context);
    }
}
