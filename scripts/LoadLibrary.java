/** Loads the library named by -Dlib into this VM, as the framework classes do. */
public final class LoadLibrary {
    public static void main(String[] args) {
        String lib = System.getProperty("lib");
        System.load(lib);
        System.out.println("   loaded into " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.version"));
    }
}
