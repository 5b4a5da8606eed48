#!/usr/bin/env bash
# Load benchmark of zentrow-backend on loopback, with no internet: a tiny fake exchange serves
# recorded-format answers, the backend is warmed, then wrk asks for 50 quotes at a time.
#
#   bench/backend-load.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
#
# Needs wrk and python3 (Debian packages). Only 127.0.0.1 is contacted; wrk runs for a bounded
# time (default 10 s, at most 60 s).
set -euo pipefail

build=${1:-build}
seconds=${2:-10}
connections=${3:-32}
backend="$build/backend/zentrow-backend"
[ -x "$backend" ] || { echo "no $backend: build the zentrow-backend target first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is not installed (apt-get install python3)" >&2; exit 1; }
if [ "$seconds" -lt 1 ] || [ "$seconds" -gt 60 ]; then
    echo "SECONDS must be 1..60" >&2
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

# 60 USDT pairs in the exchange's documented format; decimals are strings, as the exchange sends.
cat >"$work/exchange.py" <<'PY'
import json, sys, urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ASSETS = ["BTC", "ETH", "BNB", "SOL", "XRP", "DOGE", "ADA", "TRX", "AVAX", "LINK", "TON", "SHIB", "DOT",
          "BCH", "LTC", "SUI", "XLM", "HBAR", "UNI", "PEPE", "NEAR", "APT", "ICP", "ETC", "POL", "AAVE",
          "ATOM", "FIL", "ARB", "OP", "VET", "INJ", "RENDER", "FET", "TAO", "STX", "IMX", "SEI", "TIA",
          "WLD", "ENA", "ONDO", "JUP", "PYTH", "BONK", "FLOKI", "WIF", "ALGO", "GRT", "LDO", "CRV", "SNX",
          "COMP", "1INCH", "CAKE", "RUNE", "EGLD", "XTZ", "EOS", "THETA"]
calls = {"exchangeInfo": 0, "ticker": 0, "klines": 0}

def exchange_info():
    return {"timezone": "UTC", "serverTime": 1700000000000, "rateLimits": [], "exchangeFilters": [],
            "symbols": [{"symbol": a + "USDT", "status": "TRADING", "baseAsset": a, "baseAssetPrecision": 8,
                         "quoteAsset": "USDT", "quotePrecision": 8, "quoteAssetPrecision": 8,
                         "orderTypes": ["LIMIT", "MARKET"], "icebergAllowed": True, "ocoAllowed": True,
                         "isSpotTradingAllowed": True, "isMarginTradingAllowed": False, "filters": [],
                         "permissions": ["SPOT"]} for a in ASSETS]}

def ticker(symbol, i):
    price = 100.0 + i * 3.25
    return {"symbol": symbol, "priceChange": "1.50000000", "priceChangePercent": "%.3f" % (i / 10 - 2),
            "weightedAvgPrice": "%.8f" % price, "prevClosePrice": "%.8f" % price, "lastPrice": "%.8f" % price,
            "lastQty": "1.00000000", "bidPrice": "%.8f" % price, "bidQty": "1.00000000",
            "askPrice": "%.8f" % price, "askQty": "1.00000000", "openPrice": "%.8f" % price,
            "highPrice": "%.8f" % price, "lowPrice": "%.8f" % price, "volume": "1000.00000000",
            "quoteVolume": "100000.00000000", "openTime": 1699913600000, "closeTime": 1700000000000,
            "firstId": 1, "lastId": 2, "count": 2}

def klines():
    return [[1699400000000 + d * 86400000, "100.0", "110.0", "90.0", "%.8f" % (100 + d), "1000.0",
             1699486399999 + d * 86400000, "100000.0", 100, "500.0", "50000.0", "0"] for d in range(7)]

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/api/v3/exchangeInfo":
            calls["exchangeInfo"] += 1
            body = exchange_info()
        elif url.path == "/api/v3/ticker/24hr":
            calls["ticker"] += 1
            wanted = json.loads(query["symbols"][0])
            body = [ticker(s, ASSETS.index(s[:-4])) for s in wanted if s[:-4] in ASSETS]
        elif url.path == "/api/v3/klines":
            calls["klines"] += 1
            body = klines()
        elif url.path == "/calls":
            body = calls
        else:
            self.send_error(404)
            return
        data = json.dumps(body).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
PY

exchange_port=$(free_port)
python3 "$work/exchange.py" "$exchange_port" &
pids+=($!)

backend_port=$(free_port)
# Prices live longer than the run, so every measured request is a warm-cache answer.
"$backend" --port "$backend_port" --upstream "http://127.0.0.1:$exchange_port" --price-ttl 3600 \
    >"$work/backend.log" 2>&1 &
pids+=($!)
backend_pid=$!

ids="BTC,ETH,BNB,SOL,XRP,DOGE,ADA,TRX,AVAX,LINK,TON,SHIB,DOT,BCH,LTC,SUI,XLM,HBAR,UNI,PEPE,NEAR,APT,ICP,ETC,POL,AAVE,ATOM,FIL,ARB,OP,VET,INJ,RENDER,FET,TAO,STX,IMX,SEI,TIA,WLD,ENA,ONDO,JUP,PYTH,BONK,FLOKI,WIF,ALGO,GRT,LDO,CRV,SNX,COMP,1INCH,CAKE,RUNE,EGLD,XTZ,EOS,THETA"
ids=$(echo "$ids" | cut -d, -f1-50)
url="http://127.0.0.1:$backend_port/api/quotes?ids=$ids"

# Warm the cache (and wait for the backend to come up).
for _ in $(seq 1 100); do
    if python3 - "$url" <<'PY' 2>/dev/null; then break; fi
import json, sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=5) as reply:
    data = json.load(reply)["data"]
    assert len(data) == 50 and len(data[0]["trend7d"]) == 7, data[:1]
PY
    sleep 0.1
done

echo "== warm answer"
python3 - "$url" <<'PY'
import sys, time, urllib.request
best = 1e9
for _ in range(200):
    start = time.perf_counter()
    with urllib.request.urlopen(sys.argv[1], timeout=5) as reply:
        body = reply.read()
        headers = reply.headers
    best = min(best, time.perf_counter() - start)
print("body %d bytes, Cache-Control: %s, ETag: %s" % (len(body), headers["Cache-Control"], headers["ETag"]))
print("fastest of 200 sequential requests (client round trip, new connection each): %.3f ms" % (best * 1000))
PY

# User plus system CPU time of the backend so far, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$backend_pid/stat"; }

echo "== wrk -t2 -c$connections -d${seconds}s --latency (50 ids per request)"
before=$(cpu_ticks)
wrk -t2 -c"$connections" -d"${seconds}s" --timeout 5s --latency "$url" | tee "$work/wrk.txt"
after=$(cpu_ticks)
requests=$(awk '/requests in/ {print $1}' "$work/wrk.txt")
awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" \
    'BEGIN { printf "backend CPU time per answer: %.1f us (%d answers)\n", ticks / hz / n * 1e6, n }'

echo "== keep-alive, one connection: server time per request"
wrk -t1 -c1 -d"$(( seconds < 5 ? seconds : 5 ))s" --latency "$url" | grep -E "Latency|50%|99%|Requests/sec"

echo "== exchange calls during the whole run"
python3 -c "import urllib.request,sys; print(urllib.request.urlopen(sys.argv[1]).read().decode())" \
    "http://127.0.0.1:$exchange_port/calls"
echo "== backend resident memory: $(awk '/VmRSS/ {print $2, $3}' /proc/$backend_pid/status)"
