package com.orvela.test.orb;

import com.orvela.test.ChildVm;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/** Starts {@link DumpChild} in a child VM that prints its thread dumps on standard error. */
final class DumpChildVm {
    private DumpChildVm() {}

    static ChildVm start(List<String> prefix, List<String> vmOptions, String... args)
            throws IOException {
        List<String> options = new ArrayList<>(List.of("-XX:+DisplayVMOutputToStderr"));
        options.addAll(vmOptions);
        return ChildVm.start(prefix, options, Map.of(), DumpChild.class, args);
    }

    static ChildVm start(String... args) throws IOException {
        return start(List.of(), List.of(), args);
    }
}
