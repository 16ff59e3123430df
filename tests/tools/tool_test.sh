#!/usr/bin/env bash
# The orvela tool as a user meets it: `java -jar orvela.jar` (natives packed inside) and the
# installed bin/orvela, in real VMs on real sockets. A table of command lines with the exit
# status and first line expected, then the cases that need a partner: socat and a user without
# a passwd entry against `serve`, Ctrl-C, a pipe closed early, `dump`, and network namespaces
# (198.18.0.0/15 and 2001:db8::/32, made and removed here) for unreachable destinations; the
# unprivileged rows run in network namespaces of their own, with the ping group range they need,
# and the rows with this run's host names in a mount namespace with its own /etc/hosts. Run as root.
#   tool_test.sh REPO FRAMEWORK_JAR BUILD_DIR [PLATFORM]   (the jar's name for it; linux-x86_64)
set -uo pipefail
repo=$1 framework=$2 build=$3 platform=${4:-linux-x86_64}
work=$(mktemp -d)
chmod 755 "$work" # the user without a passwd entry reads the jar from here
ns=orvtool-$$
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    ip netns del "$ns-a" 2>/dev/null
    ip netns del "$ns-b" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0
check() { # check NAME CONDITION-STATUS DETAIL
    if [[ $2 -eq 0 ]]; then ((++passed)); else ((++failed)); echo "FAIL $1: $3"; fi
}
# await_listening OUT: until the server writing OUT says it listens, which it says once its
# socket has its mode; the socket file is there a little earlier. Up to a minute: an emulated VM
# starts slowly.
await_listening() {
    for _ in $(seq 600); do
        grep -q '^server: listening on' "$1" 2>/dev/null && return
        sleep 0.1
    done
}

"$repo/scripts/pack-natives" "$work/orvela.jar" "$framework" "$platform=$build/core:*.so"
cmake --install "$build" --prefix "$work/inst" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
cd "$work" # nothing from the build tree on any path
orvela() { java -jar "$work/orvela.jar" "$@"; }
as_nobody=(setpriv --reuid 4242 --regid 4242 --clear-groups java -jar "$work/orvela.jar")
nobody() { "${as_nobody[@]}" "$@"; }
# nobody_in RANGE ARGS...: as nobody in a fresh network namespace, loopback up, whose
# net.ipv4.ping_group_range is RANGE (the host's setting differs from machine to machine).
nobody_in() {
    unshare -n sh -c 'ip link set lo up && sysctl -qw net.ipv4.ping_group_range="$0" && exec "$@"' \
        "$1" "${as_nobody[@]}" "${@:2}"
}
# with_hosts ARGS...: the tool where /etc/hosts holds only this run's names; the system's order
# puts ::1 before 127.0.0.1.
printf '127.0.0.1 orvtool-dual orvtool-four\n::1 orvtool-dual\n' >"$work/hosts"
with_hosts() {
    unshare -m sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$work/hosts" \
        java -jar "$work/orvela.jar" "$@"
}
touch "$work/plain"

