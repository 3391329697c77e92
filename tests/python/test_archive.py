# python3 -m en_validation.archive end to end, on loopback: a LocalCluster
# of two workers over JSON Lines (one of gzip data) and message files, byte
# for byte against en-validate (EN_VALIDATE) on each file; summary.json against a count of
# the verdict files; report.html as headless Chromium shows it; a worker
# killed during the run; the README's GNU parallel command.
import collections
import gzip
import html.parser
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
TOOL = os.environ.get("EN_VALIDATE", str(ROOT / "build/bin/en-validate"))
CASES = ROOT / "tests/conformance/cases.jsonl"
ENV = dict(os.environ, PYTHONPATH=str(ROOT / "tools/python"))


def archive(*args, **kw):
    return subprocess.Popen([sys.executable, "-m", "en_validation.archive", "--tool", TOOL, *map(str, args)],
                            env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def tool(*args):
    return subprocess.run([TOOL, *map(str, args)], stdout=subprocess.PIPE, timeout=60).stdout


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """Several files, one large (4 MB; also as gzip data larger than a
    chunk), with blank, bad and unterminated lines, and gzip data cut short."""
    d = tmp_path_factory.mktemp("inputs")
    cases = CASES.read_bytes()
    (d / "large.jsonl").write_bytes(cases * 4)
    (d / "day1.jsonl.gz").write_bytes(gzip.compress(cases * 4))
    (d / "cut.jsonl.gz").write_bytes((ROOT / "tests/tool/transcript/cut.jsonl.gz").read_bytes())
    (d / "cases.ndjson").write_bytes(cases)
    (d / "mixed.jsonl").write_bytes((ROOT / "tests/tool/transcript/mixed.jsonl").read_bytes() * 3)
    (d / "empty.jsonl").write_bytes(b"")
    (d / "status.blob").write_bytes((ROOT / "tests/tool/transcript/status.blob").read_bytes())
    (d / "event.json").write_bytes((ROOT / "examples/faulty/status-bad-time.json").read_bytes())
    (d / "unreadable.jsonl").mkdir()
    return d


def check_verdicts(inputs, out):
    for f in ["large.jsonl", "cases.ndjson", "mixed.jsonl", "empty.jsonl"]:
        assert (out / "verdicts" / f).read_bytes() == tool("--jsonl", inputs / f), f
    for f, plain in [("day1.jsonl", "large.jsonl"), ("cut.jsonl", "cut.jsonl.gz")]:
        assert (out / "verdicts" / f).read_bytes() == tool("--jsonl", inputs / plain), f
    messages = [str(inputs / f) for f in ["event.json", "status.blob"]]
    assert (out / "verdicts/messages.jsonl").read_bytes() == tool("--json", *messages)


class Shown(html.parser.HTMLParser):
    """What the page shows: the totals, the legend's colour of each code, and
    each chart's bars: label, count, colour and width of each part."""

    def __init__(self):
        super().__init__()
        self.totals, self.legend, self.charts = {}, {}, {}
        self.chart = self.bar = self.text = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "div" and a.get("id") in ("places", "types"):
            self.chart = self.charts.setdefault(a["id"], [])
        elif tag == "g" and self.chart is not None:
            self.bar = {"parts": []}
            self.chart.append(self.bar)
        elif tag == "text" and self.chart is not None:
            self.text = (self.bar, a.get("class", "label"))
        elif tag == "rect" and self.chart is not None:
            self.bar["parts"].append((a["fill"], float(a["width"])))
        elif tag == "td" and a.get("class") == "total":
            self.text = (self.totals, a["data-name"])
        elif tag == "span" and a.get("class") == "key":
            self.text = (self.legend, a["style"].partition(":")[2])

    def handle_endtag(self, tag):
        if tag == "div":
            self.chart = None

    def handle_data(self, data):
        if self.text and data.strip():
            (into, key), self.text = self.text, None
            into[key] = data.strip()


def test_archive_on_two_workers(inputs, tmp_path):
    run = archive("--workers", 2, "--chunk-size", "256k", "--out", tmp_path, f"{inputs}/*", inputs / "none.jsonl")
    _, err = run.communicate(timeout=240)
    assert run.returncode == 2, err  # lines that are not messages, unreadable inputs
    assert "unreadable.jsonl: cannot read: is a directory" in err and "none.jsonl: cannot read" in err
    assert f"{inputs}/cut.jsonl.gz: gzip data: cut short" in err
    check_verdicts(inputs, tmp_path)

    # summary.json against a count of the verdict files.
    summary = json.loads((tmp_path / "summary.json").read_text())
    codes, types, places, lines = collections.Counter(), collections.Counter(), collections.Counter(), {}
    for f in (tmp_path / "verdicts").iterdir():
        for line in f.read_text().splitlines():
            v = json.loads(line)
            code = str(v.get("code", "input error"))
            kind = v.get("type") or ("log %d" % v["msgtype"] if v.get("kind") == "log" else v.get("kind", code))
            codes[code] += 1
            types[kind, code] += 1
            if code not in ("0", "input error"):
                place = re.sub(r"\[\d+\]", "", v.get("path", "(no location)"))
                places[place] += 1
                lines.setdefault((f.name, v.get("line", v.get("file"))), v)
    assert summary["by_code"] == {c: n for c, n in codes.items()}
    assert {(k, c): n for k, v in summary["by_type"].items() for c, n in v.items()} == types
    assert summary["by_place"] == places
    t = summary["totals"]
    assert (t["files"], t["unreadable"], t["bytes"]) == (8, 2, sum(p.stat().st_size for p in inputs.glob("*.*")
                                                                   if p.is_file()))
    assert (t["messages"], t["failing"], t["input_errors"]) == (sum(codes.values()) - codes["input error"],
                                                               t["messages"] - codes["0"], codes["input error"])
    for place, examples in summary["examples"].items():
        for x in examples:  # each example is the verdict at its file and line
            name = os.path.basename(x["file"]).removesuffix(".gz") if x["line"] else "messages.jsonl"
            assert lines[name, x["line"] or x["file"]]["message"] == x["message"], (place, x)

    # report.html as the browser shows it.
    profile = tmp_path / "chromium-profile"
    dom = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                          "--no-first-run", "--disable-background-networking", "--disable-component-update",
                          "--disable-sync", f"--user-data-dir={profile}", "--dump-dom",
                          (tmp_path / "report.html").as_uri()],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=120).stdout
    shown = Shown()
    shown.feed(dom)
    number = lambda text: int(text.replace(",", ""))
    assert {k: number(v) for k, v in shown.totals.items()} == {
        "Files": 8, "Bytes": t["bytes"], "Messages": t["messages"], "Conforming": codes["0"],
        "Not conforming": t["failing"], "Input errors": t["input_errors"], "Unreadable inputs": 2}
    top = sorted(places.items(), key=lambda kv: (-kv[1], kv[0]))[:30]
    width = lambda n, most: pytest.approx(480 * n / most, abs=0.01)
    assert [(b["label"], number(b["count"]), [w for _, w in b["parts"]]) for b in shown.charts["places"]] == \
           [(p, n, [width(n, top[0][1])]) for p, n in top]
    color = {code: c for c, code in shown.legend.items()}
    most = max(sum(v.values()) for v in summary["by_type"].values())
    assert [(b["label"], number(b["count"]), b["parts"]) for b in shown.charts["types"]] == \
           [(k, sum(v.values()), [(color[c], width(n, most)) for c, n in v.items()]) for k, v in summary["by_type"].items()]


