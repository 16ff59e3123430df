#!/usr/bin/env bash
# Every Java example of the README compiles as written (each block is the body of a method);
# the ping, probe, IPv6 and channel examples also run, the channel's server and client in two VMs.
#   readme_examples_test.sh REPO FRAMEWORK_JAR LIBRARY_PATH
set -euo pipefail
repo=$1 framework=$2 libpath=$3
work=$(mktemp -d)
server=
trap '[[ -n "$server" ]] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# One class per block; this run's own socket path instead of the shared one in the text.
awk -v dir="$work" -v sock="$work/cli.sock" '
    /^```java$/ { n++; file = dir "/Example" n ".java"
                  print "import com.orvela.core.cli.*; import com.orvela.core.icmp.*;" > file
                  print "import com.orvela.core.orb.*; import java.nio.file.*;" > file
                  print "public class Example" n " { public static void main(String[] a) throws Exception {" > file
                  next }
    /^```$/ && file { print "}}" > file; close(file); file = ""; next }
    file { gsub("/tmp/orvela-cli.sock", sock); print > file }
' "$repo/README.md"
blocks=$(ls "$work"/Example*.java | wc -l)
[[ $blocks -ge 6 ]] || fail "expected at least 6 Java examples, found $blocks"
javac --release 17 -Xlint:all -Werror -cp "$framework" -d "$work" "$work"/Example*.java 2>&1 ||
    fail "README examples do not compile"

run() { java -Djava.library.path="$libpath" -cp "$framework:$work" "$@"; }
example() { grep -l -- "$1" "$work"/Example*.java | head -1 | xargs basename | sed 's/\.java$//'; }
run "$(example 'JNIPinger.nativeICMPInit')" || fail "ping example"
out=$(run "$(example 'ASM.getLatency')") || fail "probe example"
grep -q ' ms$' <<<"$out" || fail "probe example printed: $out"
out=$(run "$(example 'nativeICMPInit6')") || fail "IPv6 example"
grep -q ' ms$' <<<"$out" || fail "IPv6 example printed: $out"
run "$(example 'UnixDomServerSocket(')" &
server=$!
for _ in $(seq 100); do [[ -S "$work/cli.sock" ]] && break; sleep 0.1; done
run "$(example 'new UnixDomSocket(')" || fail "channel client example"
wait "$server" || fail "channel server example"
server=
[[ ! -e "$work/cli.sock" ]] || fail "the server example left its socket file"
echo "readme examples: $blocks compiled, 5 run"
