#!/usr/bin/env bash
# Runs a command in a fresh 1024x768 X server with Wine in the given prefix, in a Chinese locale
# unless TOCKMERE_WINE_LOCALE names another, then ends that prefix's Wine server, so that the
# next run starts on a display of its own.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../../cmake/wine-run.sh

if [ "${1:-}" = --inside ]; then
    # In the X server: the prefix's settings for window tests, once, then the command.
    prefix=$2
    shift 2
    # The marker names the settings' checksum, so changed settings reach an existing prefix.
    marker=$prefix/window-settings-$(md5sum <"$here/window_prefix.reg" | cut -c1-12).done
    if [ ! -f "$marker" ]; then
        "$wine_run" "$prefix" reg import "$here/window_prefix.reg" >/dev/null 2>&1
        wineserver -w
        # Wine's own fonts (Marlett draws the caption-bar boxes): this Wine build looks for them
        # in a folder that does not exist, so the prefix gets them in its Fonts folder.
        if [ -d /usr/share/wine/fonts ]; then
            ln -sf /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
        fi
        touch "$marker"
    fi
    status=0
    "$@" || status=$?
    # Wine's processes leave before the X server does.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    exit $status
fi

prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export LANG=${TOCKMERE_WINE_LOCALE:-zh_CN.UTF-8}
export LC_ALL=$LANG
status=0
xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$prefix" "$@" || status=$?
exit $status
