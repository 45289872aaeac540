#!/usr/bin/env bash
# Stops the time service that start_time_service.sh started in FOLDER, by the pid it wrote there.
set -uo pipefail
state=$1
pid_file="$state/nginx.pid"
[ -f "$pid_file" ] || exit 0
pid=$(cat "$pid_file")
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -QUIT "$pid"
    for wait in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -TERM "$pid"
fi
rm -f "$pid_file" "$state/port"
exit 0
