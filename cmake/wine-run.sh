#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix: quiet, no Mono or Gecko prompts,
# and the prefix created once even when CTest starts several programs at the same time.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        [ -f "$prefix/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
    ) 9>"$prefix.lock"
fi
exec wine "$@"
