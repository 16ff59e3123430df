package com.orvela.test.orb;

/** com.orvela.core.orb.Orb, whose natives Stackprint carries. */
class OrbThreadDumpTest extends ThreadDumpContract {
    @Override
    String dumper() {
        return "Orb";
    }
}
