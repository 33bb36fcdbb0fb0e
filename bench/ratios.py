#!/usr/bin/env python3
"""Prints a Markdown table of throughput ratios from a Google Benchmark JSON report.

Benchmarks are named "<who>/<case>..." (for example "nuv/ecb_encrypt/128" beside
"openssl/ecb_encrypt/128"); each row is one case, our median beside the peer's median.
Usage: prog --benchmark_format=json | python3 bench/ratios.py
"""
import json
import sys


def mb(bytes_per_second):
    value = bytes_per_second / 1e6
    return f"{value:.0f}" if value >= 100 else f"{value:.3g}"


def main():
    report = json.load(sys.stdin)
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
