#!/usr/bin/env bash
# Runs the pausems program through its command-line cases and checks output and exit status:
#   pausems_test.sh <pausems> [<emulator>...]
# Under Wine (scripts/wine-run) the program sees its Windows path (Z: is the root) as its name
# and writes Windows line breaks; under any other emulator (qemu) it is a Linux program.
set -uo pipefail
prog=$1
shift
runner=("$@")
if [[ ${#runner[@]} -gt 0 && "$(basename "${runner[0]}")" == wine-run ]]; then
    name="Z:${prog//\//\\}"
    nl=$'\r\n'
else
    name=$prog
    nl=$'\n'
fi
# The emulator's own "can't run this program here" passes through as a skip.
if [[ ${#runner[@]} -gt 0 ]]; then
    "${runner[@]}" "$prog" >/dev/null 2>&1
    [[ $? -eq 77 ]] && exit 77
fi
out_file=$(mktemp)
trap 'rm -f "$out_file"' EXIT
failures=0

# run <args...>: sets `out` (exactly as written, trailing line breaks too), `status` and
# `elapsed_ms`. A run that hangs ends after 30 s with status 124.
run() {
    local start end
    start=$(date +%s%N)
    timeout 30 "${runner[@]}" "$prog" "$@" >"$out_file"
    status=$?
    end=$(date +%s%N)
    elapsed_ms=$(((end - start) / 1000000))
    out=$(cat "$out_file"; printf x)
    out=${out%x}
}

# expect <case> <expected output>: the last run wrote exactly that and exited with 0.
expect() {
    if [[ "$out" == "$2" && $status -eq 0 ]]; then
        echo "ok: $1"
    else
        echo "FAIL: $1 (exit status $status)"
        printf '  expected: %q\n  actual:   %q\n' "$2" "$out"
        failures=$((failures + 1))
    fi
}

run
expect "no argument prints the usage" \
    "$name pauses execution for a given number of milliseconds.${nl}Usage:${nl}$name seconds${nl}${nl}Where:${nl}seconds = number of milliseconds to pause${nl}"

for arg in abc "" " 0" "-5" "-1" -2147483649 2147483648 4294967297 99999999999999999999 \
    -99999999999999999999; do
    run "$arg"
    expect "'$arg' is refused, the message without a line break" \
        "$arg is not a valid number."
done

for arg in 0 0abc 25ms; do
    run "$arg"
    expect "'$arg' is accepted" ""
done

run 1500 x
expect "'1500 x' pauses, the second argument ignored" ""
if ((elapsed_ms < 1400)); then
    echo "FAIL: '1500 x' returned after ${elapsed_ms} ms"
    failures=$((failures + 1))
fi

echo "pausems: $failures failed"
[[ $failures -eq 0 ]]
