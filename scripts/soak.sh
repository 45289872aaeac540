#!/usr/bin/env bash
# The soak: the synchronisation loop at interval 0 against the loopback nginx time service for a
# set number of passes, sampling the resident set, the heap and the open descriptors; fails when
# any of them grows beyond noise after the warm-up, or when a pass's page did not read as a date.
#   scripts/soak.sh [PASSES]                  builds Release and runs PASSES passes (100000)
#   scripts/soak.sh --record [PASSES]         the same, and writes its figures to docs/performance.md
#   scripts/soak.sh --program PATH [PASSES]   runs a tockmere_soak_loop already built (the tests')
# Noise allowed after the warm-up (the first tenth of the passes): TOCKMERE_SOAK_RSS_KB (256) of
# resident set, TOCKMERE_SOAK_HEAP_BYTES (65536) of heap, no descriptor at all, since every
# sample is taken at the same point of a pass, when the fetch has closed its handles.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
record=false
program=
while [ $# -gt 0 ]; do
    case $1 in
        --record) record=true; shift ;;
        --program) program=$2; shift 2 ;;
        -*) echo "usage: scripts/soak.sh [--record] [--program PATH] [PASSES]" >&2; exit 2 ;;
        *) break ;;
    esac
done
passes=${1:-100000}
rss_noise_kb=${TOCKMERE_SOAK_RSS_KB:-256}
heap_noise_bytes=${TOCKMERE_SOAK_HEAP_BYTES:-65536}
build=${TOCKMERE_SOAK_BUILD:-$root/build/linux}
# A hundred samples, whatever the length.
sample_every=$((passes / 100 > 0 ? passes / 100 : 1))
warm_up=$((passes / 10))
# The loopback service must never be reached through a proxy.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

log() { echo "soak: $*" >&2; }

if [ -z "$program" ]; then
    log "building Release in $build"
    cmake --preset linux -B "$build" >/dev/null
    cmake --build "$build" --config Release -j "${TOCKMERE_JOBS:-2}" --target tockmere_soak_loop \
        >/dev/null
    program=$build/bench/Release/tockmere_soak_loop
fi
# Its clock must be the counting stand-in, never one that sets the time. (It runs without the
# right to set the clock in any case; a program that is not ELF, such as the verdict test's
# canned ones, has nothing to read here.)
if [ "$(head -c 4 "$program" | tr -d '\177')" = ELF ] &&
    nm -D --undefined-only "$program" | grep -qw -e clock_settime -e settimeofday -e stime; then
    echo "$program reaches a clock setter: refusing to run it" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'tests/support/stop_time_service.sh "$work/service" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
tests/support/start_time_service.sh "$work/service" CST-8 >&2
url=http://127.0.0.1:$(cat "$work/service/port")/time15.asp

log "$passes passes against $url, a sample every $sample_every"
when=$(date -u '+%Y-%m-%d %H:%M UTC')
load=$(cut -d' ' -f1-3 /proc/loadavg)
# glibc's per-thread cache holds freed blocks that its figures count as in use: without it the
# heap figure counts live blocks only.
GLIBC_TUNABLES=glibc.malloc.tcache_count=0 \
    scripts/without-clock-right "$program" "$url" "$passes" "$sample_every" >"$work/samples"

