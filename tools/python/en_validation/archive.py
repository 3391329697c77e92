"""Validate archives of captured messages on a Dask cluster.

    python3 -m en_validation.archive [--scheduler ADDRESS | --workers N]
                                     [--out DIR] FILE|PATTERN...

Files named *.jsonl or *.ndjson are JSON Lines, one message object a line,
and so are *.jsonl.gz and *.ndjson.gz; every other file is one message (a
blob or a JSON message).  Each JSON Lines file is cut into byte ranges at
line boundaries (--chunk-size), so that one large file spreads over all
workers; a task pipes its range through ``en-validate --jsonl -j1
--first-line N``, N counted by a first pass over the ranges, so the tool
writes the line numbers of the whole file.  A JSON Lines file of gzip data
(first bytes 1f 8b 08, whatever its name) cannot be cut: it is one task,
``en-validate --jsonl -j1 FILE``, which inflates it.  Message files are
validated in groups by ``en-validate --json``.  The tool is the engine: no
message is read by Python.

Output, in DIR (default ``archive-report``):

- ``verdicts/NAME``: for each JSON Lines input (NAME its file name without
  ``.gz``, 2-NAME and so on for later inputs of the same name), the tool's
  verdict lines in input order, byte for byte what ``en-validate --jsonl
  FILE`` writes;
- ``verdicts/messages.jsonl``: the ``en-validate --json`` lines of the
  message files, in input order;
- ``summary.json``: totals, counts by code, by message type and code, by
  failing place (the path without instance numbers), the most frequent
  texts, the first examples of each place with file and line;
- ``report.html``: the same for people, one page without scripts.

Without --scheduler a LocalCluster on this machine runs --workers worker
processes (default: one per processor) of one thread each.  With
--scheduler the workers must see the inputs and the tool at the same paths
(shared storage); the verdicts come back to this process, which writes
them.  A task whose worker dies is run again elsewhere by Dask; results are
put in order by their range, so no verdict is lost or written twice.

Exit status as en-validate's: 0 every message conforms, 1 some message
does not, 2 an input could not be read or a line is not a valid message.
"""

import argparse
import collections
import fcntl
import glob
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

JSONL_SUFFIXES = (".jsonl", ".ndjson", ".jsonl.gz", ".ndjson.gz")
GZIP_MAGIC = b"\x1f\x8b\x08"  # what en-validate reads inflated
DEFAULT_CHUNK = 32 << 20
FILES_PER_TASK = 256
EXAMPLES = 3
TOP_TEXTS = 20
_INSTANCE = re.compile(r"\[\d+\]")
_ERROR_LINE = re.compile(r"^line \d+(, column \d+)?: ")


def _first_line_start(f, start):
    """Where the first line that begins at or after start begins."""
    if start == 0:
        return 0
    f.seek(start - 1)
    if f.read(1) != b"\n":
        f.readline()
    return f.tell()


def count_lines(path, start, end):
    """Lines that begin in [start, end) of the file."""
    n = 0
    with open(path, "rb", buffering=0) as f:
        pos = _first_line_start(f, start)
        buf = bytearray(4 << 20)
        size = os.fstat(f.fileno()).st_size
        if pos < min(end, size):
            n = 1  # the line at pos; every newline before end - 1 starts one more
        f.seek(pos)
        left = max(0, end - 1 - pos)
        while left > 0:
            got = f.readinto(memoryview(buf)[:min(left, len(buf))])
            if not got:
                break
            i = buf.find(b"\n", 0, got)
            while i >= 0:
                n += 1
                i = buf.find(b"\n", i + 1, got)
            left -= got
    return n


def _new_stats():
    return {"messages": 0, "failing": 0, "input_errors": 0, "by_code": {}, "by_type": {},
            "by_place": {}, "texts": {}, "examples": {}}


def _add(table, key, n=1):
    table[key] = table.get(key, 0) + n


def _count_verdict(stats, v, n, file, line):
    """Adds n verdicts like the tool's JSON line v."""
    if "error" in v:
        stats["input_errors"] += n
        _add(stats["by_code"], "input error", n)
        _add(stats["by_type"].setdefault("input error", {}), "input error", n)
        _add(stats["texts"], _ERROR_LINE.sub("", v["error"]), n)
        return
    stats["messages"] += n
    code = str(v["code"])
    kind = v.get("type") or (f"log {v['msgtype']}" if v.get("kind") == "log" else v.get("kind", "?"))
    _add(stats["by_code"], code, n)
    _add(stats["by_type"].setdefault(kind, {}), code, n)
    if v["code"] == 0:
        return
    stats["failing"] += n
    _add(stats["texts"], v["message"], n)
    place = _INSTANCE.sub("", v["path"]) if "path" in v else "(no location)"
    _add(stats["by_place"], place, n)
    examples = stats["examples"].setdefault(place, [])
    if len(examples) < EXAMPLES:
        examples.append({"file": file, "line": line, "type": kind, "code": v["code"], "message": v["message"],
                         "path": v.get("path", "")})


