package com.orvela.tools;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * A command line read the way getopt reads it: "-c 3", "-c3", options grouped as in "-qv",
 * "--" ends the options. Anything not declared is a usage error, and so is a value out of range.
 */
final class Args {
    private final Map<Character, String> values = new HashMap<>();
    private final List<String> operands = new ArrayList<>();

    /**
     * @param withValue the option letters that take a value
     * @param switches the option letters that take none
     */
    Args(String[] argv, String withValue, String switches) throws UsageException {
        int i = 0;
        for (; i < argv.length; ++i) {
            String word = argv[i];
            if (word.equals("--")) {
                ++i;
                break;
            }
            if (!word.startsWith("-") || word.length() == 1) {
                operands.add(word);
                continue;
            }
            for (int at = 1; at < word.length(); ++at) {
                char letter = word.charAt(at);
                if (withValue.indexOf(letter) >= 0) {
                    String value = word.substring(at + 1);
                    if (value.isEmpty()) {
                        if (++i >= argv.length)
                            throw new UsageException("option -" + letter + " needs a value");
                        value = argv[i];
                    }
                    values.put(letter, value);
                    break;
                }
                if (switches.indexOf(letter) < 0) {
                    throw new UsageException(
                        "unknown option " + (word.startsWith("--") ? word : "-" + letter));
                }
                values.put(letter, "");
            }
        }
        for (; i < argv.length; ++i) operands.add(argv[i]);
    }

    /** True when --help or -h comes before any "--". */
    static boolean wantsHelp(String[] argv) {
        for (String word : argv) {
            if (word.equals("--")) return false;
            if (word.equals("--help") || word.equals("-h")) return true;
        }
        return false;
    }

    boolean has(char letter) { return values.containsKey(letter); }

    /**
     * The option's whole-number value, {@code fallback} when not given; min..max or a usage error.
     */
    int number(char letter, int fallback, int min, int max) throws UsageException {
        String text = values.get(letter);
        if (text == null) return fallback;
        int value;
        try {
            value = Integer.parseInt(text);
        } catch (NumberFormatException e) {
            throw new UsageException(
                "option -" + letter + " needs a whole number, not '" + text + "'");
        }
        if (value < min || value > max) {
            throw new UsageException(
                "option -" + letter + " must be " + min + ".." + max + ", not " + value);
        }
        return value;
    }

    /** The option's value as written, {@code fallback} when not given. */
    String text(char letter, String fallback) { return values.getOrDefault(letter, fallback); }

    List<String> operands() { return operands; }

    /** The one operand, which must not be empty. */
    String single(String what) throws UsageException {
        if (operands.isEmpty()) throw new UsageException("missing " + what);
        if (operands.size() > 1)
            throw new UsageException("unexpected argument '" + operands.get(1) + "'");
        String only = operands.get(0);
        if (only.isBlank()) throw new UsageException("empty " + what);
        return only;
    }

    /** No operand at all. */
    void none() throws UsageException {
        if (!operands.isEmpty())
            throw new UsageException("unexpected argument '" + operands.get(0) + "'");
    }
}
