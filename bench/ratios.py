#!/usr/bin/env python3
"""Prints the ratio table of a kfbench run.

    python3 bench/ratios.py results.json [--real]

Reads Google Benchmark's JSON output (--benchmark_out=FILE or
--benchmark_format=json) and prints, per workload, the median time of each
peer, the ratios ours / libstdc++ and ours / raw limit next to their targets,
and marks the targets that are missed. Times are CPU time of the benchmark
thread (system calls included) unless --real asks for wall-clock time; CPU
time is steadier on a machine shared with builds. Exits 0 whether or not a
target is met; 2 when the file lacks a workload of the table.
"""

import argparse
import json
import statistics
import sys

UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

# label, workload, unit, target ours/libstdc++, raw baseline (workload, peer), target ours/raw
ROWS = [
    ("put per character", "put", "ms", 0.6, ("put", "raw"), None),
    ("sputc per character", "sputc", "ms", 1.15, ("put", "raw"), 1.15),
    ("get per character", "get", "ms", 0.6, ("get", "raw"), None),
    ("sbumpc per character", "sbumpc", "ms", 1.15, ("get", "raw"), 1.15),
    ("<< integers", "int_out", "ms", 0.6, ("int_out", "raw"), None),
    (">> integers", "int_in", "ms", 0.6, ("int_in", "raw"), None),
    (">> mixed integers", "mixed_in", "ms", 0.6, None, None),
    ("<< doubles", "double_out", "ms", 0.8, ("double_out", "raw"), None),
    ("getline into std::string", "getline", "ms", 1.0, ("getline", "raw"), None),
    ("64 KiB write", "write64k", "ms", None, ("write64k", "raw"), 1.1),
    ("64 KiB read", "read64k", "ms", None, ("read64k", "raw"), 1.1),
    ("seekg(pos) + 64-byte read", "seek_read", "ms", 0.85, ("seek_read", "raw"), None),
    ("read 100 / overwrite 10 walk", "walk", "ms", 0.9, ("walk", "raw"), None),
    ("open + close, in", "open_close", "us", 1.5, ("open_close", "raw"), None),
    ("open + close, in \\| out", "open_close_rw", "us", 1.5, None, None),
    ("memory per open stream, one file", "memory", "B", 0.5, None, None),
    ("memory per open stream, own files", "memory_distinct", "B", 0.5, None, None),
]

# Further limits shown under the table: (workload, peer, what it is).
EXTRA = [
    ("write64k", "direct", "one write(2) per 64 KiB block, as libstdc++ does for large blocks"),
    ("read64k", "direct", "one read(2) per 64 KiB block, as libstdc++ does for large blocks"),
    ("seek_read", "pread", "pread(2) of 4 KiB: the seek folded into the read"),
]


# The classic streams of fstream.h beside IFileIOStream and libstdc++.
CLASSIC = [
    ("put per character", "put"),
    ("get per character", "get"),
    ("<< integers", "int_out"),
    (">> integers", "int_in"),
]

# The standard streams in step with C stdio, on buffers of their own, and libstdc++'s.
STANDARD = [
    ("`cout << v << '\\n'`", "cout_int"),
    ("`cin >> v`", "cin_int"),
]

# Appending (ios::app) beside libstdc++'s app, and beside ours writing with trunc.
APPEND = [
    ("put per character", "put"),
    ("sputc per character", "sputc"),
    ("<< integers", "int_out"),
    ("64 KiB write", "write64k"),
]

# Many streams open on one file at once: the time of all the opens.
OPEN_MANY = ["open_many_readers", "open_many_writers"]


def key_of(entry):
    """('put', 'ours') from 'put/ours/iterations:1/repeats:5'."""
    name = entry.get("run_name") or entry["name"]
    parts = [p for p in name.split("/") if ":" not in p and p != "real_time"]
    return tuple(parts[:2]) if len(parts) >= 2 else None


