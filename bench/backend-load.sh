#!/usr/bin/env bash
# Load benchmark of zentrow-backend against nginx serving the same bytes, on loopback, with no
# internet: a tiny fake exchange serves answers in the exchange's format, the backend is warmed,
# its answers to the measured routes are copied once into an nginx root as static files (same
# body, Content-Type, Cache-Control and ETag), and wrk then drives both servers in turn, several
# rounds, alternating which goes first. Both serve from one process (the backend has one thread;
# nginx gets one worker), so CPU time per answer compares like with like.
#
#   bench/backend-load.sh [BUILD_DIR] [SECONDS] [CONNECTIONS] [ROUNDS]
#
# Defaults: build, 10 s per wrk run, 32 connections, 3 rounds; NGINX_WORKERS (default 1). Routes: warm /api/quotes with 50
# ids and warm /api/search?q=a, each with wrk -t2. Printed per route and server: requests per
# second, p50/p99 latency and CPU time per answer (the server's user + system time over the run
# divided by the answers), and the backend/nginx ratios; the summary takes the median over the
# rounds. Needs wrk, nginx (nginx-light) and python3. Only 127.0.0.1 is contacted, everything
# started here is stopped on exit.
set -euo pipefail

build=${1:-build}
seconds=${2:-10}
connections=${3:-32}
rounds=${4:-${ROUNDS:-3}}
backend="$build/backend/zentrow-backend"
[ -x "$backend" ] || { echo "no $backend: build the zentrow-backend target first" >&2; exit 1; }
for tool in wrk python3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (apt-get install $tool)" >&2; exit 1; }
done
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "nginx is not installed (apt-get install nginx-light)" >&2; exit 1; }
number() { [[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -ge "$3" ] && [ "$2" -le "$4" ] || { echo "$1 must be $3..$4" >&2; exit 1; }; }
number SECONDS "$seconds" 1 60
number CONNECTIONS "$connections" 1 256
number ROUNDS "$rounds" 1 20
nginx_workers=${NGINX_WORKERS:-1}
number NGINX_WORKERS "$nginx_workers" 1 64

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}


exchange_port=$(free_port)
python3 "$(dirname "$0")/fake-exchange.py" "$exchange_port" &
pids+=($!)

backend_port=$(free_port)
# Prices live longer than the run, so every measured request is a warm-cache answer.
"$backend" --port "$backend_port" --upstream "http://127.0.0.1:$exchange_port" --price-ttl 3600 \
    >"$work/backend.log" 2>&1 &
backend_pid=$!
pids+=("$backend_pid")

ids="BTC,ETH,BNB,SOL,XRP,DOGE,ADA,TRX,AVAX,LINK,TON,SHIB,DOT,BCH,LTC,SUI,XLM,HBAR,UNI,PEPE,NEAR,APT,ICP,ETC,POL,AAVE,ATOM,FIL,ARB,OP,VET,INJ,RENDER,FET,TAO,STX,IMX,SEI,TIA,WLD,ENA,ONDO,JUP,PYTH,BONK,FLOKI,WIF,ALGO,GRT,LDO,CRV,SNX,COMP,1INCH,CAKE,RUNE,EGLD,XTZ,EOS,THETA"
ids=$(echo "$ids" | cut -d, -f1-50)
routes=(quotes search)
declare -A target=([quotes]="/api/quotes?ids=$ids" [search]="/api/search?q=a")

# Warm the caches (and wait for the backend to come up), then keep each answer: body and the
# three headers nginx must repeat.
python3 - "http://127.0.0.1:$backend_port" "${target[quotes]}" "${target[search]}" "$work" <<'PY'
import json, sys, time, urllib.request
base, quotes, search, work = sys.argv[1:5]
deadline = time.time() + 30
while True:
    try:
        with urllib.request.urlopen(base + quotes, timeout=5) as reply:
            data = json.load(reply)["data"]
        if len(data) == 50 and len(data[0]["trend7d"]) == 7:
            break
    except Exception:
        pass
    if time.time() > deadline:
        sys.exit("the backend did not answer 50 quotes with trends within 30 s")
    time.sleep(0.1)
