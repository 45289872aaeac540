#!/usr/bin/env bash
# The demo: builds the end-to-end variant of the program, starts a time service on loopback and
# the program on the display (or in Xvfb), clicks 启动 and shows every clock request it makes.
# The requests are logged, never applied: the variant's clock is a log, and everything here runs
# without the right to set the machine's clock.
#
#   scripts/run.sh [--windows] [--seconds N]
#     --windows    the Windows program under Wine (needs wine and MinGW-w64:
#                  scripts/install-deps.sh test); the Linux program otherwise
#     --seconds N  how long to watch; default 20 s in Xvfb, until Ctrl+C on a real display
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Once, the whole demo re-runs itself without the clock right, so nothing it starts has it.
if [ -z "${TOCKMERE_DEMO_WITHOUT_CLOCK_RIGHT:-}" ]; then
    export TOCKMERE_DEMO_WITHOUT_CLOCK_RIGHT=1
    exec scripts/without-clock-right "$root/scripts/run.sh" "$@"
fi

windows=0
seconds=
while [ $# -gt 0 ]; do
    case $1 in
        --windows) windows=1 ;;
        --seconds) seconds=${2:?--seconds needs a number}; shift ;;
        *) sed -n '7,10p' "$0" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$seconds" ] && ! [[ $seconds =~ ^[0-9]+$ ]]; then
    echo "--seconds takes whole seconds" >&2
    exit 2
fi

