package com.orvela.tools;

import java.util.ArrayList;
import java.util.List;

/** Options of the form "-x value" and the positional arguments after them. */
final class Args {
    private final String[] argv;

    Args(String[] argv) { this.argv = argv; }

    boolean has(String flag) {
        for (String a : argv) {
            if (a.equals(flag)) return true;
        }
        return false;
    }

    int intOption(String flag, int fallback) throws UsageException {
        for (int i = 0; i < argv.length; ++i) {
            if (argv[i].equals(flag)) {
                if (i + 1 >= argv.length) throw new UsageException(flag + " needs a value");
                try {
                    return Integer.parseInt(argv[i + 1]);
                } catch (NumberFormatException e) {
                    throw new UsageException(flag + " needs a number, not '" + argv[i + 1] + "'");
                }
            }
        }
        return fallback;
    }

    /** The arguments that are neither options nor option values. */
    List<String> positional() {
        List<String> out = new ArrayList<>();
        for (int i = 0; i < argv.length; ++i) {
            if (argv[i].startsWith("-") && argv[i].length() > 1 && !isNumber(argv[i])) {
                ++i;
                continue;
            }
            out.add(argv[i]);
        }
        return out;
    }

    String single(String what) throws UsageException {
        List<String> rest = positional();
        if (rest.size() != 1) throw new UsageException("expected one " + what);
        return rest.get(0);
    }

    private static boolean isNumber(String s) {
        try {
            Integer.parseInt(s);
            return true;
        } catch (NumberFormatException e) {
            return false;
        }
    }
}
