#!/usr/bin/env python3
"""Turns the JSON output of en_bench_compare into the
side-by-side table of docs/performance.md (Markdown), marking the figures
that miss the team's targets.  Python 3 standard library only.

    report.py --compare compare.json --build-dir DIR [--doc FILE]

With --doc, the part of FILE between the lines <!-- bench:begin --> and
<!-- bench:end --> is replaced by the table.  Exit status 1 when a benchmark
reported an error (a verdict other than the expected one), else 0.
"""
import argparse
import datetime
import json
import os
import re
import subprocess
import sys

TARGET_VS_PB = 1.0      # ours / faster protobuf variant
TARGET_VS_FLOOR = 3.0   # ours / scan floor
TARGET_ALLOCS = 0       # heap allocations per validation, the first included
TARGET_FIRST_US = 10    # the first validation of every message type
MISS = " ✗"

BEGIN = "<!-- bench:begin -->"
END = "<!-- bench:end -->"

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    """Benchmark rows by run name (the median when repetitions were
    aggregated), the errors, and the context."""
    if not path or not os.path.exists(path):
        return {}, [], {}
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    rows, errors, labels, cvs = {}, [], {}, {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            errors.append(f"{name}: {b.get('error_message', 'error')}")
            continue
        if b.get("label"):
            labels[name] = b["label"]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                rows[name] = b
            elif b.get("aggregate_name") == "cv":
                cvs[name] = b["cpu_time"]
        elif name not in rows or rows[name].get("run_type") != "aggregate":
            rows[name] = b
    for name, row in rows.items():
        row.setdefault("label", labels.get(name, ""))
        if name in cvs:
            row["cv"] = cvs[name]
    return rows, errors, data.get("context", {})


def ns(row):
    return row["cpu_time"] * TO_NS[row.get("time_unit", "ns")]


def fmt_ns(v):
    if v is None:
        return "–"
    return f"{v:,.0f}" if v >= 100 else f"{v:.1f}"


def fmt_rate(v):
    if v is None:
        return "–"
    for div, unit in ((1e9, " G"), (1e6, " M"), (1e3, " k")):
        if v >= div:
            return f"{v / div:.2f}{unit}"
    return f"{v:.0f}"


def fmt_ratio(v, target):
    if v is None:
        return "–"
    return f"{v:.2f}" + (MISS if round(v, 2) > target else "")


def command_line(*cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, check=False).stdout
    except OSError:
        return ""


def cmake_cache(build_dir):
    cache = {}
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                m = re.match(r"^([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
                if m:
                    cache[m.group(1)] = m.group(2)
    except OSError:
        pass
    return cache


def machine_lines(build_dir, context):
    model = ""
    for line in command_line("lscpu").splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
            break
    cache = cmake_cache(build_dir)
    cxx = cache.get("CMAKE_CXX_COMPILER", "c++")
    compiler = (command_line(cxx, "--version").splitlines() or [cxx])[0]
    protoc = command_line("protoc", "--version").strip() or "protoc ?"
    sources = ("src", "companion", "include")
    commit = command_line("git", "log", "-1", "--format=%h", "--", *sources).strip() or "?"
    if command_line("git", "status", "--porcelain", "--", *sources).strip():
        commit += " with uncommitted changes"
    date = context.get("date") or datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="minutes")
    mhz = context.get("mhz_per_cpu")
    return [
        f"- Machine: {model or 'unknown CPU'}, {os.cpu_count()} cores"
        + (f" ({mhz} MHz)" if mhz else "") + f", {os.uname().machine}",
        f"- Compiler: {compiler}; build type {cache.get('CMAKE_BUILD_TYPE', '?')};"
        f" {protoc} (libprotobuf)",
        f"- Library sources at commit {commit}; measured {date}",
    ]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--compare", required=True)
    p.add_argument("--build-dir", default=".")
    p.add_argument("--doc")
    p.add_argument("--note", default="", help="a line saying how the figures were taken")
    a = p.parse_args()

    rows, errors, context = load(a.compare)

    keys, labels = [], {}
    for name, row in rows.items():
        variant, _, key = name.partition("/")
        if variant == "Ours" and key not in keys:
            keys.append(key)
            labels[key] = row.get("label", key)
    order = context.get("messages", "").split(",")
    keys.sort(key=lambda k: order.index(k) if k in order else len(order))

    def get(variant, key):
        return rows.get(f"{variant}/{key}")

    out = []
    out += machine_lines(a.build_dir, context)
    if a.note:
        out.append(f"- {a.note}")
    out.append("")
    out.append("| message | entries | blob B | pb B | ours ns | floor ns | pb reused ns | pb arena ns "
               "| ours/pb | ours/floor | ours allocs | allocs floor/reused/arena | ours msg/s | ours MB/s |")
    out.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    met = {"pb": [0, 0], "floor": [0, 0], "allocs": [0, 0]}
    for key in keys:
        ours, floor = get("Ours", key), get("Floor", key)
        reused, arena = get("PbReused", key), get("PbArena", key)
        t = {k: (ns(r) if r else None) for k, r in
             (("ours", ours), ("floor", floor), ("reused", reused), ("arena", arena))}
        pbs = [v for v in (t["reused"], t["arena"]) if v is not None]
        vs_pb = t["ours"] / min(pbs) if pbs and t["ours"] else None
        vs_floor = t["ours"] / t["floor"] if t["ours"] and t["floor"] else None
        allocs = int(ours["allocs"]) if ours and "allocs" in ours else None
        for k, v, target in (("pb", vs_pb, TARGET_VS_PB), ("floor", vs_floor, TARGET_VS_FLOOR),
                             ("allocs", allocs, TARGET_ALLOCS)):
            if v is not None:
                met[k][1] += 1
                met[k][0] += round(v, 2) <= target
        others = "/".join(str(int(r["allocs"])) if r and "allocs" in r else "–" for r in (floor, reused, arena))
        ref = ours or floor or reused or arena
        mbps = ours["bytes_per_second"] / 1e6 if ours and "bytes_per_second" in ours else None
        out.append("| " + " | ".join([
            labels[key],
            str(int(ref["entries"])) if ref else "–",
            str(int(ref["blob_bytes"])) if ref else "–",
            str(int(ref["pb_bytes"])) if ref else "–",
            fmt_ns(t["ours"]), fmt_ns(t["floor"]), fmt_ns(t["reused"]), fmt_ns(t["arena"]),
            fmt_ratio(vs_pb, TARGET_VS_PB), fmt_ratio(vs_floor, TARGET_VS_FLOOR),
            "–" if allocs is None else str(allocs) + (MISS if allocs > TARGET_ALLOCS else ""),
            others,
            fmt_rate(ours.get("items_per_second")) if ours else "–",
            "–" if mbps is None else f"{mbps:,.0f}",
        ]) + " |")
    out.append("")

    first = context.get("first_use_all_grammars_us")
    if first:
        allocs = int(context.get("first_use_all_grammars_allocs", "0"))
        out.append(f"- First validation of every message type in a fresh process (one shot):"
                   f" {float(first):,.1f} µs" + (MISS if float(first) > TARGET_FIRST_US else "")
                   + f" (target < {TARGET_FIRST_US:,} µs), {allocs:,} allocations"
                   + (MISS if allocs > TARGET_ALLOCS else ""))
    cv = {}
    for name, row in rows.items():
        if "cv" in row:
            variant = name.partition("/")[0]
            cv[variant] = max(cv.get(variant, 0.0), row["cv"])
    if cv:
        out.append("- Largest coefficient of variation over the repetitions: "
                   + ", ".join(f"{v} {c * 100:.1f} %" for v, c in cv.items()))
    names = {"pb": f"ours/pb ≤ {TARGET_VS_PB:g}", "floor": f"ours/floor ≤ {TARGET_VS_FLOOR:g}",
             "allocs": f"{TARGET_ALLOCS} allocations per validation"}
    out.append("- Targets met: " + "; ".join(f"{names[k]}: {m[0]} of {m[1]} messages" for k, m in met.items())
               + f" ({MISS.strip()} marks a miss)")
    text = "\n".join(out) + "\n"
    sys.stdout.write(text)

    if a.doc:
        with open(a.doc, encoding="utf-8") as f:
            doc = f.read()
        start, end = doc.find(BEGIN), doc.find(END)
        if start < 0 or end < start:
            sys.exit(f"report.py: {a.doc} has no {BEGIN} ... {END} section")
        with open(a.doc, "w", encoding="utf-8") as f:
            f.write(doc[:start + len(BEGIN)] + "\n" + text + doc[end:])

    if not keys:
        errors.append(f"{a.compare}: no validation results")
    for e in errors:
        print(f"ERROR {e}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
