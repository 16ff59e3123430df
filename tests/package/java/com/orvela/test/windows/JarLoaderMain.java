package com.orvela.test.windows;

import com.orvela.core.NativeLibraries;
import com.orvela.core.cli.NamedPipeServer;

/** Uses Ductway with nothing but the class path to find it; prints what happened. */
public final class JarLoaderMain {
    public static void main(String[] args) throws Exception {
        System.out.println("platform " + NativeLibraries.platform());
        try (NamedPipeServer server = new NamedPipeServer(
                "\\\\.\\pipe\\orvela-jar-" + ProcessHandle.current().pid(), 3, 0, 1, 512, 512, 0)) {
            System.out.println("instances " + server.getCurrentInstances());
        } catch (UnsatisfiedLinkError e) {
            System.out.println("unsatisfied " + e.getMessage());
        }
    }
}
