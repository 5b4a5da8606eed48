#!/usr/bin/env bash
# Memory soak of the app: it watches 10 tokens that a loopback backend answers with moving
# prices, refreshes every 5 s, and has its popover toggled by the item's Activate every minute,
# on its own Xvfb display and private session bus with a fake StatusNotifierWatcher. RssAnon
# (private memory) is sampled every 10 s; the curve goes to a CSV file and a summary (first,
# last, min, max, least-squares slope) to stdout.
#
#   bench/app-soak.sh [BUILD_DIR] [MINUTES] [CSV_FILE]     (MINUTES defaults to 30)
#
# Needs Xvfb, dbus-run-session, gdbus and python3. Only 127.0.0.1 is contacted.
set -euo pipefail

build=${1:-build}
minutes=${2:-${MINUTES:-30}}
csv=${3:-app-soak.csv}
app="$build/zentrow"
helper="$build/bench/bench_startup"
for f in "$app" "$helper"; do
    [ -x "$f" ] || { echo "no $f: build the bench_startup target first" >&2; exit 1; }
done
for tool in Xvfb dbus-run-session gdbus python3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

# Inside a private session bus: run the rest of this script there.
if [ -z "${ZENTROW_SOAK_INNER:-}" ]; then
    export ZENTROW_SOAK_INNER=1
    exec dbus-run-session -- "$0" "$build" "$minutes" "$csv"
fi

work=$(mktemp -d)
chmod 700 "$work"
pids=()
cleanup() {
    # The app first, so it does not lose its display; then Xvfb and the helpers.
    if [ -n "${app_pid:-}" ]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Quotes for the asked ids; prices and trends move with every answer.
cat >"$work/backend.py" <<'PY'
import json, math, sys, urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

count = 0

class Handler(BaseHTTPRequestHandler):
    def do_GET(self):
        global count
        url = urllib.parse.urlsplit(self.path)
        data = []
        if url.path == "/api/quotes":
            count += 1
            ids = urllib.parse.parse_qs(url.query).get("ids", [""])[0].split(",")
            for i, token in enumerate(t for t in ids if t):
                base = 100.0 * (i + 1)
                data.append({"id": token, "symbol": token, "name": token + " Coin",
                             "price": base * (1 + 0.01 * math.sin(count + i)),
                             "change24h": 2.5 * math.cos(count + i),
                             "trend7d": [base * (1 + 0.02 * math.sin(d + i + count)) for d in range(7)]})
        body = json.dumps({"data": data}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

server = HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
python3 "$work/backend.py" >"$work/port" &
pids+=($!)

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
"$helper" --watcher &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/port" ] && [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/port" ] && [ -s "$work/display" ] || { echo "backend or Xvfb did not start" >&2; exit 1; }

"$helper" --write-settings "$work/config" --refresh 5
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" \
    ZENTROW_BACKEND_URL="http://127.0.0.1:$(cat "$work/port")" "$app" &
app_pid=$!
pids+=("$app_pid")
service="org.kde.StatusNotifierItem-$app_pid-1"

toggle() {
    gdbus call --session --dest "$service" --object-path /StatusNotifierItem \
        --method org.kde.StatusNotifierItem.Activate 900 5 >/dev/null
}

rss_anon() { awk '/^RssAnon:/ {print $2}' "/proc/$app_pid/status"; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }

sleep 3
echo "seconds,rss_anon_kib,rss_kib,popover" >"$csv"
open=0
samples=$((minutes * 6))
for ((i = 0; i <= samples; i++)); do
    # The popover opens on every odd minute and closes on every even one.
    if ((i > 0 && i % 6 == 0)); then
        toggle
        open=$((1 - open))
    fi
    kill -0 "$app_pid" 2>/dev/null || { echo "the app exited" >&2; exit 1; }
    echo "$((i * 10)),$(rss_anon),$(rss),$open" >>"$csv"
    ((i < samples)) && sleep 10
done

python3 - "$csv" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
t = [int(r["seconds"]) / 60 for r in rows]
a = [int(r["rss_anon_kib"]) for r in rows]
n = len(t)
mt, ma = sum(t) / n, sum(a) / n
slope = sum((x - mt) * (y - ma) for x, y in zip(t, a)) / max(1e-9, sum((x - mt) ** 2 for x in t))
def fit(ts, vs):
    if len(ts) < 2:
        return 0.0
    mx, my = sum(ts) / len(ts), sum(vs) / len(vs)
    return sum((x - mx) * (y - my) for x, y in zip(ts, vs)) / max(1e-9, sum((x - mx) ** 2 for x in ts))
# The popover's views are made when it first opens (minute 1); growth counts from its first close
# (minute 2). The second half alone shows whether growth levels off once caches are warm.
s = min(12, n - 1)
h = n // 2
print(f"RssAnon over {t[-1]:.0f} min, {n} samples every 10 s: first {a[0]} KiB, last {a[-1]} KiB, "
      f"min {min(a)} KiB, max {max(a)} KiB")
print(f"from minute 2: {a[s]} -> {a[-1]} KiB ({a[-1] - a[s]:+d} KiB); slope {slope:.1f} KiB/min overall, "
      f"{fit(t[s:], a[s:]):.1f} KiB/min from minute 2, {fit(t[h:], a[h:]):.1f} KiB/min over the second half")
print("per-minute curve (KiB):", " ".join(str(a[i]) for i in range(0, n, 6)))
PY
