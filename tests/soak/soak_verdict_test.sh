#!/usr/bin/env bash
# scripts/soak.sh's verdict on canned runs: each case is a stand-in program that prints the
# samples of a soak of 1000 passes (a sample every 10, warm-up to pass 100) with a given shape,
# and the script must pass or fail it. The time service still starts, as in a real run.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# canned <rss growth kB after pass 100> <heap growth> <fd growth> <refused> [options]: the lines
# of one run. Options: warm=<kB grown before pass 100>, wobble=<kB up and down every other
# sample>, last=<last pass printed>, nodone.
canned() {
    local rss=$1 heap=$2 fds=$3 refused=$4
    shift 4
    local warm=0 wobble=0 last=1000 done_line=1 option
    for option in "$@"; do
        case $option in
            warm=*) warm=${option#warm=} ;;
            wobble=*) wobble=${option#wobble=} ;;
            last=*) last=${option#last=} ;;
            nodone) done_line=0 ;;
        esac
    done
    awk -v rss="$rss" -v heap="$heap" -v fds="$fds" -v warm="$warm" -v wobble="$wobble" \
        -v last="$last" -v done_line="$done_line" -v refused="$refused" 'BEGIN {
        for (n = 10; n <= last; n += 10) {
            after = n > 100 ? (n - 100) / 900 : 0   # growth spreads over the passes after warm-up
            r = 12000 + (n < 100 ? warm * n / 100 : warm) + int(rss * after) + ((n / 10) % 2) * wobble
            printf "sample passes=%d rss_kb=%d heap_bytes=%d fds=%d\n", n, r,
                270000 + int(heap * after), 6 + (n == last ? fds : 0)
        }
        if (done_line) printf "done passes=%d refused=%d seconds=0.2\n", last, refused
    }'
}

failures=0
# case_ <name> <expected: pass, or the reason the failure must give> <canned arguments...>
case_() {
    local name=$1 expected=$2
    shift 2
    canned "$@" >"$work/$name.lines"
    printf '#!/bin/sh\ncat "%s"\n' "$work/$name.lines" >"$work/$name"
    chmod +x "$work/$name"
    local got=pass
    if ! "$root/scripts/soak.sh" --program "$work/$name" 1000 >"$work/$name.log" 2>&1; then
        got=$(sed -n 's/^soak: FAILED: //p' "$work/$name.log")
        got=${got:-failed without a verdict}
    fi
    if [ "$got" = "$expected" ]; then
        echo "ok   $name: $got"
    else
        echo "FAIL $name: expected \"$expected\", got \"$got\""
        sed 's/^/     /' "$work/$name.log"
        failures=$((failures + 1))
    fi
}

#     name                            verdict                                    rss heap  fds refused options
case_ steady                          pass                                       0   0     0   0
case_ growth_during_warm_up_only      pass                                       0   0     0   0   warm=4000
case_ resident_set_wobbles_in_noise   pass                                       0   0     0   0   wobble=200
case_ descriptor_closed_late          pass                                       0   0     -1  0
case_ resident_set_creeps             "the resident set grew 300 kB"             300 0     0   0
case_ heap_creeps                     "the heap grew 70000 bytes"                0   70000 0   0
case_ one_descriptor_leaked           "descriptors grew by 1"                    0   0     1   0
case_ a_page_did_not_read_as_a_date   "pages that did not read as a date: 1"    0   0     0   1
case_ ends_without_its_summary        "the program ended without its summary"    0   0     0   0   nodone
case_ stops_before_the_warm_up_ends   "no sample at or after the warm-up"        0   0     0   0   last=50

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