def _merge(into, part):
    for key in ("messages", "failing", "input_errors"):
        into[key] += part[key]
    for key in ("by_code", "by_place", "texts"):
        for k, n in part[key].items():
            _add(into[key], k, n)
    for kind, codes in part["by_type"].items():
        for code, n in codes.items():
            _add(into["by_type"].setdefault(kind, {}), code, n)
    for place, examples in part["examples"].items():
        mine = into["examples"].setdefault(place, [])
        mine.extend(examples[:EXAMPLES - len(mine)])


def _run_tool(args, data):
    run = subprocess.run(args, input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _check_status(args, run.returncode, run.stderr)
    return run


def _check_status(args, status, err):
    if status not in (0, 1, 2):
        raise RuntimeError(f"{' '.join(args)}: exit status {status}: {err.decode('utf-8', 'replace')}")


def _line_end(f, end, size):
    """Where the line that holds byte end - 1 ends: after its newline."""
    if end >= size:
        return size
    f.seek(end - 1)
    if f.read(1) != b"\n":
        f.readline()
        return f.tell()
    return end


def validate_range(tool, path, start, end, first_line):
    """The tool's verdict lines for the lines that begin in [start, end),
    numbered from first_line, with their counts.  The range goes to the
    tool by sendfile, from a thread, while its output is read; the last
    range of a file is the tool's standard input itself, and a whole file
    (one of gzip data always) is named to the tool, so that its errors
    name it."""
    stats = _new_stats()
    with open(path, "rb") as f, tempfile.TemporaryFile() as err:
        size = os.fstat(f.fileno()).st_size
        pos = _first_line_start(f, start)
        stop = _line_end(f, end, size) if pos < end else pos
        if stop <= pos:
            return {"out": b"", "stats": stats, "status": 0, "stderr": "", "files": {path: stats}}
        args = [tool, "--jsonl", "-j1", "--first-line", str(first_line), "-"]
        if stop == size:  # the rest of the file: the tool reads it itself
            if pos == 0:
                args[-1] = path
            os.lseek(f.fileno(), pos, os.SEEK_SET)
            run = subprocess.run(args, stdin=f.fileno(), stdout=subprocess.PIPE, stderr=err)
            return _verdicts(args, run.stdout, run.returncode, err, path)
        proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
        try:  # fewer wake-ups of the tool and the feeder
            fcntl.fcntl(proc.stdin.fileno(), fcntl.F_SETPIPE_SZ, 1 << 20)
        except OSError:
            pass

        def feed():
            offset = pos
            try:
                while offset < stop:
                    sent = os.sendfile(proc.stdin.fileno(), f.fileno(), offset, min(stop - offset, 1 << 30))
                    if sent == 0:
                        break
                    offset += sent
            except BrokenPipeError:
                pass
            finally:
                proc.stdin.close()

        feeder = threading.Thread(target=feed)
        feeder.start()
        out = proc.stdout.read()
        feeder.join()
        return _verdicts(args, out, proc.wait(), err, path)


def _verdicts(args, out, status, err, path):
    """The result of a range: the tool's output and its counts."""
    err.seek(0)
    err = err.read()
    _check_status(args, status, err)
    stats = _new_stats()
    # Lines that differ only in their number are counted once: only the
    # distinct verdicts are parsed, the first line of each found again.
    lines = out.split(b"\n")
    lines.pop()
    distinct = collections.Counter(line[line.find(b", ") + 2:] for line in lines)
    for rest, n in distinct.items():
        at = out.find(b", " + rest + b"\n")
        line = int(out[out.rfind(b"\n", 0, at) + 10:at])
        _count_verdict(stats, json.loads(b"{" + rest), n, path, line)
    return {"out": out, "stats": stats, "status": status, "stderr": err.decode("utf-8", "replace"),
            "files": {path: stats}}


def validate_files(tool, paths):
    """en-validate --json over message files, with their counts."""
    run = _run_tool([tool, "--json", *paths], None)
    stats, files = _new_stats(), {p: _new_stats() for p in paths}
    for line in run.stdout.splitlines():
        v = json.loads(line)
        _count_verdict(stats, v, 1, v["file"], None)
        _count_verdict(files[v["file"]], v, 1, v["file"], None)
    return {"out": run.stdout, "stats": stats, "status": run.returncode,
            "stderr": run.stderr.decode("utf-8", "replace"), "files": files}


class _Progress:
    """One line on standard error, when it is a terminal (or forced)."""

    def __init__(self, files, total_bytes, show):
        self.files, self.total, self.show = files, total_bytes, show
        self.done_files = self.bytes = self.verdicts = 0
        self.start = self.last = time.monotonic()

    def update(self, nbytes, verdicts, files_done=0, final=False):
        self.bytes += nbytes
        self.verdicts += verdicts
        self.done_files += files_done
        now = time.monotonic()
        if not self.show or (now - self.last < 0.25 and not final):
            return
        self.last = now
        rate = self.verdicts / max(now - self.start, 1e-9)
        sys.stderr.write(f"\rarchive: files {self.done_files}/{self.files}, {self.bytes / 1e6:,.1f} of "
                         f"{self.total / 1e6:,.1f} MB, {self.verdicts:,} verdicts, {rate:,.0f} verdicts/s\x1b[K")
        if final:
            sys.stderr.write("\n")
        sys.stderr.flush()


def _inputs(patterns):
    """(JSON Lines files, message files, errors, JSON Lines files of gzip
    data), each file once, in order, by absolute path: workers elsewhere
    have another working directory."""
    seen, jsonl, messages, errors, gzipped = set(), [], [], [], set()
    for pattern in patterns:
        names = sorted(glob.glob(pattern)) if glob.has_magic(pattern) else [pattern]
        if not names:
            errors.append(f"{pattern}: no file matches")
        for name in map(os.path.abspath, names):
            if name in seen:
                continue
            seen.add(name)
            try:
                if os.path.isdir(name):
                    raise OSError("is a directory")
                with open(name, "rb") as f:
                    size = os.fstat(f.fileno()).st_size
                    if name.endswith(JSONL_SUFFIXES) and f.read(len(GZIP_MAGIC)) == GZIP_MAGIC:
                        gzipped.add(name)
            except OSError as e:
                errors.append(f"{name}: cannot read: {e.strerror or e}")
                continue
            (jsonl if name.endswith(JSONL_SUFFIXES) else messages).append((name, size))
    return jsonl, messages, errors, gzipped


def _output_names(paths):
    names, used = {}, set()
    for path in paths:
        base = os.path.basename(path).removesuffix(".gz")  # the verdicts are plain text
        name, n = base, 1
        while name in used or name == "messages.jsonl":
            n += 1
            name = f"{n}-{base}"
        used.add(name)
        names[path] = name
    return names


def run(args, client, report):
    """Validates the inputs on the client's cluster; returns the exit status."""
    started = time.time()
    jsonl, messages, errors, gzipped = _inputs(args.inputs)
    for e in errors:
        report(e)
    tool = args.tool
    os.makedirs(os.path.join(args.out, "verdicts"), exist_ok=True)
    names = _output_names([p for p, _ in jsonl])
    for name in list(names.values()) + ["messages.jsonl"]:  # an empty file has no range
        open(os.path.join(args.out, "verdicts", name), "wb").close()
    # A file of gzip data is one range, the whole file: the tool inflates it.
    step = lambda path, size: size if path in gzipped else args.chunk_size
    ranges = [(p, s, min(s + step(p, size), size)) for p, size in jsonl for s in range(0, size, step(p, size))]
    # First pass: the lines of every range, for the number of each range's first line.
    # The last range of a file needs no count.
    counted = [r for r, after in zip(ranges, ranges[1:] + [None]) if after is not None and after[0] == r[0]]
    counts = client.map(count_lines, *zip(*counted), pure=False) if counted else []
    first, broken = {}, set()
    for (path, start, _), fut in zip(counted, counts):
        if path in broken:
            continue
        try:
            n = fut.result()
        except Exception as e:  # the file went away or cannot be read
            broken.add(path)
            report(f"{path}: cannot read: {e}")
            continue
        first[(path, start)] = first.get(path, 1)
        first[path] = first[(path, start)] + n
    for path, start, _ in ranges:
        first.setdefault((path, start), first.get(path, 1))
    ranges = [r for r in ranges if r[0] not in broken]
    jobs = [("range", r) for r in ranges]
    jobs += [("files", [p for p, _ in messages[i:i + FILES_PER_TASK]]) for i in range(0, len(messages), FILES_PER_TASK)]
    total_bytes = sum(size for p, size in jsonl if p not in broken) + sum(size for _, size in messages)
    sizes = dict(jsonl + messages)
    progress = _Progress(len(jsonl) + len(messages) - len(broken), total_bytes, args.progress)
    totals = _new_stats()
    per_file = {p: _new_stats() for p, _ in jsonl + messages}
    status = 2 if errors or broken else 0

    def submit(i):
        kind, r = jobs[i]
        if kind == "range":
            return client.submit(validate_range, tool, *r, first[r[:2]], pure=False)
        return client.submit(validate_files, tool, r, pure=False)

    # At most window tasks are out at once, so that results wait in memory
    # only as long as an earlier one is not done; they are written in order.
    from distributed import as_completed
    window = max(16, 4 * max(1, len(client.scheduler_info().get("workers", {}))))
    position = {}
    pending = as_completed()
    for i in range(min(window, len(jobs))):
        f = submit(i)
        position[f.key] = i
        pending.add(f)
    submitted = min(window, len(jobs))
    outputs, ready, next_job, unvalidated = {}, {}, 0, set()
    try:
        for fut in pending:
            ready[position.pop(fut.key)] = fut
            while next_job in ready:
                kind, r = jobs[next_job]
                f = ready.pop(next_job)
                next_job += 1
                if submitted < len(jobs):
                    g = submit(submitted)
                    position[g.key] = submitted
                    pending.add(g)
                    submitted += 1
                try:
                    result = f.result()
                except Exception as e:
                    what = f"bytes {r[1]} to {r[2]} of {r[0]}" if kind == "range" else ", ".join(r)
                    report(f"{what}: not validated: {e}")
                    unvalidated.update([r[0]] if kind == "range" else r)
                    result = {"out": b"", "stats": _new_stats(), "status": 2, "stderr": "", "files": {}}
                f.release()
                status = max(status, result["status"])
                for line in result["stderr"].splitlines():
                    report(line)
                name = names[r[0]] if kind == "range" else "messages.jsonl"
                if name not in outputs:
                    outputs[name] = open(os.path.join(args.out, "verdicts", name), "wb")
                outputs[name].write(result["out"])
                _merge(totals, result["stats"])
                for p, stats in result["files"].items():
                    _merge(per_file[p], stats)
                last = kind == "files" or r[2] == sizes[r[0]]
                if last and kind == "range":
                    outputs.pop(name).close()
                stats = result["stats"]
                progress.update(r[2] - r[1] if kind == "range" else sum(sizes[p] for p in r),
                                stats["messages"] + stats["input_errors"], (len(r) if kind == "files" else 1) if last else 0)
    finally:
        for f in outputs.values():
            f.close()
    progress.update(0, 0, final=True)
    summary = _summary(totals, jsonl, messages, names, per_file, errors, broken, unvalidated, started)
    with open(os.path.join(args.out, "summary.json"), "w", encoding="utf-8") as f:
        json.dump(summary, f, indent=1, ensure_ascii=False)
        f.write("\n")
    with open(os.path.join(args.out, "report.html"), "w", encoding="utf-8") as f:
        f.write(render_html(summary))
    if status < 2 and totals["input_errors"]:
        status = 2
    return status


def _type_order(kind):
    """log types by number, then register, then input errors."""
    word, _, number = kind.partition(" ")
    return (0, int(number), "") if word == "log" and number.lstrip("-").isdigit() else (1, 0, kind)


def _code_order(code):
    return (0, int(code), "") if code.isdigit() else (1, 0, code)


def _summary(totals, jsonl, messages, names, per_file, errors, broken, unvalidated, started):
    files = []
    for path, size in jsonl + messages:
        s = per_file[path]
        entry = {"file": path, "bytes": size, "messages": s["messages"], "failing": s["failing"],
                 "input_errors": s["input_errors"],
                 "verdicts": "verdicts/" + (names[path] if path in names else "messages.jsonl")}
        if path in broken:
            entry["error"] = "cannot read"
        elif path in unvalidated:
            entry["error"] = "not validated in part: its verdicts lack lines"
        files.append(entry)
    by_count = lambda table: dict(sorted(table.items(), key=lambda kv: (-kv[1], kv[0])))
    texts = sorted(totals["texts"].items(), key=lambda kv: (-kv[1], kv[0]))[:TOP_TEXTS]
    return {
        "totals": {"files": len(jsonl) + len(messages) - len(broken),
                   "bytes": sum(size for path, size in jsonl + messages if path not in broken),
                   "messages": totals["messages"], "conforming": totals["messages"] - totals["failing"],
                   "failing": totals["failing"], "input_errors": totals["input_errors"],
                   "unreadable": len(errors) + len(broken), "seconds": round(time.time() - started, 3)},
        "by_code": dict(sorted(totals["by_code"].items(), key=lambda kv: _code_order(kv[0]))),
        "by_type": {k: dict(sorted(v.items(), key=lambda kv: _code_order(kv[0])))
                    for k, v in sorted(totals["by_type"].items(), key=lambda kv: _type_order(kv[0]))},
        "by_place": by_count(totals["by_place"]),
        "top_texts": [{"text": t, "count": n} for t, n in texts],
        "examples": {place: totals["examples"][place] for place in by_count(totals["by_place"])},
        "files": files,
        "unreadable": errors + sorted(broken),
    }


# The report: one page, CSS and SVG inline, nothing loaded, no script.
_CODE_COLORS = {"0": "#4c9a2a", "100": "#8e44ad", "101": "#d35400", "102": "#c0392b", "103": "#7f8c8d",
                "104": "#2c3e50", "300": "#b7950b", "input error": "#555555"}
_BAR_WIDTH = 480


def _bars(rows, label_width=380):
    """A horizontal bar chart: rows of (label, [(part, count, color)])."""
    top = max((sum(n for _, n, _ in parts) for _, parts in rows), default=1) or 1
    height = 22 * len(rows) + 6
    out = [f'<svg class="chart" xmlns="http://www.w3.org/2000/svg" width="{label_width + _BAR_WIDTH + 90}" '
           f'height="{height}" role="img">']
    for i, (label, parts) in enumerate(rows):
        y = 22 * i + 4
        total = sum(n for _, n, _ in parts)
        out.append(f'<g class="bar" data-label="{html.escape(label)}" data-count="{total}">')
        out.append(f'<text x="{label_width - 6}" y="{y + 14}" text-anchor="end">{html.escape(label)}</text>')
        x = float(label_width)
        for part, n, color in parts:
            w = round(_BAR_WIDTH * n / top, 2)
            out.append(f'<rect class="segment" data-part="{html.escape(part)}" data-count="{n}" x="{x:.2f}" '
                       f'y="{y}" width="{w}" height="18" fill="{color}"><title>{html.escape(label)}: '
                       f'{html.escape(part)} {n:,}</title></rect>')
            x += w
        out.append(f'<text class="count" x="{x + 6:.2f}" y="{y + 14}">{total:,}</text></g>')
    out.append("</svg>")
    return "\n".join(out)


def render_html(summary):
    e = html.escape
    t = summary["totals"]
    rows = [("Files", t["files"]), ("Bytes", t["bytes"]), ("Messages", t["messages"]),
            ("Conforming", t["conforming"]), ("Not conforming", t["failing"]), ("Input errors", t["input_errors"]),
            ("Unreadable inputs", t["unreadable"])]
    totals = "".join(f'<tr><th>{name}</th><td class="total" data-name="{name}">{n:,}</td></tr>' for name, n in rows)
    places = list(summary["by_place"].items())[:30]
    place_chart = _bars([(p, [("not conforming", n, "#c0392b")]) for p, n in places]) if places else "<p>None.</p>"
    codes = sorted({c for v in summary["by_type"].values() for c in v}, key=_code_order)
    type_chart = _bars([(kind, [(f"code {c}" if c.isdigit() else c, v[c], _CODE_COLORS.get(c, "#999999"))
                                for c in codes if c in v]) for kind, v in summary["by_type"].items()], 160)
    legend = " ".join(f'<span class="key" style="background:{_CODE_COLORS.get(c, "#999999")}"></span>{e(c)}'
                      for c in codes)
    examples = []
    for place, items in summary["examples"].items():
        for i, x in enumerate(items):
            where = f'{e(x["file"])}' + (f':{x["line"]}' if x["line"] is not None else "")
            examples.append(f'<tr><td>{e(place) if i == 0 else ""}</td><td>{where}</td><td>{e(x["type"])}</td>'
                            f'<td>{x["code"]}</td><td>{e(x["message"])}</td><td>{e(x["path"])}</td></tr>')
    texts = "".join(f'<tr><td class="num">{x["count"]:,}</td><td>{e(x["text"])}</td></tr>'
                    for x in summary["top_texts"])
    files = "".join(f'<tr><td>{e(f["file"])}</td><td class="num">{f["bytes"]:,}</td><td class="num">'
                    f'{f["messages"]:,}</td><td class="num">{f["failing"]:,}</td><td class="num">'
                    f'{f["input_errors"]:,}</td><td>{e(f.get("error", f["verdicts"]))}</td></tr>'
                    for f in summary["files"])
    unreadable = "".join(f"<li>{e(u)}</li>" for u in summary["unreadable"])
    return f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Message validation report</title>
<style>
body {{ font: 14px/1.4 sans-serif; margin: 2em; color: #222; }}
table {{ border-collapse: collapse; margin: 0.5em 0 1.5em; }}
th, td {{ border-bottom: 1px solid #ddd; padding: 3px 8px; text-align: left; vertical-align: top; }}
td.total, td.num {{ text-align: right; font-variant-numeric: tabular-nums; }}
svg.chart text {{ font: 12px sans-serif; fill: #222; }}
.key {{ display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 12px; }}
</style></head><body>
<h1>Message validation report</h1>
<h2>Totals</h2>
<table id="totals">{totals}</table>
<p>Validated in {t["seconds"]:,} s.</p>
{f"<h2>Unreadable inputs</h2><ul>{unreadable}</ul>" if unreadable else ""}
<h2>Failing places</h2>
<p>Verdicts that do not conform, by where they were decided (instance numbers left out).</p>
<div id="places">{place_chart}</div>
<h2>Codes by message type</h2>
<p>{legend}</p>
<div id="types">{type_chart}</div>
<h2>First examples of each failing place</h2>
<table id="examples"><tr><th>place</th><th>file:line</th><th>type</th><th>code</th><th>message</th><th>path</th></tr>
{"".join(examples)}</table>
<h2>Most frequent texts</h2>
<table id="texts"><tr><th>count</th><th>text</th></tr>{texts}</table>
<h2>Files</h2>
<table id="files"><tr><th>file</th><th>bytes</th><th>messages</th><th>not conforming</th><th>input errors</th>
<th>verdicts</th></tr>{files}</table>
</body></html>
"""


def _size(text):
    units = {"k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
    text = text.strip().lower()
    n = int(text[:-1]) * units[text[-1]] if text[-1:] in units else int(text)
    if n < 1:
        raise argparse.ArgumentTypeError("must be at least 1 byte")
    return n


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m en_validation.archive",
                                     description="Validate archives of captured messages with en-validate on Dask.")
    parser.add_argument("inputs", nargs="+", metavar="FILE|PATTERN",
                        help="JSON Lines (*.jsonl, *.ndjson, each also .gz) and message files; quote patterns for glob")
    parser.add_argument("--out", default="archive-report", metavar="DIR", help="output folder (default: archive-report)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="an existing Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="worker processes of the LocalCluster without --scheduler (default: one per processor)")
    parser.add_argument("--chunk-size", type=_size, default=DEFAULT_CHUNK, metavar="BYTES",
                        help="bytes of a JSON Lines file per task, cut at lines; k, M, G (default 32M)")
    parser.add_argument("--tool", metavar="PATH", default=os.environ.get("EN_VALIDATE") or shutil.which("en-validate"),
                        help="the en-validate program (default: $EN_VALIDATE, else en-validate on PATH)")
    parser.add_argument("--progress", action=argparse.BooleanOptionalAction, default=sys.stderr.isatty(),
                        help="a progress line on standard error (default: when it is a terminal)")
    args = parser.parse_args(argv)
    if not args.tool:
        parser.error("no en-validate: install it, or give --tool or EN_VALIDATE")
    args.tool = os.path.abspath(args.tool) if os.sep in args.tool else args.tool
    if args.workers < 1:
        parser.error("--workers must be at least 1")

    import logging
    import cloudpickle
    from distributed import Client, LocalCluster
    # The workers need en-validate and Dask, not this module.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])

    def report(text):
        sys.stderr.write(("\r\x1b[K" if args.progress else "") + f"archive: {text}\n")

    if args.scheduler:
        try:
            client = Client(args.scheduler, timeout=30)
        except (OSError, TimeoutError) as e:
            report(f"cannot reach the scheduler {args.scheduler}: {e}")
            return 2
        with client:
            return run(args, client, report)
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, Client(cluster) as client:
        return run(args, client, report)


if __name__ == "__main__":
    sys.exit(main())