for name, path in (("quotes", quotes), ("search", search)):
    with urllib.request.urlopen(base + path, timeout=5) as reply:
        body = reply.read()
        headers = {h: reply.headers[h] for h in ("Content-Type", "Cache-Control", "ETag")}
    assert all(headers.values()), headers
    assert json.loads(body)["data"], name + ": empty answer"
    open(f"{work}/{name}.body", "wb").write(body)
    json.dump(headers, open(f"{work}/{name}.headers", "w"))
PY

# A throwaway nginx: one worker, no logs, keep-alive without a request cap (as the backend), the
# two answers as static files with the backend's headers and no ETag of nginx's own.
mkdir -p "$work/nginx/root" "$work/nginx/temp"
chmod 755 "$work" "$work/nginx" "$work/nginx/root"
nginx_port=$(free_port)
python3 - "$work" "$nginx_port" "${target[quotes]%%\?*}" "${target[search]%%\?*}" "$nginx_workers" <<'PY'
import json, shutil, sys
work, port, quotes_path, search_path, workers = sys.argv[1:6]
locations = []
for name, path in (("quotes", quotes_path), ("search", search_path)):
    shutil.copy(f"{work}/{name}.body", f"{work}/nginx/root/{name}.json")
    h = json.load(open(f"{work}/{name}.headers"))
    for value in h.values():
        assert "'" not in value and "\\" not in value, value
    locations.append(f"""
        location = {path} {{
            default_type '{h["Content-Type"]}';
            add_header Cache-Control '{h["Cache-Control"]}';
            add_header ETag '{h["ETag"]}';
            try_files /{name}.json =404;
        }}""")
temp = f"{work}/nginx/temp"
open(f"{work}/nginx/nginx.conf", "w").write(f"""
worker_processes {workers};
daemon off;
master_process on;
pid {work}/nginx/nginx.pid;
error_log {work}/nginx/error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nodelay on;
    keepalive_requests 100000000;
    keepalive_timeout 60s;
    server_tokens off;
    etag off;
    max_ranges 0;
    types {{ }}
    open_file_cache max=16;
    client_body_temp_path {temp}/body;
    proxy_temp_path {temp}/proxy;
    fastcgi_temp_path {temp}/fastcgi;
    uwsgi_temp_path {temp}/uwsgi;
    scgi_temp_path {temp}/scgi;
    server {{
        listen 127.0.0.1:{port};
        root {work}/nginx/root;
        {"".join(locations)}
    }}
}}
""")
PY
"$nginx" -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
pids+=("$nginx_pid")

# Both must answer the same bytes and headers before anything is measured.
python3 - "http://127.0.0.1:$backend_port" "http://127.0.0.1:$nginx_port" \
    "${target[quotes]}" "${target[search]}" "$work" <<'PY'
import json, sys, time, urllib.request
backend, nginx, quotes, search, work = sys.argv[1:6]
def fetch(url):
    with urllib.request.urlopen(url, timeout=5) as reply:
        return reply.read(), reply.headers
deadline = time.time() + 10
while True:
    try:
        fetch(nginx + quotes)
        break
    except Exception:
        if time.time() > deadline:
            sys.exit("nginx did not come up; see its error log")
        time.sleep(0.1)
for name, path in (("quotes", quotes), ("search", search)):
    kept = json.load(open(f"{work}/{name}.headers"))
    body, headers = fetch(nginx + path)
    assert body == open(f"{work}/{name}.body", "rb").read(), name + ": nginx serves other bytes"
    for h in ("Content-Type", "Cache-Control", "ETag"):
        assert headers[h] == kept[h], (name, h, headers[h], kept[h])
    now, now_headers = fetch(backend + path)
    assert now == body and now_headers["ETag"] == kept["ETag"], name + ": the backend's answer changed"
    print("%s: %d-byte body; Content-Type: %s; Cache-Control: %s; ETag: %s"
          % (path.split("?")[0], len(body), kept["Content-Type"], kept["Cache-Control"], kept["ETag"]))
    extra = sorted(set(headers.keys()) - set(now_headers.keys()))
    if extra:
        print("   nginx adds: " + ", ".join("%s: %s" % (h, headers[h]) for h in extra))
