package com.orvela.tools;

/** A command line that can't be understood. */
final class UsageException extends Exception {
    private static final long serialVersionUID = 1L;

    UsageException(String message) { super(message); }
}
