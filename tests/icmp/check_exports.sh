#!/usr/bin/env bash
# icmpprobe exports exactly its functions, its natives and its settings under their own names,
# and nothing else (the route trace's own icmp_init and icmp_shutdown stay inside).
# Usage: check_exports.sh <libicmpprobe.so>
set -euo pipefail
lib=$1

functions=(icmp_init send_ping icmp_shutdown checksum receive_pings TestReceivePings
           pr_type inetname print start_trace send_probe wait_for_reply packet_ok deltaT
           start_test createSendSocket sendPingPacket ping_packet_ok in_cksum
           Java_com_orvela_core_icmp_JNIPinger_nativeICMPInit
           Java_com_orvela_core_icmp_JNIPinger_nativeSendPing
           Java_com_orvela_core_icmp_JNIPinger_nativeICMPShutdown
           Java_com_orvela_core_icmp_JNIPingReceiver_nativeReceivePings
           Java_com_orvela_core_icmp_ASM_getLatency
           Java_com_orvela_core_icmp_ASM_getTrace)
settings=(packetsize pingLogFile trace nprobes port verbose)

status=0
dynamic=$(nm -D --defined-only "$lib" | grep -v ' __odr_asan\.')
for name in "${functions[@]}"; do
    grep -qE "^[0-9a-f]+ T ${name}\$" <<<"$dynamic" || { echo "missing function: $name"; status=1; }
done
for name in "${settings[@]}"; do
    grep -qE "^[0-9a-f]+ [DB] ${name}\$" <<<"$dynamic" || { echo "missing setting: $name"; status=1; }
done
expected=$(printf '%s\n' "${functions[@]}" "${settings[@]}" | sort)
actual=$(awk '{print $3}' <<<"$dynamic" | sort)
if [[ "$actual" != "$expected" ]]; then
    echo "icmpprobe exports a different set of names (< expected, > exported):"
    diff <(echo "$expected") <(echo "$actual") || true
    status=1
fi
[[ $status -eq 0 ]] && echo "icmpprobe exports: as expected (${#functions[@]} functions, ${#settings[@]} settings)"
exit $status
