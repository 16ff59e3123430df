#!/usr/bin/env bash
# Runs PortTranscript in two VMs, each with its own build of the libraries, and compares what
# they write; the first transcript must also be the expected one, so that two VMs failing alike
# don't pass:
#   compare_transcripts.sh EXPECTED CLASSPATH LIBPATH JAVA [ARGS...] -- LIBPATH JAVA [ARGS...]
set -euo pipefail
expected=$1 classpath=$2
shift 2
first_libpath=$1
shift
first=()
while [[ $# -gt 0 && $1 != -- ]]; do first+=("$1"); shift; done
if [[ $# -lt 3 ]]; then
    echo "usage: $0 EXPECTED CLASSPATH LIBPATH JAVA... -- LIBPATH JAVA..."
    exit 2
fi
shift
second_libpath=$1
shift
second=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# transcript NAME LIBPATH JAVA...: writes $work/NAME.txt.
transcript() {
    local name=$1 libpath=$2
    shift 2
    mkdir "$work/$name"
    if ! "$@" -Djava.library.path="$libpath" -cp "$classpath" com.orvela.test.ports.PortTranscript \
        "$work/$name" >"$work/$name.txt"; then
        echo "FAIL: the $name VM ended with an error; its transcript:"
        cat "$work/$name.txt"
        exit 1
    fi
}
transcript first "$first_libpath" "${first[@]}"
transcript second "$second_libpath" "${second[@]}"

status=0
diff -u --label expected --label first "$expected" "$work/first.txt" || status=1
diff -u --label first --label second "$work/first.txt" "$work/second.txt" || status=1
if [[ $status -ne 0 ]]; then
    echo "FAIL: the transcripts differ"
    exit 1
fi
echo "transcripts: $(wc -l <"$work/first.txt") lines, the same in both VMs"