# status | first line of standard output and error together (a glob) | command line
table=(
    "2|usage: orvela <command>*|orvela"
    "2|orvela: unknown command 'pong'*|orvela pong"
    "0|usage: orvela ping *-c count*host|orvela ping --help"
    "0|usage: orvela trace *|orvela trace -m 5 -h"
    "2|orvela ping: unknown option -s|orvela ping -s 100 127.0.0.1"
    "2|orvela trace: unknown option -q|orvela trace -q 1 127.0.0.1"
    "2|orvela ping: option -c needs a whole number, not '127.0.0.1'|orvela ping -c 127.0.0.1"
    "2|orvela ping: option -W needs a value|orvela ping 127.0.0.1 -W"
    "2|orvela ping: option -i must be 0..3600000, not -5|orvela ping -i -5 127.0.0.1"
    "2|orvela ping: empty host|orvela ping ''"
    "2|orvela ping: missing host|orvela ping -c 1"
    "2|orvela ping: unexpected argument 'b'|orvela ping a b"
    "0|PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.|orvela ping -c1 -i0 -- 127.0.0.1"
    "2|orvela trace: option -m must be 2..255, not 0|orvela trace -m 0 127.0.0.1"
    "2|orvela trace: option -s must be 64..1024, not 5000|orvela trace -s 5000 127.0.0.1"
    "0|trace to 127.0.0.1 (127.0.0.1), 3 hops max, 100 byte packets|orvela trace -m3 -s 100 127.0.0.1"
    "2|orvela latency: option -t must be 2..255, not 1|orvela latency -t 1 127.0.0.1"
    "0|latency to 127.0.0.1: *.* ms (64 bytes, try 1 of 3)|orvela latency -t 8 127.0.0.1"
    "0|latency to ::1: *.* ms (* bytes, try 1 of 3)|orvela latency ::1"
    "0|PING orvtool-dual(::1) 56 data bytes|with_hosts ping -c1 -i0 orvtool-dual"
    "0|PING orvtool-dual (127.0.0.1) 56(84) bytes of data.|with_hosts ping -4 -c1 -i0 orvtool-dual"
    "0|trace to orvtool-dual (::1), 2 hops max, * byte packets|with_hosts trace -6 -m2 orvtool-dual"
    "2|orvela latency: orvtool-four: no IPv6 address|with_hosts latency -6 orvtool-four"
    "2|orvela ping: ::1: no IPv4 address|orvela ping -4 ::1"
    "2|orvela ping: only one of -4 and -6 may be given|orvela ping -4 -6 ::1"
    "2|orvela serve: option -m needs an octal mode 0..777, not '999'|orvela serve -m 999 x.sock"
    "1|orvela serve: $work/plain: exists and is not a socket; not replacing it|orvela serve $work/plain"
    "1|orvela connect: $work/none.sock: No such file or directory|orvela connect $work/none.sock hi"
    "2|orvela connect: missing message|orvela connect $work/none.sock"
    "1|orvela dump: $work/no/such/file: No such file or directory|orvela dump $work/no/such/file"
    "2|orvela ping: cannot open an ICMP socket: allow your group in net.ipv4.ping_group_range, or run with CAP_NET_RAW|nobody_in '1 0' ping 127.0.0.1"
    "2|orvela latency: cannot open an ICMP socket: allow your group in net.ipv4.ping_group_range, or run with CAP_NET_RAW|nobody_in '1 0' latency 127.0.0.1"
    "0|PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.|nobody_in '4242 4242' ping -c 1 -i 0 127.0.0.1"
    "0|latency to 127.0.0.1: *.* ms (64 bytes, try 1 of 3)|nobody_in '4242 4242' latency 127.0.0.1"
    "0|PING ::1(::1) 56 data bytes|nobody_in '4242 4242' ping -c 1 -i 0 ::1"
    "0|trace to 127.0.0.1 (127.0.0.1), 2 hops max, 64 byte packets|nobody_in '1 0' trace -m 2 127.0.0.1"
)
for row in "${table[@]}"; do
    IFS='|' read -r status first command <<<"$row"
    out=$(eval "$command" 2>&1)
    got=$?
    line=${out%%$'\n'*}
    # shellcheck disable=SC2053 # the expected line is a glob
    [[ $got -eq $status && "$line" == $first ]]
    check "$command" $? "status $got, first line '$line'"
done

# ping: microseconds, below 1 ms on loopback for at least one reply; iputils' statistics.
out=$(orvela ping -c 5 -i 20 127.0.0.1)
check "ping times" $? "$out"
min=$(sed -n 's|^rtt min/avg/max/mdev = \([0-9]*\.[0-9]\{3\}\)/.*|\1|p' <<<"$out")
grep -qE 'icmp_seq=5 time=[0-9]+\.[0-9]{3} ms$' <<<"$out" && awk -v m="${min:-9}" 'BEGIN { exit !(m < 1.0) }'
check "ping below 1 ms on loopback" $? "$out"

# A reader that leaves stops ping (1000 requests would take 100 s).
timeout 30 java -jar "$work/orvela.jar" ping -c 1000 -i 100 127.0.0.1 | head -2 >/dev/null
check "ping | head -2 ends" $(( PIPESTATUS[0] == 124 )) "still running after 30 s"

