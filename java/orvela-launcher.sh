#!/bin/sh
# The orvela command-line tool of this installation: the jar from share/java, the native
# libraries from lib, and a VM that prints thread dumps on standard error (orvela dump FILE).
# JAVA_HOME, when set, picks the VM.
here=$(dirname -- "$(readlink -f -- "$0")")
prefix=$(dirname -- "$here")
java=java
[ -n "${JAVA_HOME:-}" ] && java=$JAVA_HOME/bin/java
exec "$java" -XX:+DisplayVMOutputToStderr -Djava.library.path="$prefix/lib" \
    -jar "$prefix/share/java/orvela.jar" "$@"
