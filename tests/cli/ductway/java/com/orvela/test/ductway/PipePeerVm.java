package com.orvela.test.ductway;

import com.orvela.test.ChildVm;
import java.io.IOException;
import java.util.List;
import java.util.Map;

/** A {@link PipePeer} in a second Windows VM: commands go out, answers come back in order. */
final class PipePeerVm {
    private final ChildVm vm;
    private int answered;

    PipePeerVm(Map<String, String> environment) throws IOException {
        vm = ChildVm.start(List.of(), environment, PipePeer.class);
    }

    /** Sends a command without waiting for its answer (for commands that block the peer). */
    void send(String command) throws IOException {
        vm.send(command);
    }

    /** The answer to the oldest command not yet answered. */
    String answer() throws InterruptedException {
        int index = answered++;
        vm.awaitOutput(v -> v.out().lines().count() > index);
        return vm.out().lines().skip(index).findFirst().orElseThrow();
    }

    String ask(String command) throws IOException, InterruptedException {
        send(command);
        return answer();
    }

    String describe() {
        return vm.describe();
    }

    /** Lets the peer finish and expects it to end normally. */
    void finish() throws Exception {
        vm.release();
        vm.awaitSuccess();
    }
}
