package com.orvela.core;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.HashSet;
import java.util.Locale;
import java.util.Set;

/**
 * Loads the native libraries that the framework's classes bind to. A library packed into the jar
 * for the running platform (under native/&lt;platform&gt;/) is used first; otherwise the library
 * is looked up on java.library.path.
 */
public final class NativeLibraries {
    private static final Set<String> loaded = new HashSet<>();
    private static Path extractDir;

    private NativeLibraries() {}

    /** Loads the library with the given base name (for example "Lanterra") once per class loader. */
    public static synchronized void load(String name) {
        if (loaded.contains(name)) return;
        String platform = platform();
        String file = System.mapLibraryName(name);
        String resource = "/native/" + platform + "/" + file;
        try (InputStream in = NativeLibraries.class.getResourceAsStream(resource)) {
            if (in != null) {
                System.load(extract(in, file).toString());
                loaded.add(name);
                return;
            }
        } catch (IOException e) {
            throw linkError("could not unpack " + resource + ": " + e.getMessage());
        }
        try {
            System.loadLibrary(name);
        } catch (UnsatisfiedLinkError e) {
            throw linkError("no native library " + name + " for platform " + platform
                    + " (os.name=" + System.getProperty("os.name") + ", os.arch="
                    + System.getProperty("os.arch") + "): not in the jar under native/" + platform
                    + "/ and not on java.library.path (" + e.getMessage() + ")");
        }
        loaded.add(name);
    }

    /**
     * The platform directory name used in the jar: linux-x86_64, linux-x86, linux-s390x,
     * windows-x86, windows-x86_64 (other machines: os-arch as the VM names them).
     */
    public static String platform() {
        String os = System.getProperty("os.name").toLowerCase(Locale.ROOT);
        String arch = System.getProperty("os.arch").toLowerCase(Locale.ROOT);
        String osPart = os.startsWith("windows") ? "windows" : os.startsWith("linux") ? "linux" : os.replace(' ', '_');
        String archPart;
        switch (arch) {
            case "amd64":
            case "x86_64":
                archPart = "x86_64";
                break;
            case "x86":
            case "i386":
            case "i486":
            case "i586":
            case "i686":
                archPart = "x86";
                break;
            case "s390x":
                archPart = "s390x";
                break;
            default:
                archPart = arch;
        }
        return osPart + "-" + archPart;
    }

    private static Path extract(InputStream in, String file) throws IOException {
        if (extractDir == null) {
            extractDir = Files.createTempDirectory("orvela-native");
            extractDir.toFile().deleteOnExit();
        }
        Path target = extractDir.resolve(file);
        Files.copy(in, target, StandardCopyOption.REPLACE_EXISTING);
        target.toFile().deleteOnExit();
        return target;
    }

    private static UnsatisfiedLinkError linkError(String message) {
        return new UnsatisfiedLinkError(message);
    }
}
