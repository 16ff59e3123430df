#!/usr/bin/env bash
# Builds or removes a chain of network namespaces for the route trace and latency tests:
#
#   PREFIX-c (client) -- PREFIX-r1 -- ... -- PREFIX-rN -- PREFIX-d (destination)
#
# Segment k (0..N) joins node k and node k+1: its left end is 198.18.k.1/24 (interface ek), its
# right end 198.18.k.2/24 (interface wk). The client is 198.18.0.1, the destination 198.18.N.2.
# Three more prefixes end inside the chain, routed towards their router from the client side:
#   198.19.1.0/24 unreachable (host unreachable) and 198.19.3.0/24 blackhole (silence) at
#   router min(2,N), 198.19.2.0/24 prohibit (code 13) at router min(3,N).
# The destination also answers for every address of 198.18.16.0/20 (a local route on its
# loopback), reached with 0 routers, where the client and the destination share one segment:
# the many hosts of the parallel probes and the sweep.
# IPv6 the same way: segment k is 2001:db8:0:k::/64 (left end ::1, right end ::2), the client
# 2001:db8::1, the destination 2001:db8:0:N::2; 2001:db8:1:1::/64 unreachable (no route) and
# 2001:db8:1:3::/64 blackhole at router min(2,N), 2001:db8:1:2::/64 prohibit (code 1) at router
# min(3,N). No address waits for duplicate address detection.
# ICMP rate limits are off in every namespace. The kernel still limits its IPv4 route errors
# (unreachable, prohibit) per sender to a burst of about five, then one a second: a test asks
# each router for only a few.
#
#   trace-netns.sh up PREFIX ROUTERS
#   trace-netns.sh down PREFIX
set -euo pipefail

cmd=${1:?up or down}
prefix=${2:?namespace prefix}

down() {
    local ns
    for ns in $(ip netns list | awk '{print $1}'); do
        [[ "$ns" == "$prefix"-* ]] && ip netns del "$ns"
    done
    return 0
}

up() {
    local routers=${1:?number of routers}
    trap down ERR
    local nodes=(c)
    local i k j
    for ((i = 1; i <= routers; i++)); do nodes+=("r$i"); done
    nodes+=(d)
    for node in "${nodes[@]}"; do
        ip netns add "$prefix-$node"
        ip -n "$prefix-$node" link set lo up
        ip netns exec "$prefix-$node" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_ratemask=0 \
            net.ipv6.icmp.ratelimit=0 net.ipv6.conf.all.accept_dad=0 \
            net.ipv6.conf.default.accept_dad=0
    done
    for ((k = 0; k <= routers; k++)); do
        local left="$prefix-${nodes[k]}" right="$prefix-${nodes[k + 1]}"
        ip -n "$left" link add "e$k" type veth peer name "w$k" netns "$right"
        ip -n "$left" addr add "198.18.$k.1/24" dev "e$k"
        ip -n "$right" addr add "198.18.$k.2/24" dev "w$k"
        ip -n "$left" addr add "2001:db8:0:$k::1/64" dev "e$k" nodad
        ip -n "$right" addr add "2001:db8:0:$k::2/64" dev "w$k" nodad
        ip -n "$left" link set "e$k" up
        ip -n "$right" link set "w$k" up
    done
    ip -n "$prefix-c" route add 198.18.0.0/15 via 198.18.0.2
    ip -n "$prefix-d" route add 198.18.0.0/15 via "198.18.$routers.1"
    ip -n "$prefix-d" route add local 198.18.16.0/20 dev lo
    ip -n "$prefix-c" -6 route add 2001:db8::/32 via 2001:db8::2
    ip -n "$prefix-d" -6 route add 2001:db8::/32 via "2001:db8:0:$routers::1"
    local unreachable=$((routers < 2 ? routers : 2)) prohibit=$((routers < 3 ? routers : 3))
    for ((i = 1; i <= routers; i++)); do
        local ns="$prefix-r$i"
        ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
        for ((j = 0; j <= routers; j++)); do
            if ((j < i - 1)); then
                ip -n "$ns" route add "198.18.$j.0/24" via "198.18.$((i - 1)).1"
                ip -n "$ns" -6 route add "2001:db8:0:$j::/64" via "2001:db8:0:$((i - 1))::1"
            elif ((j > i)); then
                ip -n "$ns" route add "198.18.$j.0/24" via "198.18.$i.2"
                ip -n "$ns" -6 route add "2001:db8:0:$j::/64" via "2001:db8:0:$i::2"
            fi
        done
        if ((i < unreachable)); then
            ip -n "$ns" route add 198.19.0.0/16 via "198.18.$i.2"
            ip -n "$ns" -6 route add 2001:db8:1::/48 via "2001:db8:0:$i::2"
        elif ((i == unreachable)); then
            ip -n "$ns" route add unreachable 198.19.1.0/24
            ip -n "$ns" route add blackhole 198.19.3.0/24
            ip -n "$ns" -6 route add unreachable 2001:db8:1:1::/64
            ip -n "$ns" -6 route add blackhole 2001:db8:1:3::/64
        fi
        if ((i >= unreachable && i < prohibit)); then
            ip -n "$ns" route add 198.19.2.0/24 via "198.18.$i.2"
            ip -n "$ns" -6 route add 2001:db8:1:2::/64 via "2001:db8:0:$i::2"
        elif ((i == prohibit)); then
            ip -n "$ns" route add prohibit 198.19.2.0/24
            ip -n "$ns" -6 route add prohibit 2001:db8:1:2::/64
        fi
    done
    trap - ERR
}

case "$cmd" in
    up) up "${3:-3}" ;;
    down) down ;;
    *) echo "usage: $0 up PREFIX ROUTERS | down PREFIX" >&2; exit 2 ;;
esac
