#!/usr/bin/env bash
# The test command: installs what it needs, builds every preset and runs every test, without the
# right to set the machine's clock. Ends with one line "tests: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test || exit 1

jobs=${TOCKMERE_JOBS:-$(nproc)}
total_passed=0
total_failed=0
failed_steps=()

step() {  # step <name> <command...>: runs a build step, remembering a failure
    local name=$1
    shift
    echo "==== $name"
    if ! "$@"; then
        failed_steps+=("$name")
        return 1
    fi
}

build() {  # build <configure preset> <build preset>
    step "configure $1" cmake --preset "$1" >/dev/null &&
        step "build $2" cmake --build --preset "$2" -j "$jobs"
}

run_tests() {  # run_tests <test preset> [ctest arguments...]
    local preset=$1 log
    shift
    log=$(mktemp)
    echo "==== test $preset"
    scripts/without-clock-right ctest --preset "$preset" -j "$jobs" "$@" 2>&1 | tee "$log"
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        failed_steps+=("test $preset (no summary)")
    else
        local failed all
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
        all=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
        total_passed=$((total_passed + all - failed))
        total_failed=$((total_failed + failed))
        [ "$failed" -eq 0 ] || failed_steps+=("test $preset")
    fi
    rm -f "$log"
}

build linux linux-debug && run_tests linux-debug
build linux linux-release && run_tests linux-release
build linux-asan linux-asan && run_tests linux-asan -LE 'app|e2e'
build linux-tsan linux-tsan && run_tests linux-tsan -L 'threads'
build windows windows && run_tests windows
build fuzz fuzz && run_tests fuzz -L fuzz

echo
if [ ${#failed_steps[@]} -gt 0 ]; then
    printf 'failed: %s\n' "${failed_steps[@]}"
fi
echo "tests: $total_passed passed, $total_failed failed"
[ ${#failed_steps[@]} -eq 0 ] && [ "$total_failed" -eq 0 ]
