#!/bin/sh
# Latency probes beside a flood of other ICMP (ping -f to 127.0.0.1): each probe's receive
# socket returns from recvmsg only for the probe's own reply, once per probe.
# Usage: latency-flood.sh TRACE_UNIT_TESTS (needs root, strace and iputils ping; else skipped)
set -u
tests=$1
for tool in strace ping; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
work=$(mktemp -d)
flood=
trap '[ -n "$flood" ] && kill "$flood" 2>/dev/null; rm -rf "$work"' EXIT
ping -f -q 127.0.0.1 >"$work/flood" 2>&1 &
flood=$!
sleep 1
if ! kill -0 "$flood" 2>/dev/null; then
    echo "skipped: ping -f did not run: $(cat "$work/flood")"
    exit 77
fi

# LeakSanitizer can't run under ptrace; the sanitizer builds check leaks in their other runs.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    strace -f -qq -e trace=recvmsg -e status=successful -o "$work/calls" "$tests" \
    --gtest_filter=LoopbackTest.LatencyProbesToAddressesOfTheirOwnAreEachAnswered >"$work/out" 2>&1
status=$?
kill -INT "$flood"
wait "$flood"
flood=
cat "$work/out"
[ "$status" -eq 0 ] || { echo "FAIL: the probes (status $status)"; exit 1; }
grep -q 'latency probes answered: ' "$work/out" || { echo "skipped: no raw sockets"; exit 77; }

answered=$(sed -n 's/^latency probes answered: //p' "$work/out")
returned=$(grep -c 'recvmsg(' "$work/calls")
flooded=$(sed -n 's/^\([0-9]*\) packets transmitted.*/\1/p' "$work/flood")
echo "probes answered: $answered; recvmsg calls that returned a datagram: $returned;" \
     "flood requests: ${flooded:-none}"
[ "${flooded:-0}" -ge 1000 ] || { echo "FAIL: no flood"; exit 1; }
[ "$returned" -eq "$answered" ] || { echo "FAIL: woken for others' ICMP"; sed 20q "$work/calls"; exit 1; }
echo PASS
