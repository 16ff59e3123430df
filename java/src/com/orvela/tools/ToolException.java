package com.orvela.tools;

/** A failure the user can act on, said in one line, with the exit status to leave with. */
final class ToolException extends Exception {
    private static final long serialVersionUID = 1L;
    private final int status;

    ToolException(int status, String message) {
        super(message);
        this.status = status;
    }

    int status() { return status; }
}
