#!/usr/bin/env bash
# Runs the app against a zentrow-backend on this machine's loopback interface, and stops the
# backend when the app exits (also on Ctrl-C).
#
#   scripts/run-local.sh APP [APP_ARGS...]
#
#   ZENTROW_BACKEND       the backend executable (default: backend/zentrow-backend next to APP)
#   ZENTROW_BACKEND_PORT  its port (default 8737; the app must be built for the same URL:
#                         cmake -DZENTROW_BACKEND_URL=http://127.0.0.1:8737)
#   ZENTROW_BACKEND_ARGS  further backend flags, e.g. "--price-ttl 30"
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 APP [APP_ARGS...]" >&2
    exit 2
fi
app=$1
shift
port=${ZENTROW_BACKEND_PORT:-8737}
backend=${ZENTROW_BACKEND:-}
if [ -z "$backend" ]; then
    for candidate in "$(dirname "$app")/backend/zentrow-backend" "$(dirname "$app")/zentrow-backend"; do
        if [ -x "$candidate" ]; then
            backend=$candidate
            break
        fi
    done
fi
[ -x "$app" ] || { echo "$0: no app at $app" >&2; exit 1; }
if [ -z "$backend" ] || [ ! -x "$backend" ]; then
    echo "$0: no zentrow-backend found; set ZENTROW_BACKEND" >&2
    exit 1
fi

url="http://127.0.0.1:$port"
if ! grep -qaF "$url" "$app"; then
    echo "note: $app was built for another backend URL; to use this one, configure with" >&2
    echo "      cmake -DZENTROW_BACKEND_URL=$url" >&2
fi

log=$(mktemp)
backend_pid=
app_pid=
# shellcheck disable=SC2317 # runs from the traps below
stop() {
    local pid
    for pid in $app_pid $backend_pid; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -f "$log"
}
# Both children run in the background (where a script's children ignore SIGINT), so Ctrl-C
# reaches this script alone, which then ends the app and the backend in order.
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# shellcheck disable=SC2086 # extra flags are meant to split
"$backend" --address 127.0.0.1 --port "$port" ${ZENTROW_BACKEND_ARGS:-} >"$log" &
backend_pid=$!

# Answered by the backend itself, without the exchange: a blank search is always 200.
answers() {
    local status=
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf 'GET /api/search?q= HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
    IFS= read -r -t 2 status <&3 || true
    exec 3<&- 3>&-
    [[ $status == "HTTP/1.1 200 "* ]]
}

ready=
for _ in $(seq 1 100); do
    if ! kill -0 "$backend_pid" 2>/dev/null; then
        break
    fi
    # Our backend announces itself first, so a stranger on the port is not mistaken for it.
    if grep -q "listening on" "$log" && answers 2>/dev/null; then
        ready=1
        break
    fi
    sleep 0.1
done
if [ -z "$ready" ]; then
    echo "$0: zentrow-backend did not come up on $url" >&2
    cat "$log" >&2
    if answers 2>/dev/null; then
        echo "$0: another backend answers on $url (an installed copy's zentrow-backend.socket?); stop it with" >&2
        echo "      systemctl --user stop zentrow-backend.socket zentrow-backend.service" >&2
    fi
    exit 1
fi
cat "$log"

"$app" "$@" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
