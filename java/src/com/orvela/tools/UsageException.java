package com.orvela.tools;

/** A command line that can't be understood: the tool says why and shows the usage (status 2). */
final class UsageException extends Exception {
    private static final long serialVersionUID = 1L;

    UsageException(String message) { super(message); }
}
