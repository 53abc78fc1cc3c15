#!/usr/bin/env python3
"""Runs kiv_jni_bench (HotSpot) and kiv_jni_bench_art (ART) one after the other and prints two
Markdown tables, of CPU time and of real time: the median time of each path, and for every fast
path its speed-up over the plain JNI call it replaces on the same VM (plain time / path time;
above 1 the fast path wins). CPU time is the steadier figure on a shared machine; real time also
holds work the VM does on other threads (HotSpot's garbage collector).

    python3 bench/jni_paths.py BUILD_DIR [extra benchmark flags...]

Python standard library only. BUILD_DIR is a build with KIV_ART=ON and Google Benchmark.
"""
import json
import os
import subprocess
import sys

VMS = [("HotSpot", "kiv_jni_bench"), ("ART", "kiv_jni_bench_art")]
FLAGS = ["--benchmark_format=json", "--benchmark_repetitions=5",
         "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.2"]


def medians(program, extra):
    out = subprocess.run([program] + FLAGS + extra, check=True, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median" or b.get("error_occurred"):
            continue
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
        result[b["run_name"]] = {m: b[m] * scale for m in ("cpu_time", "real_time")}  # µs
    return result


def fmt_time(us):
    return f"{us:.3f}" if us < 10 else f"{us:.1f}" if us < 1000 else f"{us:,.0f}"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    times = {vm: medians(os.path.join(build, "bench", prog), sys.argv[2:]) for vm, prog in VMS}
    for metric, title in (("cpu_time", "CPU time"), ("real_time", "Real time")):
        print(f"{title}, median of 5:\n")
        table(times, metric)
        print()


def table(times, metric):
    print("| direction | text | bytes | path | " +
          " | ".join(f"{vm} µs | {vm} speed-up" for vm, _ in VMS) + " |")
    print("|---|---|---:|---|" + "---:|---:|" * len(VMS))
    for name in times["HotSpot"]:
        direction, text, size, path = name.split("/")
        plain = f"{direction}/{text}/{size}/plain"
        cells = []
        for vm, _ in VMS:
            t = times[vm].get(name, {}).get(metric)
            base = times[vm].get(plain, {}).get(metric)
            cells.append(fmt_time(t) if t is not None else "n/a")
            if path == "plain" or t is None or base is None:
                cells.append("")
            else:
                cells.append(f"{base / t:.2f}")
        print(f"| {direction} | {text} | {size} | {path} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
