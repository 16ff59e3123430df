package com.orvela.test.windows;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvela.test.ChildVm;
import java.io.File;
import org.junit.jupiter.api.Test;

/**
 * The user jar in the Windows VM: the library comes out of the jar's native/windows-x86_64/,
 * with no java.library.path; a jar without it fails naming the platform.
 */
class JarLoaderVmTest {
    private static String classPath(String jarProperty) {
        // The tests' own jar is the last entry of the suite's class path.
        String[] suite = System.getProperty("orvela.test.classpath").split(File.pathSeparator);
        return System.getProperty(jarProperty) + File.pathSeparator + suite[suite.length - 1];
    }

    @Test
    void userJarBringsTheLibraryAndABareJarNamesThePlatform() throws Exception {
        ChildVm packed = ChildVm.startWithClassPath(classPath("orvela.test.userjar"), JarLoaderMain.class);
        ChildVm bare = ChildVm.startWithClassPath(classPath("orvela.test.barejar"), JarLoaderMain.class);
        String out = packed.awaitSuccess().out();
        assertTrue(out.contains("platform windows-x86_64\ninstances 1\n"), packed::describe);
        out = bare.awaitSuccess().out();
        assertTrue(out.contains("unsatisfied no native library Ductway for platform windows-x86_64"),
                bare::describe);
    }
}
