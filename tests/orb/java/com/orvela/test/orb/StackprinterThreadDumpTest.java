package com.orvela.test.orb;

/** com.orvela.core.cli.Stackprinter, whose natives the channel library carries. */
class StackprinterThreadDumpTest extends ThreadDumpContract {
    @Override
    String dumper() {
        return "Stackprinter";
    }
}
