#!/usr/bin/env bash
# Checks what the ping units of icmpprobe export: every name of the ping service is in the
# library's dynamic symbol table, and the ping units' objects give nothing else default
# visibility. Other units of the library are not looked at.
# Usage: check_exports.sh <libicmpprobe.so> <object files...>
set -euo pipefail
lib=$1
shift

functions=(icmp_init send_ping icmp_shutdown checksum receive_pings TestReceivePings
           Java_com_orvela_core_icmp_JNIPinger_nativeICMPInit
           Java_com_orvela_core_icmp_JNIPinger_nativeSendPing
           Java_com_orvela_core_icmp_JNIPinger_nativeICMPShutdown
           Java_com_orvela_core_icmp_JNIPingReceiver_nativeReceivePings)
settings=(packetsize pingLogFile trace)

status=0
dynamic=$(nm -D --defined-only "$lib")
for name in "${functions[@]}"; do
    grep -qE "^[0-9a-f]+ T ${name}\$" <<<"$dynamic" || { echo "missing function: $name"; status=1; }
done
for name in "${settings[@]}"; do
    grep -qE "^[0-9a-f]+ [DB] ${name}\$" <<<"$dynamic" || { echo "missing setting: $name"; status=1; }
done

expected=$(printf '%s\n' "${functions[@]}" "${settings[@]}" | sort)
ours=()
for object in "$@"; do
    case $(basename "$object") in
        JNIPinger.cpp.o | ping_unix.cpp.o) ours+=("$object") ;;
    esac
done
[[ ${#ours[@]} -eq 2 ]] || { echo "expected the two ping objects, got: ${ours[*]:-none}"; exit 1; }
# Defined symbols with global or weak binding and default visibility leave the library (the
# sanitizers add their own markers beside exported data).
visible=$(readelf -sW "${ours[@]}" |
          awk '$5 ~ /GLOBAL|WEAK/ && $6 == "DEFAULT" && $7 != "UND" {print $8}' |
          grep -v '^__odr_asan\.' | sort -u)
if [[ "$visible" != "$expected" ]]; then
    echo "the ping units export a different set of names:"
    diff <(echo "$expected") <(echo "$visible") || true
    status=1
fi
[[ $status -eq 0 ]] && echo "exports of the ping units: as expected (${#functions[@]} functions, ${#settings[@]} settings)"
exit $status
