#!/usr/bin/env python3
"""Turns kiv_codec_bench JSON output into a Markdown table of GB/s and ratios.

Usage:
  kiv_codec_bench --benchmark_format=json [--benchmark_repetitions=N] > gcc-O2.json
  python3 bench/codec_ratios.py gcc-O2.json [clang-O3.json ...]

With repetitions the median is used. Ratios are against memcpy of the same size
and against the straightforward implementation (naive_encode for encode and
scramble rows, naive_decode for decode and unscramble rows). Standard library only.
"""
import json
import os
import sys


def load(path):
    """Returns {(name, size): bytes_per_second}, preferring median aggregates."""
    with open(path) as f:
        data = json.load(f)
    plain, median = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred") or "bytes_per_second" not in b:
            continue
        name = b.get("run_name", b["name"])
        base, _, size = name.rpartition("/")
        key = (base, int(size))
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                median[key] = b["bytes_per_second"]
        else:
            plain.setdefault(key, b["bytes_per_second"])
    plain.update(median)
    return plain


def baseline_of(name):
    if "decode" in name or "unscramble" in name:
        return "BM_naive_decode"
    if "encode" in name or "scramble" in name:
        return "BM_naive_encode"
    return None


def human(size):
    for unit, div in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if size >= div and size % div == 0:
            return f"{size // div} {unit}"
    return f"{size} B"


def main(paths):
    if not paths:
        print(__doc__)
        return 2
    runs = [(os.path.splitext(os.path.basename(p))[0], load(p)) for p in paths]
    keys = sorted({k for _, r in runs for k in r}, key=lambda k: (k[0], k[1]))
    head = "| benchmark | size |" + "".join(
        f" {label} GB/s | ×memcpy | ×straightforward |" for label, _ in runs)
    print(head)
    print("|" + "---|" * (2 + 3 * len(runs)))
    for name, size in keys:
        cells = []
        for _, r in runs:
            bps = r.get((name, size))
            if bps is None:
                cells += ["", "", ""]
                continue
            mem = r.get(("BM_memcpy", size))
            base = baseline_of(name)
            naive = r.get((base, size)) if base else None
            cells.append(f"{bps / 1e9:.2f}")
            cells.append(f"{bps / mem:.2f}" if mem else "")
            cells.append(f"{bps / naive:.1f}" if naive and base != name else "")
        print(f"| {name.removeprefix('BM_')} | {human(size)} | " + " | ".join(cells) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
