#!/usr/bin/env bash
# Soak test of zentrow-backend on loopback, with no internet: wrk keeps a mix of requests going
# for MINUTES minutes against a fake exchange while the backend's resident memory is sampled
# every 10 s. Flat memory after the first minute means nothing grows per request.
#
#   bench/backend-soak.sh [BUILD_DIR] [MINUTES] [CONNECTIONS]
#
# Prices live their real 15 s, so refreshes (and answers from data past their lifetime) happen
# throughout. Needs wrk and python3. Only 127.0.0.1 is contacted. Ends with SIGTERM to the
# backend, which must exit 0 (under an ASan build that includes the leak check).
set -euo pipefail

build=${1:-build}
minutes=${2:-5}
connections=${3:-32}
backend="$build/backend/zentrow-backend"
[ -x "$backend" ] || { echo "no $backend: build the zentrow-backend target first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is not installed (apt-get install python3)" >&2; exit 1; }
if [ "$minutes" -lt 1 ] || [ "$minutes" -gt 240 ]; then
    echo "MINUTES must be 1..240" >&2
    exit 1
fi
if [ "$connections" -lt 1 ] || [ "$connections" -gt 256 ]; then
    echo "CONNECTIONS must be 1..256" >&2
    exit 1
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# A mix of what apps ask: watchlists of different sizes and orders, searches, conditional GETs.
cat >"$work/mix.lua" <<'LUA'
local ids = {"BTC","ETH","BNB","SOL","XRP","DOGE","ADA","TRX","AVAX","LINK","TON","SHIB","DOT","BCH","LTC",
             "SUI","XLM","HBAR","UNI","PEPE","NEAR","APT","ICP","ETC","POL","AAVE","ATOM","FIL","ARB","OP",
             "VET","INJ","RENDER","FET","TAO","STX","IMX","SEI","TIA","WLD","ENA","ONDO","JUP","PYTH","BONK",
             "FLOKI","WIF","ALGO","GRT","LDO","CRV","SNX","COMP","1INCH","CAKE","RUNE","EGLD","XTZ","EOS","THETA"}
local searches = {"b", "bt", "btc", "eth", "sol", "bitcoin", "do", "x", "%20a%20", "zzz", "e"}
local counter = 0
request = function()
    counter = counter + 1
    local kind = counter % 10
    if kind == 0 then
        return wrk.format(nil, "/api/search?q=" .. searches[(counter / 10) % #searches + 1])
    end
    local size = ({1, 5, 12, 50})[kind % 4 + 1]
    local start = (counter * 7) % #ids
    local list = {}
    for i = 0, size - 1 do list[#list + 1] = ids[(start + i) % #ids + 1] end
    local headers = nil
    if kind == 9 then headers = {["If-None-Match"] = '"0000000000000000"'} end
    return wrk.format(nil, "/api/quotes?ids=" .. table.concat(list, ","), headers)
end
LUA

exchange_port=$(free_port)
python3 "$(dirname "$0")/fake-exchange.py" "$exchange_port" --moving &
pids+=($!)

backend_port=$(free_port)
"$backend" --port "$backend_port" --upstream "http://127.0.0.1:$exchange_port" >"$work/backend.log" 2>&1 &
backend_pid=$!
pids+=($backend_pid)
base="http://127.0.0.1:$backend_port"
for _ in $(seq 1 100); do
    if python3 -c "import urllib.request,sys; urllib.request.urlopen(sys.argv[1], timeout=5).read()" \
        "$base/api/quotes?ids=BTC" 2>/dev/null; then break; fi
    sleep 0.1
done

rss() { awk '/VmRSS/ {print $2}' "/proc/$backend_pid/status"; }
echo "== $minutes min of wrk -t2 -c$connections (mixed quotes and searches), RSS every 10 s"
wrk -t2 -c"$connections" -d"${minutes}m" --timeout 5s -s "$work/mix.lua" "$base" >"$work/wrk.txt" 2>&1 &
wrk_pid=$!
pids+=($wrk_pid)
start=$(date +%s)
printf "%8s %10s\n" "seconds" "RSS (kB)"
samples=()
while kill -0 "$wrk_pid" 2>/dev/null; do
    sample=$(rss)
    samples+=("$sample")
    printf "%8d %10d\n" $(( $(date +%s) - start )) "$sample"
    sleep 10
done
wait "$wrk_pid" || true
samples+=("$(rss)")
printf "%8d %10d   (after the load)\n" $(( $(date +%s) - start )) "${samples[-1]}"
grep -E "requests in|Requests/sec|Non-2xx|Socket errors" "$work/wrk.txt" || true

# Growth after warm-up: the first minute fills caches, pools and allocator arenas.
warm=${samples[$(( ${#samples[@]} > 6 ? 6 : 0 ))]}
last=${samples[-1]}
max=$(printf "%s\n" "${samples[@]}" | sort -n | tail -1)
awk -v w="$warm" -v l="$last" -v m="$max" \
    'BEGIN { printf "RSS after 1 min: %d kB, at the end: %d kB (%+.1f%%), highest: %d kB\n", w, l, (l - w) * 100 / w, m }'
echo "== exchange calls: $(python3 -c "import urllib.request,sys; print(urllib.request.urlopen(sys.argv[1]).read().decode())" \
    "http://127.0.0.1:$exchange_port/calls")"

kill -TERM "$backend_pid"
code=0
wait "$backend_pid" || code=$?
echo "== backend exit code after SIGTERM: $code"
grep -E "Sanitizer|leak" "$work/backend.log" || true
[ "$code" -eq 0 ]