def collect(benchmarks, field):
    """Per (workload, peer): the median of the repetitions, in the row's unit."""
    samples, medians, errors = {}, {}, {}
    for entry in benchmarks:
        key = key_of(entry)
        if key is None:
            continue
        if entry.get("error_occurred"):
            errors[key] = entry.get("error_message", "error")
            continue
        scale = UNIT_TO_MS.get(entry.get("time_unit", "ns"), 1e-6)
        value = {
            "time_ms": entry[field] * scale,
            "bytes_per_stream": entry.get("bytes_per_stream"),
        }
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                medians[key] = value
        else:
            samples.setdefault(key, []).append(value)
    result = {}
    for key in set(samples) | set(medians):
        if key in samples:
            runs = samples[key]
            memory = [r["bytes_per_stream"] for r in runs if r["bytes_per_stream"] is not None]
            result[key] = {
                "time_ms": statistics.median(r["time_ms"] for r in runs),
                "bytes_per_stream": statistics.median(memory) if memory else None,
                "runs": len(runs),
            }
        else:
            result[key] = dict(medians[key], runs=None)
    return result, errors


def measure(results, workload, peer, unit):
    r = results.get((workload, peer))
    if r is None:
        return None
    if unit == "B":
        return r["bytes_per_stream"]
    if unit == "us":
        return r["time_ms"] * 1e3
    return r["time_ms"]


def show(value, unit):
    if value is None:
        return "-"
    if unit == "B":
        return f"{value:,.0f} B"
    if unit == "us":
        return f"{value:.2f} us"
    return f"{value:.1f} ms"


def verdict(ratio, target):
    if ratio is None or target is None:
        return ""
    if ratio <= target:
        return "met"
    over = 100 * (ratio / target - 1)
    return f"MISSED by {over:.0f}%" if over >= 1 else f"MISSED by {over:.1f}%"


def ratio_cell(ratio, target):
    if ratio is None:
        return "-"
    cell = f"{ratio:.2f}"
    if target is not None:
        cell += f" (<= {target:g}: {verdict(ratio, target)})"
    return cell


def print_table(header, rows):
    """A Markdown table after a blank line."""
    print()
    for cells in [header, ["---"] * len(header)] + rows:
        print(f"| {' | '.join(cells)} |")


def open_many_lines(benchmarks, field):
    """One line per many-opens workload: its times in the order of the stream counts."""
    runs = {}
    for entry in benchmarks:
        name = entry.get("run_name") or entry["name"]
        parts = name.split("/")
        if parts[0] in OPEN_MANY and entry.get("run_type") != "aggregate" and not entry.get("error_occurred"):
            scale = UNIT_TO_MS.get(entry.get("time_unit", "ns"), 1e-6)
            runs.setdefault(parts[0], []).append((int(parts[2]), entry[field] * scale))
    lines = []
    for workload in OPEN_MANY:
        if workload in runs:
            done = sorted(runs[workload])
            times = and_list([f"{ms:.1f}" for _, ms in done])
            counts = and_list([f"{streams:,}" for streams, _ in done])
            lines.append(f"- {workload}: {times} ms for {counts} streams on one file")
    return lines


def and_list(words):
    """'a', 'a and b', 'a, b and c'."""
    return words[0] if len(words) == 1 else ", ".join(words[:-1]) + " and " + words[-1]


