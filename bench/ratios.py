#!/usr/bin/env python3
"""Prints a Markdown table of throughput ratios from a Google Benchmark JSON report.

Benchmarks are named "<who>/<case>..." (for example "nuv/ecb_encrypt/128" beside
"openssl/ecb_encrypt/128"); each row is one case, our median beside the peer's median.
Usage: prog --benchmark_format=json | python3 bench/ratios.py

With OURS=PEER arguments (two benchmarks named without their arguments, for example
BM_Read/sealed=BM_Read/compressed) each row compares one case of OURS with the same case of
PEER instead: the peer's median time over ours, by wall clock and by CPU time.
Usage: prog --benchmark_format=json | python3 bench/ratios.py OURS=PEER...
"""
import json
import sys


def mb(bytes_per_second):
    value = bytes_per_second / 1e6
    return f"{value:.0f}" if value >= 100 else f"{value:.3g}"


# Seconds per time unit of a report.
UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def case_name(run_name):
    """The run name without Google Benchmark's settings (minimum time, repeats, real time)."""
    return "/".join(part for part in run_name.split("/") if ":" not in part and part != "real_time")


def print_pairs(report, pairs):
    medians = {case_name(b["run_name"]): b for b in report["benchmarks"] if b.get("aggregate_name") == "median"}
    print("| ours | peer | case | ours | peer | ratio (wall) | ratio (CPU) |")
    print("|---|---|---|---:|---:|---:|---:|")
    for pair in pairs:
        ours, _, peer = pair.partition("=")
        for name, b in medians.items():
            own_case = name == ours or name.startswith(ours + "/")
            theirs = medians.get(peer + name[len(ours):]) if own_case else None
            if theirs:
                case = b.get("label") or name[len(ours) + 1:] or "-"
                times = f"{b['real_time']:.4g} {b['time_unit']} | {theirs['real_time']:.4g} {theirs['time_unit']}"
                scale = UNITS[theirs["time_unit"]] / UNITS[b["time_unit"]]
                wall, cpu = (theirs[t] / b[t] * scale for t in ("real_time", "cpu_time"))
                print(f"| {ours} | {peer} | {case} | {times} | {wall:.2f} | {cpu:.2f} |")


def main():
    report = json.load(sys.stdin)
    if len(sys.argv) > 1:
        print_pairs(report, sys.argv[1:])
        return
    medians = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name", "median") != "median" or "bytes_per_second" not in b:
            continue
        who, _, case = b["run_name"].partition("/")
        case = case.split("/min_time")[0].split("/repeats")[0]
        medians.setdefault(case, {})[who] = b["bytes_per_second"]
    print("| case | nuv MB/s | peer | peer MB/s | ratio |")
    print("|---|---:|---|---:|---:|")
    for case, figures in medians.items():
        ours = figures.get("nuv")
        for peer, theirs in figures.items():
            if peer != "nuv" and ours:
                print(f"| {case} | {mb(ours)} | {peer} | {mb(theirs)} | {ours / theirs:.2f} |")


if __name__ == "__main__":
    main()