# The first sample at or after the warm-up is the baseline; every later one is held to it.
awk -v warm="$warm_up" -v rss_noise="$rss_noise_kb" -v heap_noise="$heap_noise_bytes" '
    function field(name,   i) {
        for (i = 2; i <= NF; ++i) if (index($i, name "=") == 1) return substr($i, length(name) + 2) + 0
        return -1
    }
    $1 == "sample" {
        n = field("passes"); rss = field("rss_kb"); heap = field("heap_bytes"); fds = field("fds")
        if (!based && n >= warm) {
            based = 1; base_n = n; base_rss = rss; base_heap = heap; base_fds = fds
            max_rss = rss; max_heap = heap; max_fds = fds
        } else if (based) {
            if (rss > max_rss) max_rss = rss
            if (heap > max_heap) max_heap = heap
            if (fds > max_fds) max_fds = fds
        }
        if (!seen_first) { first_rss = rss; first_heap = heap; first_fds = fds; seen_first = 1 }
        last_rss = rss; last_heap = heap; last_fds = fds
    }
    $1 == "done" { done_passes = field("passes"); refused = field("refused"); seconds = field("seconds") }
    END {
        if (!based) why[++reasons] = "no sample at or after the warm-up"
        if (done_passes <= 0) why[++reasons] = "the program ended without its summary"
        if (refused > 0) why[++reasons] = "pages that did not read as a date: " refused
        if (based && max_rss - base_rss > rss_noise)
            why[++reasons] = "the resident set grew " max_rss - base_rss " kB"
        if (based && max_heap - base_heap > heap_noise)
            why[++reasons] = "the heap grew " max_heap - base_heap " bytes"
        if (based && max_fds > base_fds) why[++reasons] = "descriptors grew by " max_fds - base_fds
        if (based && base_fds <= 0) why[++reasons] = "no descriptor count"
        ok = reasons == 0
        printf "ok=%d passes=%d seconds=%s refused=%d base_pass=%d first_rss_kb=%d first_heap=%d first_fds=%d",
            ok, done_passes, seconds, refused, base_n, first_rss, first_heap, first_fds
        printf " base_rss_kb=%d max_rss_kb=%d end_rss_kb=%d", base_rss, max_rss, last_rss
        printf " base_heap=%d max_heap=%d end_heap=%d", base_heap, max_heap, last_heap
        printf " base_fds=%d max_fds=%d end_fds=%d\n", base_fds, max_fds, last_fds
        for (i = 1; i <= reasons; ++i) print "why: " why[i]
    }' "$work/samples" >"$work/verdict"
verdict=$(head -n 1 "$work/verdict")

value() { tr ' ' '\n' <<<"$verdict" | sed -n "s/^$1=//p"; }
summary="$(value passes) passes in $(value seconds) s, $(value refused) refused;"
summary+=" after the warm-up (pass $(value base_pass)):"
summary+=" VmRSS $(value base_rss_kb) kB, at most $(value max_rss_kb) kB, $(value end_rss_kb) kB at the end;"
summary+=" heap $(value base_heap) bytes, at most $(value max_heap), $(value end_heap) at the end;"
summary+=" descriptors $(value base_fds), at most $(value max_fds)"
echo "soak: $summary"

if $record; then
    out=$work/section
    rel_program=$(realpath --relative-to="$root" "$program")
    {
        echo "## Soak"
        echo
        echo "Run on $when; $(nproc) cores, $(uname -sr); load average at the start: $load."
        echo "\`scripts/soak.sh --record $passes\`: \`$rel_program\` (Release) runs \`SyncLoop\` at"
        echo "interval 0 against the loopback nginx time service, with a clock stand-in that counts"
        echo "and sets nothing, and samples itself every $sample_every passes at the pass's clock call"
        echo "(\`/proc/self/status\` VmRSS, glibc's \`mallinfo2\` in-use bytes with the per-thread cache"
        echo "off, entries of \`/proc/self/fd\`). The first sample at or after pass $warm_up is the"
        echo "baseline; the run fails if a later sample exceeds it by more than $rss_noise_kb kB of"
        echo "resident set, $heap_noise_bytes bytes of heap or any descriptor."
        echo
        echo "| figure | first sample (pass $sample_every) | baseline (pass $(value base_pass)) | largest after | at the end |"
        echo "|---|---|---|---|---|"
        echo "| resident set (kB) | $(value first_rss_kb) | $(value base_rss_kb) | $(value max_rss_kb) | $(value end_rss_kb) |"
        echo "| heap in use (bytes) | $(value first_heap) | $(value base_heap) | $(value max_heap) | $(value end_heap) |"
        echo "| open descriptors | $(value first_fds) | $(value base_fds) | $(value max_fds) | $(value end_fds) |"
        echo
        echo "$(value passes) passes in $(value seconds) s ($(awk -v p="$(value passes)" -v s="$(value seconds)" \
            'BEGIN {printf "%.0f", p / s}') a second), $(value refused) whose page did not read as a date."
        echo "Verdict: $([ "$(value ok)" = 1 ] && echo "steady" || echo "**grew**")."
        echo
    } >"$out"
    # shellcheck source=scripts/lib/performance-doc.sh
    source "$root/scripts/lib/performance-doc.sh"
    performance_write_section "$root/docs/performance.md" soak "$out"
    log "wrote docs/performance.md"
fi

if [ "$(value ok)" != 1 ]; then
    echo "soak: FAILED: $(sed -n 's/^why: //p' "$work/verdict" | paste -s -d ';' | sed 's/;/; /g')" >&2
    echo "soak: the samples:" >&2
    cat "$work/samples" >&2
    exit 1
fi
