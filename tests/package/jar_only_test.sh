#!/usr/bin/env bash
# A program with only the user jar on its class path (no java.library.path) pings 127.0.0.1 and
# runs a Unix-domain session; a jar without natives for the platform fails with a clear error.
#   jar_only_test.sh REPO FRAMEWORK_JAR LINUX_CORE_DIR [PLATFORM [JAVA]]
# PLATFORM is the jar's name for the libraries' machine (linux-x86_64), JAVA the VM that runs
# them (java on the PATH).
set -euo pipefail
repo=$1 framework=$2 core=$3 platform=${4:-linux-x86_64} java=${5:-java}
work=$(mktemp -d)
server=
trap '[[ -n "$server" ]] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$repo/scripts/pack-natives" "$work/orvela.jar" "$framework" "$platform=$core:*.so"
cd "$work"  # nothing from the build tree on any path
orvela() { "$java" -cp "$work/orvela.jar" com.orvela.tools.Orvela "$@"; }

out=$(orvela ping -c 2 -i 100 127.0.0.1) || fail "ping: $out"
grep -q '2 packets transmitted, 2 received' <<<"$out" || fail "ping output: $out"

orvela serve -n 1 -t 20000 "$work/cli.sock" >"$work/server.out" &
server=$!
# Up to a minute: an emulated VM starts slowly.
for _ in $(seq 600); do [[ -S "$work/cli.sock" ]] && break; sleep 0.1; done
out=$(orvela connect "$work/cli.sock" hello) || fail "connect: $out"
wait "$server"; server=
grep -q "client: hello root, you said: hello" <<<"$out" || fail "client output: $out"
grep -q "client runs as user 'root'" "$work/server.out" || fail "server output: $(cat "$work/server.out")"

cp "$framework" "$work/bare.jar"
if out=$("$java" -cp "$work/bare.jar" com.orvela.tools.Orvela ping -c 1 127.0.0.1 2>&1); then
    fail "a jar without natives pinged: $out"
fi
grep -q "no native library icmpprobe for platform $platform" <<<"$out" || fail "error text: $out"
echo "jar-only: 1 passed, 0 failed"