# Two at once: each counts its own replies only.
orvela ping -c 20 -i 0 127.0.0.1 >"$work/ping.1" & first=$!
orvela ping -c 20 -i 0 127.0.0.1 >"$work/ping.2"
wait "$first"
grep -q '^20 packets transmitted, 20 received, 0% packet loss' "$work/ping.1" &&
    grep -q '^20 packets transmitted, 20 received, 0% packet loss' "$work/ping.2" &&
    ! grep -q DUP "$work/ping.1" "$work/ping.2"
check "two pings at once" $? "$(tail -n 2 "$work/ping.1" "$work/ping.2")"

# Ctrl-C: statistics, and status 0 since replies came.
env --default-signal=INT java -jar "$work/orvela.jar" ping -c 1000 -i 100 127.0.0.1 >"$work/ping.out" &
pid=$!
for _ in $(seq 100); do grep -q 'icmp_seq=2 ' "$work/ping.out" && break; sleep 0.1; done
kill -INT "$pid"
wait "$pid"
got=$?
grep -q '^--- 127.0.0.1 ping statistics ---$' "$work/ping.out" && grep -q '^rtt min/avg/max/mdev' "$work/ping.out"
check "ping statistics on Ctrl-C" $(( $? || got )) "status $got: $(cat "$work/ping.out")"

# serve: a socket any local user may open under an owner-only umask; socat without identity, a
# user without a passwd entry and a client that sends nothing are logged and served past.
sock=$work/cli.sock
(umask 077; exec env --default-signal=INT java -jar "$work/orvela.jar" serve -r 1000 "$sock") \
    >"$work/serve.out" 2>"$work/serve.err" &
server=$!
pids+=("$server")
await_listening "$work/serve.out"
[[ $(stat -c %a "$sock") == 666 ]]
check "serve socket mode" $? "$(stat -c %a "$sock")"
echo hi | timeout 10 socat - "UNIX-CONNECT:$sock" >/dev/null 2>&1
nobody connect "$sock" hi >/dev/null 2>&1
sleep 3 | timeout 10 bash -c 'umask 077; exec socat - UNIX-CONNECT:"$1",bind=/var/tmp/$$' _ "$sock"
out=$(orvela connect "$sock" still there)
[[ "$out" == "client: hello root, you said: still there" ]]
check "serve survives failing clients" $? "$out / $(cat "$work/serve.err")"
[[ $(grep -c '^orvela serve: client rejected: ' "$work/serve.err") -eq 2 ]] &&
    grep -q "^orvela serve: client 'root' sent nothing within 1000 ms$" "$work/serve.err"
check "serve logs failing clients" $? "$(cat "$work/serve.err")"
clients=()
for i in $(seq 6); do orvela connect "$sock" "burst $i" >"$work/burst.$i" 2>&1 & clients+=($!); done
wait "${clients[@]}"
answered=0
for i in $(seq 6); do grep -qx "client: hello root, you said: burst $i" "$work/burst.$i" && ((++answered)); done
check "serve answers a burst of clients" $(( answered != 6 )) "$answered of 6: $(cat "$work"/burst.*)"
kill -INT "$server"
wait "$server"
[[ ! -e "$sock" ]]
check "serve removes its socket on Ctrl-C" $? "the socket file is still there"

# A socket left by a server killed outright is replaced; a live server's is not.
java -jar "$work/orvela.jar" serve "$sock" >"$work/live.out" 2>&1 &
server=$!
pids+=("$server")
await_listening "$work/live.out"
out=$(orvela serve "$sock" 2>&1)
[[ $? -eq 1 && "$out" == "orvela serve: $sock: a server is listening there already" ]]
check "serve keeps a live server's socket" $? "$out"
kill -KILL "$server"
{ wait "$server"; } 2>/dev/null
out=$(orvela serve -n 1 -t 20000 "$sock" 2>&1 & sleep 2; orvela connect "$sock" again; wait)
grep -q "client: hello root, you said: again" <<<"$out" && [[ ! -e "$sock" ]]
check "serve replaces a stale socket" $? "$out"

