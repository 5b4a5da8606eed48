#!/usr/bin/env python3
# A stand-in for the exchange's spot REST API on 127.0.0.1, for the backend's benchmarks:
# exchangeInfo, ticker/24hr and klines for 60 USDT pairs in the exchange's own format, plus /calls
# (how many of each it answered). Usage: fake-exchange.py PORT [--moving]
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

# --moving: every ticker call moves the prices a little, for runs that want fresh data each time.
MOVING = "--moving" in sys.argv[2:]

def ticker(symbol, i):
    tick = calls["ticker"] % 100 if MOVING else 0
    price = 100.0 + i * 3.25 + tick / 100
    change = tick / 10 - 5 if MOVING else i / 10 - 2
    return {"symbol": symbol, "priceChange": "1.50000000", "priceChangePercent": "%.3f" % change,
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
