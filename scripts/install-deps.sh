#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that building, running or testing Tockmere
# needs. Safe to run again: it installs only what is missing.
#   scripts/install-deps.sh run    what the demo needs
#   scripts/install-deps.sh test   everything: both builds, Wine, sanitizers, fuzzing, benchmarks
set -euo pipefail
profile=${1:-test}

build=(cmake ninja-build g++ pkg-config make git ca-certificates util-linux tzdata
       libcurl4-openssl-dev libgtk-3-dev nginx-light)
mingw=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev)
desktop=(xvfb xauth x11-utils xdotool imagemagick fonts-wqy-microhei locales xfwm4)
windows_run=(wine wine64 fonts-wine)
testing=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
         python3 python3-gi gir1.2-atspi-2.0 at-spi2-core dbus-daemon)

case $profile in
    run) wanted=("${build[@]}" "${desktop[@]}" googletest libbenchmark-dev python3 dbus-daemon) ;;
    test) wanted=("${build[@]}" "${mingw[@]}" "${desktop[@]}" "${windows_run[@]}" "${testing[@]}") ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine and the GTK front end show the window's Chinese texts under a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
    localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
