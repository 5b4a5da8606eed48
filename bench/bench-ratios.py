#!/usr/bin/env python3
# Reads the JSON that the Google Benchmark programs write (--benchmark_out=FILE
# --benchmark_out_format=json) and prints each of our measurements next to the plain Qt/std
# reference measured in the same run, with their ratio. Usage: bench-ratios.py FILE.json...
#
# A pair is only read within one file, so ours and the reference always come from the same run of
# the same program. Several files of one program (repeated runs), or repetitions inside a file
# (--benchmark_repetitions), each give one ratio; the table shows the medians.
import json
import statistics
import sys

# What the row says, our benchmark, the reference it is read against.
PAIRS = [
    ("menuBarDisplayText, 500 watched tokens", "BM_menuBarDisplayText", "BM_menuBarDisplayTextReference"),
    ("persist() of 500 entries, settings write included", "BM_persist500", "BM_persist500Reference"),
    ("merging a 500-record refresh", "BM_mergeRefresh500", "BM_mergeRefresh500Reference"),
    ("a 200-token refresh with 1,000 alerts / without", "BM_refresh200WithAlerts/1000", "BM_refresh200WithAlerts/0"),
    ("decoding 5,000 quotes with logos / fromJson alone", "decodeQuotes/logos:1", "decodeQuotesReference/logos:1"),
    ("decoding 5,000 quotes without logos / fromJson alone", "decodeQuotes/logos:0",
     "decodeQuotesReference/logos:0"),
    ("decoding 5,000 quotes with logos / unchecked mapping", "decodeQuotes/logos:1",
     "decodeQuotesUncheckedReference/logos:1"),
    ("13-point sparkline, 1x / polyline", "paintSparkline/1", "paintSparklineReference/1"),
    ("13-point sparkline, 2x / polyline", "paintSparkline/2", "paintSparklineReference/2"),
    ("52-point icon from cache, 1x / drawImage", "paintIconFromCache/1", "paintIconFromCacheReference/1"),
    ("52-point icon from cache, 2x / drawImage", "paintIconFromCache/2", "paintIconFromCacheReference/2"),
    ("price refresh, 200 rows / QLabels", "priceRefreshRerender/200", "priceRefreshRerenderReference/200"),
    ("price refresh and paint, 200 rows / QLabels", "priceRefreshRerenderAndPaint/200",
     "priceRefreshRerenderAndPaintReference/200"),
    ("moveTokenToTop, 500 tokens, status item included / QStandardItemModel::moveRow", "moveTokenToTop/popover:0",
     "moveTokenToTopReference"),
    ("the same with the popover open on its 500 rows", "moveTokenToTop/popover:1", "moveTokenToTopReference"),
    ("pinToMenuBar, 500 tokens, status item included / QStandardItemModel::setData per row",
     "pinToMenuBar/popover:0", "pinToMenuBarReference"),
    ("the same with the popover open on its 500 rows", "pinToMenuBar/popover:1", "pinToMenuBarReference"),
    ("500 search results shown / QListWidget", "openAddTokenWithResults/500",
     "openAddTokenWithResultsReference/500"),
]

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def runs(path):
    """Real and CPU time in ns of every measured run in one file, keyed by (name, repetition)."""
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    measured = {}
    for b in document.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
            continue
        scale = TO_NS[b.get("time_unit", "ns")]
        key = (b.get("run_name", b["name"]), b.get("repetition_index", 0))
        measured[key] = (b["real_time"] * scale, b["cpu_time"] * scale)
    return measured


def shown(ns):
    for unit, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {unit}"
    return f"{ns:.3g} ns"


def main(paths):
    if not paths:
        sys.exit("usage: bench-ratios.py FILE.json...")
    files = [runs(p) for p in paths]
    rows = []
    for what, ours, reference in PAIRS:
        samples = []
        for measured in files:
            for (name, repetition), (real, cpu) in measured.items():
                if name == ours and (reference, repetition) in measured:
                    ref_real, ref_cpu = measured[(reference, repetition)]
                    samples.append((real, ref_real, real / ref_real, cpu / ref_cpu))
        if samples:
            rows.append((what, shown(statistics.median(s[0] for s in samples)),
                         shown(statistics.median(s[1] for s in samples)),
                         f"{statistics.median(s[2] for s in samples):.2f}×",
                         f"{statistics.median(s[3] for s in samples):.2f}×", str(len(samples))))
    if not rows:
        print("No pair of a benchmark and its reference in these files.")
        return
    header = ("ours / reference", "ours", "reference", "ratio", "CPU ratio", "runs")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    print("  ".join(h.ljust(w) if i == 0 else h.rjust(w) for i, (h, w) in enumerate(zip(header, widths))))
    for r in rows:
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths))))
    print("Times are wall-clock medians; a ratio is the median of the per-run ratios.")


if __name__ == "__main__":
    main(sys.argv[1:])