def main():
    parser = argparse.ArgumentParser(description="Ratio table of a kfbench JSON output.")
    parser.add_argument("results", help="Google Benchmark JSON output of kfbench")
    parser.add_argument("--real", action="store_true", help="wall-clock time instead of CPU time")
    args = parser.parse_args()

    with open(args.results, encoding="utf-8") as f:
        data = json.load(f)
    results, errors = collect(data.get("benchmarks", []), "real_time" if args.real else "cpu_time")

    context = data.get("context", {})
    runs = max((r["runs"] for r in results.values() if r["runs"]), default="?")
    print(
        f"kfbench {context.get('date', '')}: {context.get('num_cpus', '?')} CPUs at "
        f"{context.get('mhz_per_cpu', '?')} MHz, {context.get('compiler', 'compiler unknown')}, "
        f"files of {context.get('file_mib', '?')} MiB; "
        f"median of {runs} runs (memory: 1), {'wall-clock' if args.real else 'CPU'} time"
    )
    print()
    print("| workload | ours | libstdc++ | stdio | raw 4 KiB | ours / libstdc++ | ours / raw |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    missing = False
    missed = []
    for label, workload, unit, std_target, raw_key, raw_target in ROWS:
        ours = measure(results, workload, "ours", unit)
        std = measure(results, workload, "libstdc++", unit)
        stdio = measure(results, workload, "stdio", unit)
        raw = measure(results, raw_key[0], raw_key[1], unit) if raw_key else None
        if ours is None or std is None:
            missing = True
        to_std = ours / std if ours and std else None
        to_raw = ours / raw if ours and raw else None
        print(
            f"| {label} | {show(ours, unit)} | {show(std, unit)} | {show(stdio, unit)} | {show(raw, unit)} "
            f"| {ratio_cell(to_std, std_target)} | {ratio_cell(to_raw, raw_target)} |"
        )
        for ratio, target, against in ((to_std, std_target, "libstdc++"), (to_raw, raw_target, "raw")):
            if ratio is not None and target is not None and ratio > target:
                missed.append(f"{label}: {ratio:.2f} of {against} against <= {target:g}")
    print()
    for workload, peer, what in EXTRA:
        ours = measure(results, workload, "ours", "ms")
        other = measure(results, workload, peer, "ms")
        if ours and other:
            print(f"- {workload}: {peer} ({what}) {other:.1f} ms; ours / {peer} = {ours / other:.2f}")
    for line in open_many_lines(data.get("benchmarks", []), "real_time" if args.real else "cpu_time"):
        print(line)
    if any(measure(results, w, "classic", "ms") for _, w in CLASSIC):
        classic_rows = []
        for label, workload in CLASSIC:
            ours, classic, std = (measure(results, workload, p, "ms") for p in ("ours", "classic", "libstdc++"))
            ratio = f"{classic / ours:.2f}" if classic and ours else "-"
            classic_rows.append([label, show(ours, "ms"), show(classic, "ms"), show(std, "ms"), ratio])
        print_table(["workload", "ours", "classic", "libstdc++", "classic / ours"], classic_rows)
    if any(measure(results, w, "ours-app", "ms") for _, w in APPEND):
        append_rows = []
        for label, workload in APPEND:
            app, std_app, ours = (measure(results, workload, p, "ms") for p in ("ours-app", "libstdc++-app", "ours"))
            append_rows.append([label, show(app, "ms"), show(std_app, "ms"), show(ours, "ms"),
                                f"{app / std_app:.2f}" if app and std_app else "-",
                                f"{app / ours:.2f}" if app and ours else "-"])
        print_table(["workload", "ours, app", "libstdc++, app", "ours, trunc", "app: ours / libstdc++",
                     "ours: app / trunc"], append_rows)
    if any(measure(results, w, "ours-synced", "ms") for _, w in STANDARD):
        standard_rows = [
            [label] + [show(measure(results, workload, p, "ms"), "ms")
                       for p in ("ours-synced", "ours-own", "libstdc++-synced")]
            for label, workload in STANDARD
        ]
        print_table(["workload", "ours in step with stdio", "ours, own buffers", "libstdc++ in step"], standard_rows)
    print()
    for key, message in sorted(errors.items()):
        print(f"- {'/'.join(key)} FAILED: {message}")
    print()
    if missed:
        print("Missed targets:")
        for line in missed:
            print(f"- {line}")
    else:
        print("Every target is met.")
    if missing:
        print("(some workloads are missing from the results: was the run filtered?)")
        sys.exit(2)


if __name__ == "__main__":
    main()
