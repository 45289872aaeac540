#!/usr/bin/env bash
# The main job: installs what it needs, builds the Linux and the Windows program, and says what
# the window does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset linux >/dev/null
cmake --build --preset linux-release -j "$(nproc)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
cat <<'TEXT'

Built: build/linux (Debug and Release) and build/windows.
Tockmere shows one small window, "Tockmere", with an interval box (milliseconds, "800"), a
start button and three labels. "启动" starts a background thread that fetches
http://<time service>/time15.asp, reads nyear=, nmonth=, nday=, nhrs=, nmin= and nsec= from it,
sets the local clock to that time, waits the interval and repeats; "停止" ends it at once.
TEXT