def test_worker_killed_during_the_run(inputs, tmp_path):
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        pids = client.run(os.getpid)
        run = archive("--scheduler", cluster.scheduler_address, "--chunk-size", "32k", "--out", tmp_path,
                      *[inputs / f for f in ["large.jsonl", "day1.jsonl.gz", "cut.jsonl.gz", "cases.ndjson",
                                             "mixed.jsonl", "empty.jsonl", "event.json", "status.blob"]])
        deadline, killed = time.monotonic() + 120, None
        while killed is None and time.monotonic() < deadline and run.poll() is None:
            for worker, keys in client.processing().items():
                if any("validate_range" in str(k) for k in keys):
                    os.kill(pids[worker], signal.SIGKILL)
                    killed = worker
                    break
            time.sleep(0.01)
        _, err = run.communicate(timeout=240)
        assert killed, "the run ended before a worker could be killed"
    assert run.returncode == 2, err  # mixed.jsonl has lines that are not messages
    check_verdicts(inputs, tmp_path)


def test_gnu_parallel_command_of_the_readme(tmp_path):
    command = re.search(r"^    \$ (parallel --pipe .*)$", (ROOT / "README.md").read_text(), re.M).group(1)
    (tmp_path / "captured.jsonl").write_bytes(CASES.read_bytes() * 3)
    subprocess.run(["bash", "-c", command.replace("en-validate ", f"{TOOL} ", 1)], cwd=tmp_path, timeout=120)
    assert (tmp_path / "verdicts.jsonl").read_bytes() == tool("--jsonl", tmp_path / "captured.jsonl")
