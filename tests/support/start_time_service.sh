#!/usr/bin/env bash
# Starts the nginx time service on a free loopback port: start_time_service.sh FOLDER [TZ].
# FOLDER receives the configuration, logs and pid, and the file "port" naming the port.
set -euo pipefail
state=$1
zone=${2:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
deploy=$(cd "$here/../../deploy/nginx" && pwd)

"$here/stop_time_service.sh" "$state"  # a leftover of an interrupted run
mkdir -p "$state/temp"
rm -f "$state/port"

for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    sed -e "s|@STATE@|$state|g" -e "s|@PORT@|$port|g" -e "s|@DEPLOY@|$deploy|g" \
        "$deploy/time-service-loopback.conf.in" >"$state/nginx.conf"
    # nginx reads the zone once, from the environment it starts with.
    if env ${zone:+TZ="$zone"} nginx -p "$state" -e "$state/error.log" -c "$state/nginx.conf" 2>>"$state/start.log"; then
        for wait in $(seq 1 50); do
            if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
                echo "$port" >"$state/port"
                echo "time service on 127.0.0.1:$port (${zone:-local zone}), state in $state"
                exit 0
            fi
            sleep 0.1
        done
        "$here/stop_time_service.sh" "$state"
    fi
    # Most likely the port was taken: try another.
done
echo "could not start the time service; see $state/start.log and $state/error.log" >&2
exit 1