# Neither this shell nor, for root, anything it starts may hold CAP_SYS_TIME (bit 25).
holds_clock_right() {
    local set
    set=$(awk -v name="$1:" '$1 == name {print $2}' /proc/$$/status)
    (((16#$set >> 25) & 1))
}
if holds_clock_right CapEff || { [ "$(id -u)" -eq 0 ] && holds_clock_right CapBnd; }; then
    echo "refusing to run: the right to set the clock is still held" >&2
    exit 1
fi

say() { printf '\n== %s\n' "$*"; }

say "packages"
scripts/install-deps.sh run
if [ $windows = 1 ]; then
    for tool in wine x86_64-w64-mingw32-g++-posix; do
        command -v $tool >/dev/null || {
            echo "--windows needs $tool: run scripts/install-deps.sh test first" >&2
            exit 1
        }
    done
fi

jobs=${TOCKMERE_JOBS:-$(nproc)}
if [ $windows = 1 ]; then
    build=build/demo-windows
    say "building the Windows end-to-end variant (Release) in $build"
    cmake --preset windows -B $build >/dev/null
    cmake --build $build --target tockmere_e2e window_driver -j "$jobs"
    program=$root/$build/tests/e2e/tockmere_e2e.exe
    driver=$root/$build/tests/app/win32/window_driver.exe
else
    build=build/demo-linux
    say "building the Linux end-to-end variant (Release) in $build"
    cmake --preset linux -B $build >/dev/null
    cmake --build $build --config Release --target tockmere_e2e -j "$jobs"
    program=$root/$build/tests/e2e/Release/tockmere_e2e
fi

state=$root/$build/demo
mkdir -p "$state"
clock_log=$state/clock-requests.log
rm -f "$clock_log" "$state/screen.png"

# Everything started below is ended here, by the ids it was started with.
program_pid=
xvfb_pid=
manager_pid=
bus_pid=
cleanup() {
    set +e
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
    [ $windows = 1 ] && [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    [ -n "$manager_pid" ] && kill "$manager_pid" 2>/dev/null && wait "$manager_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    tests/support/stop_time_service.sh "$state/time_service"
}
trap cleanup EXIT

say "time service"
# The machine's own clock in its own zone: a request to that time is the time it already is.
rm -f "$state/time_service/access.log"
tests/support/start_time_service.sh "$state/time_service"
port=$(cat "$state/time_service/port")
url=http://127.0.0.1:$port/time15.asp
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /time15.asp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
echo "page $url: $(tail -n 1 <&3)"
exec 3<&-
access_log=$state/time_service/access.log
before_program=$(wc -l <"$access_log")

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    in_xvfb=0
    say "display $DISPLAY"
    [ -n "$seconds" ] || echo "watching until Ctrl+C or until the window is closed"
else
    in_xvfb=1
    seconds=${seconds:-20}
    rm -f "$state/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" 2>"$state/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 1 100); do [ -s "$state/display" ] && break; sleep 0.1; done
    [ -s "$state/display" ] || { echo "Xvfb did not start; see $state/xvfb.log" >&2; exit 1; }
    DISPLAY=:$(head -n 1 "$state/display")
    export DISPLAY
    say "no display: Xvfb on $DISPLAY, 1024x768"
    # A window manager, so the window has its frame: xfwm4 wants a session bus for its settings,
    # one of its own, whose end also ends the settings service it starts.
    if command -v xfwm4 >/dev/null && command -v dbus-daemon >/dev/null; then
        { read -r bus_address; read -r bus_pid; } < <(dbus-daemon --session --fork \
            --print-address=1 --print-pid=1)
        DBUS_SESSION_BUS_ADDRESS=$bus_address NO_AT_BRIDGE=1 \
            xfwm4 --compositor=off --sm-client-disable >"$state/xfwm4.log" 2>&1 &
        manager_pid=$!
        for _ in $(seq 1 100); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
            sleep 0.1
        done
    fi
fi

# The program's environment: its loopback address, its clock log, and no proxy in the way.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy='*' NO_PROXY='*'
export TOCKMERE_E2E_URL=$url
if [ $windows = 1 ]; then
    export WINEPREFIX=$root/$build/wineprefix-demo WINEDEBUG=-all WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
    export TOCKMERE_E2E_CLOCK_FILE="Z:${clock_log//\//\\}"
    wine_run=(cmake/wine-run.sh "$WINEPREFIX")
    # The window tests' prefix settings (fonts, Chinese glyphs), once, before anything runs in it.
    [ -f "$WINEPREFIX/system.reg" ] || echo "Wine sets up its prefix first (a minute or so)"
    tests/app/win32/in_xvfb.sh --inside "$WINEPREFIX" true
    say "starting $program under Wine"
    tests/app/win32/in_xvfb.sh --inside "$WINEPREFIX" "${wine_run[@]}" "$program" \
        >"$state/program.log" 2>&1 &
    program_pid=$!
    "${wine_run[@]}" "$driver" find 120000 >/dev/null || { echo "no window appeared" >&2; exit 1; }
    click() { "${wine_run[@]}" "$driver" click; }
    press_esc() { "${wine_run[@]}" "$driver" keys esc; }
else
    export TOCKMERE_E2E_CLOCK_FILE=$clock_log NO_AT_BRIDGE=1
    say "starting $program"
    "$program" >"$state/program.log" 2>&1 &
    program_pid=$!
    window=
    for _ in $(seq 1 100); do
        window=$(xdotool search --onlyvisible --pid "$program_pid" --name '^Tockmere$' 2>/dev/null |
                 head -n 1) && [ -n "$window" ] && break
        sleep 0.2
    done
    [ -n "$window" ] || { echo "no window appeared" >&2; exit 1; }
    # The middle of 按钮1: left 104, top 30, 56 by 26 in the window's client area.
    click() { xdotool mousemove --window "$window" 132 43 click 1; }
    press_esc() {
        xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
        xdotool key Escape
    }
fi
sleep 1

# One readable line per clock request, with how far the requested time lies behind the moment
# of the request on this machine's clock.
shown=0
show_requests() {
    [ -f "$clock_log" ] || return 0
    local lines line function year month day hour minute second ms weekday at requested asked behind
    mapfile -t -s "$shown" lines <"$clock_log"
    for line in "${lines[@]}"; do
        read -r function year month day hour minute second ms weekday at <<<"$line"
        printf -v requested '%04d-%02d-%02d %02d:%02d:%02d.%03d' "${year#*=}" "${month#*=}" \
            "${day#*=}" "${hour#*=}" "${minute#*=}" "${second#*=}" "${ms#*=}"
        at=${at#at=}
        asked=$(date -d "@$at" '+%H:%M:%S.%3N')
        behind=$(awk -v at="$at" -v req="$(date -d "$requested" +%s.%3N)" \
                     'BEGIN { printf "%.1f", at - req }')
        shown=$((shown + 1))
        printf '  #%-3d %s(%s, day of week %s) at %s, %s s behind; not applied\n' \
            "$shown" "$function" "$requested" "${weekday#*=}" "$asked" "$behind"
    done
}

say "clicking 启动 (start): each clock request the program makes"
click
interrupted=0
trap 'interrupted=1' INT
end=$((SECONDS + ${seconds:-1000000000}))
while [ $interrupted = 0 ] && [ $SECONDS -lt $end ] && kill -0 "$program_pid" 2>/dev/null; do
    show_requests
    sleep 0.25 || true
done
trap - INT
show_requests

if [ $in_xvfb = 1 ]; then
    import -window root "$state/screen.png"
    echo "screenshot: $state/screen.png"
fi

if kill -0 "$program_pid" 2>/dev/null; then
    say "clicking 停止 (stop), then Esc"
    click
    sleep 0.5  # for the click to arrive
    show_requests
    before=$shown
    sleep 3
    show_requests
    echo "  clock requests in the 3 s after the stop: $((shown - before))"
    press_esc
    for _ in $(seq 1 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.2; done
fi
if kill -0 "$program_pid" 2>/dev/null; then
    echo "the program did not close; it is ended"
else
    status=0
    wait "$program_pid" || status=$?
    program_pid=
    echo "the program ended with exit code $status"
fi

requests=$(($(wc -l <"$access_log") - before_program))
say "done: requests to $url: $requests; clock requests: $shown, none applied"
echo "clock log: $clock_log"