PY

# User plus system CPU time, in clock ticks, of a process and its children (nginx's worker).
cpu_ticks() {
    local total=0 pid
    for pid in "$1" $(ps -o pid= --ppid "$1"); do
        [ -r "/proc/$pid/stat" ] || continue
        total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat")))
    done
    echo "$total"
}

# One wrk run; prints "requests/s p50_us p99_us cpu_us_per_answer".
measure() {
    local pid=$1 url=$2 before after
    before=$(cpu_ticks "$pid")
    wrk -t2 -c"$connections" -d"${seconds}s" --timeout 5s --latency "$url" >"$work/wrk.txt"
    after=$(cpu_ticks "$pid")
    awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" '
        function us(text) {
            if (text ~ /us$/) return text + 0
            if (text ~ /ms$/) return text * 1000
            if (text ~ /s$/) return text * 1000000
            return text
        }
        /requests in/ { answers = $1 }
        /Requests\/sec/ { rate = $2 }
        $1 == "50%" { p50 = us($2) }
        $1 == "99%" { p99 = us($2) }
        /Non-2xx/ { refused = $0 }
        /Socket errors/ { print "   wrk: " $0 > "/dev/stderr" }
        END {
            if (refused != "") { print "wrk: " refused > "/dev/stderr"; exit 1 }
            printf "%.0f %.0f %.0f %.2f\n", rate, p50, p99, ticks / hz / answers * 1e6
        }' "$work/wrk.txt"
}

declare -A port=([backend]=$backend_port [nginx]=$nginx_port)
declare -A pid=([backend]=$backend_pid [nginx]=$nginx_pid)
results="$work/results.txt"
echo "== wrk -t2 -c$connections -d${seconds}s, $rounds rounds (order alternates each round)"
printf '%-5s %-7s %-8s %10s %9s %9s %12s\n' round route server "req/s" "p50 us" "p99 us" "CPU us/answer"
for round in $(seq 1 "$rounds"); do
    for route in "${routes[@]}"; do
        order=(backend nginx)
        [ $((round % 2)) -eq 0 ] && order=(nginx backend)
        for server in "${order[@]}"; do
            figures=$(measure "${pid[$server]}" "http://127.0.0.1:${port[$server]}${target[$route]}")
            read -r rate p50 p99 cpu <<<"$figures"
            printf '%-5s %-7s %-8s %10s %9s %9s %12s\n' "$round" "$route" "$server" "$rate" "$p50" "$p99" "$cpu"
            echo "$round $route $server $rate $p50 $p99 $cpu" >>"$results"
        done
    done
done

echo "== medians over $rounds rounds; ratio = backend / nginx (the ratio is the median of each round's ratio)"
python3 - "$results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
data = {}
for round_, route, server, *values in rows:
    data.setdefault(route, {}).setdefault(int(round_), {})[server] = [float(v) for v in values]
names = ["req/s", "p50 us", "p99 us", "CPU us/answer"]
print("%-7s %-14s %10s %10s %8s" % ("route", "measure", "backend", "nginx", "ratio"))
for route, by_round in data.items():
    for i, name in enumerate(names):
        b = statistics.median(r["backend"][i] for r in by_round.values())
        n = statistics.median(r["nginx"][i] for r in by_round.values())
        ratio = statistics.median(r["backend"][i] / r["nginx"][i] for r in by_round.values() if r["nginx"][i])
        fmt = "%10.0f %10.0f" if name != "CPU us/answer" else "%10.1f %10.1f"
        print(("%-7s %-14s " + fmt + " %8.2f") % (route, name, b, n, ratio))
PY

echo "== exchange calls during the whole run (warm-up only when the cache held)"
python3 -c "import urllib.request,sys; print(urllib.request.urlopen(sys.argv[1]).read().decode())" \
    "http://127.0.0.1:$exchange_port/calls"
echo "== resident memory: backend $(awk '/VmRSS/ {print $2, $3}' "/proc/$backend_pid/status")"