# dump: through the launcher, and under plain java -jar (which restarts itself for it).
"$work/inst/bin/orvela" dump "$work/launcher.txt" >/dev/null &&
    grep -q '^Full thread dump' "$work/launcher.txt" && grep -q '^"main"' "$work/launcher.txt"
check "dump through bin/orvela" $? "$(head -3 "$work/launcher.txt" 2>&1)"
orvela dump "$work/jar.txt" >/dev/null && grep -q '^Full thread dump' "$work/jar.txt"
check "dump under java -jar" $? "$(head -3 "$work/jar.txt" 2>&1)"
"$work/inst/bin/orvela" ping -c 1 127.0.0.1 >/dev/null
check "bin/orvela finds the installed libraries" $? "ping failed"

# Unreachable: a host with no route refuses the send, with the system's reason; a router that
# has none for the destination answers unreachable, marked as traceroute marks it, and the trace
# stops there: host unreachable (route "unreachable"), network unreachable ("throw") and
# administratively prohibited ("prohibit", after which the route trace itself would go on); over
# IPv6 no route ("unreachable") and prohibited.
ip netns add "$ns-a" && ip netns add "$ns-b" &&
    ip link add "$ns-x" netns "$ns-a" type veth peer name "$ns-y" netns "$ns-b" &&
    ip -n "$ns-a" addr add 198.18.0.1/30 dev "$ns-x" && ip -n "$ns-b" addr add 198.18.0.2/30 dev "$ns-y" &&
    ip -n "$ns-a" link set "$ns-x" up && ip -n "$ns-b" link set "$ns-y" up &&
    ip -n "$ns-a" link set lo up && ip -n "$ns-b" link set lo up &&
    ip netns exec "$ns-b" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 &&
    ip -n "$ns-a" route add 198.18.4.0/22 via 198.18.0.2 &&
    ip -n "$ns-b" route add unreachable 198.18.5.0/24 &&
    ip -n "$ns-b" route add throw 198.18.6.0/24 &&
    ip -n "$ns-b" route add prohibit 198.18.7.0/24 &&
    ip -n "$ns-a" addr add 2001:db8::1/64 dev "$ns-x" nodad &&
    ip -n "$ns-b" addr add 2001:db8::2/64 dev "$ns-y" nodad &&
    ip netns exec "$ns-b" sysctl -qw net.ipv6.conf.all.forwarding=1 net.ipv6.icmp.ratelimit=0 &&
    ip -n "$ns-a" route add 2001:db8:4::/46 via 2001:db8::2 &&
    ip -n "$ns-b" route add unreachable 2001:db8:5::/48 &&
    ip -n "$ns-b" route add prohibit 2001:db8:7::/48
check "namespaces" $? "could not build them"
out=$(ip netns exec "$ns-a" java -jar "$work/orvela.jar" ping -c 1 -W 200 198.18.9.1 2>&1)
[[ $? -eq 1 ]] && grep -q '^orvela ping: icmp_seq=1: send failed: Network is unreachable$' <<<"$out"
check "ping names why a send failed" $? "$out"
# The router sends route errors in a burst of five, then one a second: !X takes one answer,
# the others three (one per probe), and each row waits a second.
for row in "198.18.7.1 198.18.0.2 !X" "198.18.5.1 198.18.0.2 !H" "198.18.6.1 198.18.0.2 !N" \
    "2001:db8:7::1 2001:db8::2 !X" "2001:db8:5::1 2001:db8::2 !N"; do
    read -r host hop mark <<<"$row"
    sleep 1
    out=$(ip netns exec "$ns-a" java -jar "$work/orvela.jar" trace -m 5 -w 500 "$host" 2>&1)
    [[ $? -eq 1 ]] && grep -qE "^ 1  ${hop//./\\.}  [0-9.]+ ms $mark\$" <<<"$out" &&
        [[ $(wc -l <<<"$out") -eq 2 ]]
    check "trace marks an unreachable answer $mark from $hop" $? "$out"
done

echo "orvela tool: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
